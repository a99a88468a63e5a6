#include "mapexport/options.h"

#include "common/errortext.h"

namespace mapexport {

namespace {

common::Error refusal(const QString& reason)
{
    return common::makeError(common::ErrorKind::BadInput, reason + u'\n' + usageText, 2);
}

} // namespace

common::Result<Options> parseOptions(const QStringList& arguments)
{
    Options options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == u"--folder" && hasValue) {
            options.folder = arguments[++i];
        } else if (argument == u"--zoom" && hasValue) {
            bool ok = false;
            options.choice.zoom = arguments[++i].toDouble(&ok);
            if (!ok) {
                return refusal(
                    QStringLiteral("--zoom takes a number, not \"%1\"").arg(arguments[i]));
            }
        } else if (argument == u"--type" && hasValue) {
            const QString& type = arguments[++i];
            if (type != u"1" && type != u"2") {
                return refusal(QStringLiteral("--type takes 1 or 2, not \"%1\"").arg(type));
            }
            options.choice.mapType = type.toInt();
        } else if (argument == u"--attribution" && hasValue) {
            options.attribution = arguments[++i];
        } else if (argument == u"--max-images" && hasValue) {
            bool ok = false;
            options.settings.maxImages = arguments[++i].toInt(&ok);
            if (!ok || options.settings.maxImages < 1) {
                return refusal(
                    QStringLiteral("--max-images takes a whole number from 1, not \"%1\"")
                        .arg(arguments[i]));
            }
        } else if (argument == u"--tile-format" && hasValue) {
            const QString& format = arguments[++i];
            if (format == u"auto" || format == u"png" || format == u"jpeg") {
                options.settings.tiles = format == u"png"    ? TileFormat::Png
                                         : format == u"jpeg" ? TileFormat::Jpeg
                                                             : TileFormat::Auto;
            } else {
                return refusal(QStringLiteral("--tile-format takes auto, png or jpeg, not \"%1\"")
                                   .arg(format));
            }
        } else if (!argument.startsWith(u"--") && options.output.isEmpty()) {
            options.output = argument;
        } else {
            return refusal(QStringLiteral("unknown or incomplete argument \"%1\"").arg(argument));
        }
    }
    if (options.output.isEmpty()) {
        return refusal(QStringLiteral("no OUTPUT named"));
    }
    const auto format = formatOf(options.output);
    if (!format) {
        return refusal(
            QStringLiteral("OUTPUT must end in .mbtiles, .sqlitedb, .gpkg, .kmz, .tif or .tiff: %1")
                .arg(options.output));
    }
    options.format = *format;
    return options;
}

} // namespace mapexport
