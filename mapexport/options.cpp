#include "mapexport/options.h"

#include "common/commandline.h"
#include "common/errortext.h"
#include "common/optiontable.h"

namespace mapexport {

namespace {

using common::options::Option;
using common::options::Refusal;

QString fromUtf8(const std::string& text)
{
    return QString::fromStdString(text);
}

Refusal refusal(const QString& text)
{
    return text.toStdString();
}

// The options, each storing what it takes in |into|.
std::vector<Option> optionTable(Options& into)
{
    return common::options::withHelpAndVersion({
        {"--folder", "DIR", "the folder that holds the tiles, instead of mymaps",
         [&into](const std::string& value) -> Refusal {
             into.folder = fromUtf8(value);
             return std::nullopt;
         }},
        {"--zoom", "Z", "only the tiles of zoom Z",
         [&into](const std::string& value) -> Refusal {
             bool ok = false;
             into.choice.zoom = fromUtf8(value).toDouble(&ok);
             if (!ok) {
                 return refusal(
                     QStringLiteral("--zoom takes a number, not \"%1\"").arg(fromUtf8(value)));
             }
             return std::nullopt;
         }},
        {"--type", "1|2", "only the tiles of map type 1 (letters E and U) or 2 (letter W)",
         [&into](const std::string& value) -> Refusal {
             if (value != "1" && value != "2") {
                 return refusal(
                     QStringLiteral("--type takes 1 or 2, not \"%1\"").arg(fromUtf8(value)));
             }
             into.choice.mapType = value == "1" ? 1 : 2;
             return std::nullopt;
         }},
        {"--source-id", "ID",
         "only the tiles drawn by the source ID (as listed where a folder\n"
         "holds tiles of several sources; \"\" for tiles that record none)",
         [&into](const std::string& value) -> Refusal {
             into.choice.source = fromUtf8(value);
             return std::nullopt;
         }},
        {"--attribution", "TEXT",
         "the map's credit in the file (default: the one the map service\n"
         "sent with the tiles, kept in their .gif.aux.xml)",
         [&into](const std::string& value) -> Refusal {
             into.attribution = fromUtf8(value);
             return std::nullopt;
         }},
        {"--tile-format", "auto|png|jpeg|webp",
         "how MBTiles, SQLiteDB, GeoPackage and PMTiles tiles are stored, all in one\n"
         "format (default auto: PNG for a drawn map, JPEG for photographs or\n"
         "shading, chosen from the first tiles cut)",
         [&into](const std::string& value) -> Refusal {
             if (value != "auto" && value != "png" && value != "jpeg" && value != "webp") {
                 return refusal(
                     QStringLiteral("--tile-format takes auto, png, jpeg or webp, not \"%1\"")
                         .arg(fromUtf8(value)));
             }
             into.settings.tiles = value == "png"    ? TileFormat::Png
                                   : value == "jpeg" ? TileFormat::Jpeg
                                   : value == "webp" ? TileFormat::Webp
                                                     : TileFormat::Auto;
             return std::nullopt;
         }},
        {"--no-page", "", "with OUTPUT.pmtiles, leave out the page OUTPUT.html that shows it",
         [&into](const std::string&) -> Refusal {
             into.settings.page = false;
             return std::nullopt;
         }},
        {"--max-images", "N",
         "the most overlay images of a KMZ (default 100, what Garmin units take;\n"
         "more halves the resolution until they fit, to 1/64 at most)",
         [&into](const std::string& value) -> Refusal {
             bool ok = false;
             into.settings.maxImages = fromUtf8(value).toInt(&ok);
             if (!ok || into.settings.maxImages < 1) {
                 return refusal(
                     QStringLiteral("--max-images takes a whole number from 1, not \"%1\"")
                         .arg(fromUtf8(value)));
             }
             return std::nullopt;
         }},
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
