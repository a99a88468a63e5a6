#pragma once

// Everything Pelagrin tells the user, in one place: the texts of its message boxes and of the
// reasons they give.
#include "pelagrin/settings.h"

#include <QString>

#include <optional>

namespace pelagrin {

// At start-up.

inline const QString decimalCommaMessage = QStringLiteral(
    "Your system seems not to be up-to-date. Some applications would display , instead of a . "
    "and may also calculate wrong this way. This will not harm the use of Pelagrin, but for your "
    "own interest, you should install the latest service-packs and bugfixes from microsoft to "
    "allow other programms from executing right. For now you can go on.");

inline const QString noConnectionMessage = QStringLiteral(
    "Pelagrin was unable to connect directly to the internet. Please be sure that you have "
    "direct internet access, administrive rights (the MSINET.OCX must be registered -> regsvr32 "
    "MSINET.OCX) and no firewall which blocks the traffic. This programm should work on a "
    "Windows XP machine with Direct Internet Access, All Firewalls disabled and administrative "
    "rights. Pelagrin will now quit.");

inline const QString zoomLimitMessage = QStringLiteral("You must set to zoom 3000 or below");

// The working folder holds the preview file and the tile folder; without it nothing works.
QString unwritableFolderMessage(const QString& folder, const QString& reason);

// Corners and regions.

// Confirmations of a stored corner; the numbers keep numtext's leading blank, so a
// non-negative one follows two blanks.
QString beginCornerMessage(double beginlat, double beginlong);
QString endCornerMessage(double endlat, double endlong);

inline const QString zeroStepMessage = QStringLiteral(
    "No region can be downloaded at this zoom: the tiles would lie 0 degrees apart. Please set a "
    "zoom other than 0 with \"Set to Begin Region\".");

inline const QString regionTooLargeMessage = QStringLiteral(
    "This region would need more than a million tiles in one direction. Please choose a smaller "
    "region or a larger zoom.");

// The divisor box headed |heading| holds no number.
QString divisorNotANumberMessage(const QString& heading);

// A region some (|present| of |total|) or all of whose tiles are already in |folder|; of the
// others, |otherSource| are there, drawn by another source than the service's now.
QString someTilesPresentQuestion(qint64 present, qint64 total, const QString& folder,
                                 qint64 otherSource = 0);
QString allTilesPresentQuestion(qint64 total, const QString& folder);

QString regionStartMessage(const MapSettings& settings, qint64 tilecount);
QString regionProgressText(qint64 donecount, qint64 tilecount);
QString regionReadyMessage(qint64 donecount);

// Fetching and storing pictures.

// What the user is told when a tile fails for good and the run stops.
QString tileFailedMessage(const QString& path, const QString& reason);

// The single picture of "Save single HiRes BMP" could not be stored at |path|.
// The image is in place, its world file or auxiliary file not.
QString imageSavedUnplacedMessage(const QString& path, const QString& reason);
QString imageNotSavedMessage(const QString& path);

// Why a fetch from the map service at |service| failed.
QString serviceErrorText(const QString& service, int status, const QString& reason);
QString connectionRefusedText(const QString& service);
QString hostNotFoundText(const QString& host);
QString noAnswerInTimeText(const QString& service);
QString cutShortText(const QString& service);
// A body that is no whole GIF: what came instead (its content type and size).
QString notWholePictureText(const QString& service, const QString& contentType, qint64 bytes);
QString tooLargeText(const QString& service, const QString& contentType, qint64 limit);
QString wrongSizeText(const QString& service, int width, int height, int wantedWidth,
                      int wantedHeight);
QString redirectedElsewhereText(const QString& service, const QString& target);
QString tooManyRedirectsText(const QString& service, int hops);
QString fetchFailedText(const QString& service, const QString& error);
QString invalidAddressText(const QString& url);

// The region along a route.

// The route file |name| gives no region: |why| says what is wrong with it.
QString routeUnreadableMessage(const QString& name, const QString& why);
inline const QString routeNoFileText = QStringLiteral("it cannot be opened as a file");
inline const QString routeDtdText = QStringLiteral(
    "it declares a document type or entities, which Pelagrin does not read in a route");
inline const QString routeNotGpxOrKmlText = QStringLiteral("it is no GPX, KML or KMZ file");
inline const QString routeNoLineText = QStringLiteral(
    "it holds no track, route or line with a usable point (waypoints alone make no route)");
inline const QString routeBadZipText = QStringLiteral("it is no readable KMZ (zip) archive");
inline const QString routeNoKmlText = QStringLiteral("the KMZ archive holds no KML file");
QString routeTooLargeText(qint64 limit);
QString routeTooManyPointsText(qint64 limit);
QString routeXmlErrorText(const QString& error, qint64 line);
// Points of a route read whose coordinates were no finite numbers or out of range.
QString routeSkippedMessage(qint64 skipped, const QString& name);
inline const QString routeWidthMessage =
    QStringLiteral("The width of a route's region must be a number of km from 0.1 to 100.");

// The line under the picture that tells the region: |columns| x |rows| tiles of the grid, of
// which |tiles| are the region's and |stored| already stored; the size and time a download of
// the others is expected to take, where known.
QString regionLineText(qint64 columns, qint64 rows, qint64 tiles, qint64 stored,
                       std::optional<double> bytes, std::optional<double> seconds);
// After a download: what was expected and what came.
QString estimateAfterText(double estimatedBytes, double fetchedBytes);

// Refreshing stored tiles that have aged.
inline const QString refreshOlderButton = QStringLiteral("Refresh older");
// Added to the question about tiles in place: |old| of them are older than |days| days.
QString refreshOlderText(qint64 old, int days);
// Tiles that were to be refreshed and failed; the old ones stay.
QString refreshFailedMessage(qint64 failed);

} // namespace pelagrin
