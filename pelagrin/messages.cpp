#include "pelagrin/messages.h"

#include "common/errortext.h"
#include "common/numtext.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace pelagrin {

using common::numtext;

QString unwritableFolderMessage(const QString& folder, const QString& reason)
{
    return QStringLiteral("Pelagrin cannot write into its working folder %1 (%2). It keeps its "
                          "preview and the folder MyMaps there. Pelagrin will now quit.")
        .arg(folder, reason);
}

QString beginCornerMessage(double beginlat, double beginlong)
{
    return QStringLiteral("OK. Start is Breitengrad ") + numtext(beginlat) +
           QStringLiteral(" and Längengrad ") + numtext(beginlong);
}

QString endCornerMessage(double endlat, double endlong)
{
    return QStringLiteral("OK. End is Breitengrad ") + numtext(endlat) +
           QStringLiteral(" and Längengrad ") + numtext(endlong);
}

QString divisorNotANumberMessage(const QString& heading)
{
    return QStringLiteral("The value of \"%1\" is not a number. Please enter the number of tiles "
                          "per zoom unit, for example 45.")
        .arg(heading);
}

QString someTilesPresentQuestion(qint64 present, qint64 total, const QString& folder,
                                 qint64 otherSource)
{
    QString question =
        QStringLiteral("%1 of %2 tiles of this region are already in %3. Download only the %4 "
                       "missing ones?")
            .arg(present)
            .arg(total)
            .arg(folder)
            .arg(total - present);
    if (otherSource > 0) {
        question += QStringLiteral(" %1 of them %2 from another source and will be replaced.")
                        .arg(otherSource)
                        .arg(otherSource == 1 ? QStringLiteral("is") : QStringLiteral("are"));
    }
    return question;
}

QString allTilesPresentQuestion(qint64 total, const QString& folder)
{
    return QStringLiteral("All %1 tiles of this region are already in %2. Download them all again?")
        .arg(total)
        .arg(folder);
}

QString regionStartMessage(const MapSettings& s, qint64 tilecount)
{
    return QStringLiteral("Starting download from ") + numtext(s.beginlat) + u',' +
           numtext(s.beginlong) + QStringLiteral(" to ") + numtext(s.endlat) + u',' +
           numtext(s.endlong) + QStringLiteral(". This will make ") +
           numtext(static_cast<double>(tilecount)) + QStringLiteral(" images in this zoom mode!");
}

QString regionProgressText(qint64 donecount, qint64 tilecount)
{
    const double percent = static_cast<double>(donecount) / static_cast<double>(tilecount) * 100;
    return numtext(static_cast<double>(donecount)) + u' ' + numtext(percent).left(5) +
           QStringLiteral("% of ") + numtext(static_cast<double>(tilecount)) +
           QStringLiteral(" images total");
}

QString regionReadyMessage(qint64 donecount)
{
    return QStringLiteral("Ready. ") + numtext(static_cast<double>(donecount)) +
           QStringLiteral(" images have been downloaded for you");
}

QString tileFailedMessage(const QString& path, const QString& reason)
{
    return QStringLiteral("The tile %1 could not be downloaded. %2 The download stops here.")
        .arg(path, reason);
}

namespace {

QString contentTypeOrNone(const QString& contentType)
{
    return contentType.isEmpty() ? QStringLiteral("no content type") : contentType;
}

} // namespace

QString notWholePictureText(const QString& service, const QString& contentType, qint64 bytes)
{
    return QStringLiteral("The map service at %1 sent no whole GIF image but %2 bytes of %3.")
        .arg(service)
        .arg(bytes)
        .arg(contentTypeOrNone(contentType));
}

QString tooLargeText(const QString& service, const QString& contentType, qint64 limit)
{
    return QStringLiteral("The map service at %1 sent more than %2 MB of %3, more than any map "
                          "image holds.")
        .arg(service)
        .arg(limit >> 20)
        .arg(contentTypeOrNone(contentType));
}

QString wrongSizeText(const QString& service, int width, int height, int wantedWidth,
                      int wantedHeight)
{
    if (width == wantedWidth && height == wantedHeight) {
        return QStringLiteral("The map service at %1 sent a GIF image of %2 x %3 pixels whose "
                              "picture does not fill it.")
            .arg(service)
            .arg(width)
            .arg(height);
    }
    return QStringLiteral("The map service at %1 sent a GIF image of %2 x %3 pixels, not the "
                          "%4 x %5 asked for.")
        .arg(service)
        .arg(width)
        .arg(height)
        .arg(wantedWidth)
        .arg(wantedHeight);
}

QString redirectedElsewhereText(const QString& service, const QString& target)
{
    return QStringLiteral("The map service at %1 sent the request on to another host, %2, "
                          "which is not followed.")
        .arg(service, target);
}

