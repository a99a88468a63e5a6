#include "mapexport/options.h"

#include "common/commandline.h"
#include "common/errortext.h"
#include "common/optiontable.h"

#include <limits>

namespace mapexport {

namespace {

using common::options::choiceOption;
using common::options::decimalOption;
using common::options::Option;
using common::options::Refusal;
using common::options::textOption;
using common::options::wholeOption;

constexpr double inf = std::numeric_limits<double>::infinity();

QString fromUtf8(const std::string& text)
{
    return QString::fromStdString(text);
}

// The options, each storing what it takes in |into|.
std::vector<Option> optionTable(Options& into)
{
    return common::options::withHelpAndVersion({
        textOption("--folder", "DIR", "the folder that holds the tiles, instead of mymaps", "",
                   [&into](const std::string& value) { into.folder = fromUtf8(value); }),
        decimalOption("--zoom", "Z", "only the tiles of zoom Z", -inf, inf, "",
                      [&into](double zoom) { into.choice.zoom = zoom; }),
        choiceOption(
            "--type", {"1", "2"}, "only the tiles of map type 1 (letters E and U) or 2 (letter W)",
            "", [&into](const std::string& type) { into.choice.mapType = type == "1" ? 1 : 2; }),
        textOption("--source-id", "ID",
                   "only the tiles drawn by the source ID (as listed where a folder\n"
                   "holds tiles of several sources; \"\" for tiles that record none)",
                   "", [&into](const std::string& value) { into.choice.source = fromUtf8(value); }),
        textOption("--attribution", "TEXT",
                   "the map's credit in the file (default: the one the map service\n"
                   "sent with the tiles, kept in their .gif.aux.xml)",
                   "", [&into](const std::string& value) { into.attribution = fromUtf8(value); }),
        choiceOption("--tile-format", {"auto", "png", "jpeg", "webp"},
                     "how MBTiles, SQLiteDB, GeoPackage and PMTiles tiles are stored, all\n"
                     "in one format (auto: PNG for a drawn map, JPEG for photographs or\n"
                     "shading, chosen from the first tiles cut)",
                     "auto",
                     [&into](const std::string& value) {
                         into.settings.tiles = value == "png"    ? TileFormat::Png
                                               : value == "jpeg" ? TileFormat::Jpeg
                                               : value == "webp" ? TileFormat::Webp
                                                                 : TileFormat::Auto;
                     }),
        {"--no-page", "", "with OUTPUT.pmtiles, leave out the page OUTPUT.html that shows it",
         [&into](const std::string&) -> Refusal {
             into.settings.page = false;
             return std::nullopt;
         }},
        wholeOption("--max-images", "N",
                    "the most overlay images of a KMZ (what Garmin units take; more\n"
                    "halves the resolution until they fit, to 1/64 at most)",
                    1, inf, std::to_string(Options().settings.maxImages),
                    [&into](long n) { into.settings.maxImages = static_cast<int>(n); }),
    });
}

common::Error refused(const QString& reason)
{
    return common::makeError(common::ErrorKind::BadInput, reason + u'\n' + usageText, 2);
}

} // namespace

const QString usageText =
    common::usageLine(QStringLiteral("mapexport"), common::options::shownTable(optionTable),
                      QStringLiteral(" OUTPUT"));
const QString helpText = common::helpText(
    usageText,
    QStringLiteral("Writes the tiles of the folder mymaps in the working folder as one file, each "
                   "tile\n"
                   "placed exactly where the map service drew it:\n") +
        formatHelp() +
        QStringLiteral("Where tiles overlap, the one whose centre is nearer wins. An existing "
                       "OUTPUT is replaced\n"
                       "only when the new file is whole.\n"),
    common::options::shownTable(optionTable), 16);

common::Result<Options> parseOptions(const QStringList& arguments)
{
    Options options;
    common::options::Wording wording;
    wording.unknown = [](const std::string& argument) {
        return QStringLiteral("unknown or incomplete argument \"%1\"")
            .arg(fromUtf8(argument))
            .toStdString();
    };
    const Refusal refusedArgument =
        common::parseArguments(optionTable(options), arguments, wording,
                               [&options, &wording](const std::string& argument) -> Refusal {
                                   if (!options.output.isEmpty()) {
                                       return wording.unknown(argument);
                                   }
                                   options.output = fromUtf8(argument);
                                   return std::nullopt;
                               });
    if (refusedArgument) {
        return refused(fromUtf8(*refusedArgument));
    }
    if (options.output.isEmpty()) {
        return refused(QStringLiteral("no OUTPUT named"));
    }
    const auto format = formatOf(options.output);
    if (!format) {
        return refused(
            QStringLiteral("OUTPUT must end in %1: %2").arg(formatEndings(), options.output));
    }
    options.format = *format;
    return options;
}

} // namespace mapexport
