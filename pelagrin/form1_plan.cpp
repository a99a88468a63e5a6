// Planning a region on the downloader window: a drag on the picture, a route, the outline of
// the region's tiles and the line that tells its size.
#include "common/errortext.h"
#include "common/pictureview.h"
#include "common/tilefolder.h"
#include "pelagrin/corridor.h"
#include "pelagrin/form1.h"
#include "pelagrin/messages.h"
#include "pelagrin/regionmarks.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QtConcurrent/QtConcurrentRun>

#include <type_traits>

namespace pelagrin {

template <typename Work, typename Done> void Form1::offLoop(Work work, Done done)
{
    using Value = std::invoke_result_t<Work>;
    auto* watcher = new QFutureWatcher<Value>(this);
    ++planWork_;
    connect(watcher, &QFutureWatcherBase::finished, this,
            [this, watcher, done = std::move(done)]() mutable {
                --planWork_;
                watcher->deleteLater();
                if (state_.activity != Activity::Closed) {
                    done(watcher->future().takeResult());
                }
            });
    watcher->setFuture(QtConcurrent::run(&planPool_, std::move(work)));
}

void Form1::Image1_Drag(QPoint from, QPoint to)
{
    const QSize size = Image1->shownSize();
    if (!shown_ || size.isEmpty() || state_.activity == Activity::Region ||
        state_.activity == Activity::Closed) {
        return;
    }
    // A drag is no click: the centre boxes stay as they were before the press.
    Text1->setText(pressedText1_);
    Text2->setText(pressedText2_);
    readsettings();
    if (settings_.zoom > maxBeginZoom) {
        dialogs_.message(zoomLimitMessage);
        return;
    }
    const Corners c = dragCorners(*shown_, from, to, size.width(), size.height(), settings_.zoom);
    settings_.beginlat = c.beginlat;
    settings_.beginlong = c.beginlong;
    settings_.endlat = c.endlat;
    settings_.endlong = c.endlong;
    beginSet_ = true;
    endSet_ = true;
    route_.reset();
    state_.zoomLocked = true;
    state_.startArmed = true;
    applyState();
    boxesChanged();
}

void Form1::Command8_Click()
{
    const QString path = dialogs_.openFile(
        QStringLiteral("Route"), QStringLiteral("Routes (*.gpx *.kml *.kmz);;All files (*)"));
    if (!path.isEmpty()) {
        useRoute(path, routeWidth().value_or(defaultRouteWidthKm), std::nullopt);
    }
}

void Form1::useRoute(const QString& path, double widthKm, std::optional<double> zoom)
{
    if (!(widthKm >= minRouteWidthKm && widthKm <= maxRouteWidthKm)) {
        dialogs_.message(routeWidthMessage);
        return;
    }
    Text6->setText(QString::number(widthKm));
    if (zoom) {
        Text5->setText(QString::number(*zoom));
    }
    offLoop([path] { return readRoute(path); },
            [this, path](common::Result<Route> route) { routeRead(path, std::move(route)); });
}

void Form1::routeRead(const QString& path, common::Result<Route> route)
{
    if (!route) {
        dialogs_.message(common::errorText(route.error()));
        return;
    }
    const QString name = QFileInfo(path).fileName();
    if (route->skipped > 0) {
        dialogs_.message(routeSkippedMessage(route->skipped, name));
    }
    route_ = std::make_shared<const ChosenRoute>(ChosenRoute{continuousRoute(*route), name});
    beginSet_ = false;
    endSet_ = false;
    state_.zoomLocked = false;
    state_.startArmed = true;
    applyState();
    boxesChanged();
}

std::optional<double> Form1::routeWidth() const
{
    const auto width = localeDivisor(QString(Text6->text()).replace(u',', u'.'), QLocale::c());
    if (!width || !(*width >= minRouteWidthKm && *width <= maxRouteWidthKm)) {
        return std::nullopt;
    }
    return width;
}

std::optional<RegionSteps> Form1::quietSteps(double zoom) const
{
    const auto divisorb = localeDivisor(Text3->text());
    const auto divisorl = localeDivisor(Text4->text());
    if (!divisorb || !divisorl) {
        return std::nullopt;
    }
    const RegionSteps steps{zoom / *divisorb, zoom / *divisorl};
    if (!usableStep(steps.latitude) || !usableStep(steps.longitude)) {
        return std::nullopt;
    }
    return steps;
}

void Form1::boxesChanged()
{
    afterRun_.clear();
    regionChanged();
}

void Form1::regionChanged()
{
    if (state_.activity == Activity::Region || state_.activity == Activity::Closed) {
        return;
    }
    if (planCancel_) {
        *planCancel_ = true; // a count for the region before is of no use any more
    }
    const quint64 generation = ++planGeneration_;
    MapSettings s = settings_;
    std::optional<double> width;
    if (route_) {
        pelagrin::readsettings(s,
                               {Option1->isChecked(), Text1->text(), Text2->text(), Text5->text()});
        width = routeWidth();
    }
    const auto steps = quietSteps(s.zoom);
    if (!steps || (route_ ? !width : !(beginSet_ && endSet_))) {
        planned_.reset();
        showRegion();
        return;
    }
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    planCancel_ = cancel;
    const QDateTime olderThan = QDateTime::currentDateTimeUtc().addDays(-refreshDays_);
    offLoop(
        [s, steps = *steps, route = route_, width = width.value_or(0), host = serviceAddress_,
         folder = common::TileFolder::lookUp(), sources = sources_, olderThan,
         cancel]() mutable -> std::optional<Planned> {
            auto choice =
                chooseRegion(s, steps, route ? &route->route : nullptr, width, host, folder);
            if (!choice) {
                return std::nullopt;
            }
            StoredScan scan =
                scanStored(choice->plan, choice->positions, sources, olderThan, *cancel);
            return Planned{std::move(choice).value(), std::move(scan)};
        },
        [this, generation](std::optional<Planned> planned) {
            if (generation != planGeneration_) {
                return; // planned for boxes that have changed since
            }
            planned_ = std::move(planned);
            showRegion();
        });
}

EstimateBasis Form1::estimateBasis() const
{
    EstimateBasis basis;
    if (planned_) {
        basis.storedSizes = planned_->scan.sizes;
    }
    basis.lastFetchedSizes = lastFetchedSizes_;
    basis.previewBytesPerPixel = previewBytesPerPixel_;
    basis.downloadRate = rate_.bytesPerSecond();
    basis.previewRate = previewRate_;
    return basis;
}

void Form1::showRegion()
{
    if (!planned_) {
        Image1->setMarks({});
        Label7->setText(afterRun_);
        return;
    }
    const RegionChoice& choice = planned_->choice;
    Image1->setMarks(shown_ ? regionMarks(choice.plan, choice.positions, planned_->scan, *shown_)
                            : std::vector<common::PictureMark>{});
    const qint64 tiles = choice.tilecount();
    const auto stored = static_cast<qint64>(planned_->scan.stored.size());
    // Nothing to download: no cost to tell.
    const Estimate estimate =
        tiles > stored ? estimateDownload(tiles - stored, estimateBasis()) : Estimate{};
    QString line = regionLineText(static_cast<qint64>(choice.plan.longitudes().size()),
                                  static_cast<qint64>(choice.plan.latitudes().size()), tiles,
                                  stored, estimate.bytes, estimate.seconds);
    if (!afterRun_.isEmpty()) {
        line += QStringLiteral("; ") + afterRun_;
    }
    Label7->setText(line);
}

} // namespace pelagrin