QString tooManyRedirectsText(const QString& service, int hops)
{
    return QStringLiteral("The map service at %1 sent the request on more than %2 times.")
        .arg(service)
        .arg(hops);
}

QString imageSavedUnplacedMessage(const QString& path, const QString& reason)
{
    return QStringLiteral("The image %1 was saved, but the files beside it that place it on the "
                          "map (.gfw, .gif.aux.xml) were not. %2")
        .arg(path, reason);
}

QString imageNotSavedMessage(const QString& path)
{
    return QStringLiteral("The image %1 could not be saved.").arg(path);
}

QString serviceErrorText(const QString& service, int status, const QString& reason)
{
    return QStringLiteral("The map service at %1 answered with an error (HTTP %2 %3).")
        .arg(service)
        .arg(status)
        .arg(reason)
        .replace(QStringLiteral(" )"), QStringLiteral(")"));
}

QString connectionRefusedText(const QString& service)
{
    return QStringLiteral("The map service at %1 refused the connection. Is it running?")
        .arg(service);
}

QString hostNotFoundText(const QString& host)
{
    return QStringLiteral("The map service host %1 was not found.").arg(host);
}

QString noAnswerInTimeText(const QString& service)
{
    return QStringLiteral("The map service at %1 did not answer in time.").arg(service);
}

QString cutShortText(const QString& service)
{
    return QStringLiteral("The map service at %1 closed the connection before the image was "
                          "complete.")
        .arg(service);
}

QString fetchFailedText(const QString& service, const QString& error)
{
    return QStringLiteral("The map image could not be fetched from %1: %2").arg(service, error);
}

QString invalidAddressText(const QString& url)
{
    return QStringLiteral("The map address \"%1\" is not valid.").arg(url);
}

QString routeUnreadableMessage(const QString& name, const QString& why)
{
    return QStringLiteral("The route \"%1\" gives no region: %2.")
        .arg(common::printable(name), why);
}

QString routeTooLargeText(qint64 limit)
{
    return QStringLiteral("it is larger than %1 MB").arg(limit / 1000 / 1000);
}

QString routeTooManyPointsText(qint64 limit)
{
    return QStringLiteral("it holds more than %1 points").arg(QLocale::c().toString(limit));
}

QString routeXmlErrorText(const QString& error, qint64 line)
{
    return QStringLiteral("it is no well-formed XML (line %1: %2)")
        .arg(line)
        .arg(common::printable(error));
}

QString routeSkippedMessage(qint64 skipped, const QString& name)
{
    return QStringLiteral("%1 %2 of the route \"%3\" had coordinates that are no numbers or out "
                          "of range and %4 left out.")
        .arg(skipped)
        .arg(skipped == 1 ? QStringLiteral("point") : QStringLiteral("points"),
             common::printable(name),
             skipped == 1 ? QStringLiteral("was") : QStringLiteral("were"));
}

namespace {

// Megabytes as an estimate gives them: one decimal below 10, whole ones above.
QString megabytes(double bytes)
{
    const double mb = bytes / 1e6;
    return mb < 10 ? QString::number(mb, 'f', 1) : QString::number(std::llround(mb));
}

} // namespace

QString regionLineText(qint64 columns, qint64 rows, qint64 tiles, qint64 stored,
                       std::optional<double> bytes, std::optional<double> seconds)
{
    QString line = QStringLiteral("%1 x %2 = %3 tiles, %4 already stored")
                       .arg(columns)
                       .arg(rows)
                       .arg(tiles)
                       .arg(stored);
    if (bytes) {
        line += QStringLiteral("; about %1 MB").arg(megabytes(*bytes));
        if (seconds) {
            const auto minutes = std::max<long long>(1, std::llround(std::ceil(*seconds / 60)));
            line += QStringLiteral(" and about %1 min").arg(minutes);
        }
        line += QStringLiteral(" to download");
    }
    return line;
}

QString estimateAfterText(double estimatedBytes, double fetchedBytes)
{
    return QStringLiteral("estimate was %1 MB, fetched %2 MB")
        .arg(megabytes(estimatedBytes), megabytes(fetchedBytes));
}

QString refreshOlderText(qint64 old, int days)
{
    return QStringLiteral("\n%1 of the stored tiles %2 older than %3 days: \"%4\" asks for "
                          "them again too and keeps each one the map service says is unchanged.")
        .arg(old)
        .arg(old == 1 ? QStringLiteral("is") : QStringLiteral("are"))
        .arg(days)
        .arg(refreshOlderButton);
}

QString refreshFailedMessage(qint64 failed)
{
    return failed == 1
               ? QStringLiteral("1 tile could not be refreshed and was kept")
               : QStringLiteral("%1 tiles could not be refreshed and were kept").arg(failed);
}

} // namespace pelagrin
