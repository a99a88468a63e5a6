#include "pelagrin/form1.h"

#include "common/atomicfile.h"
#include "common/controls.h"
#include "common/errortext.h"
#include "common/numtext.h"
#include "common/picture.h"
#include "common/pictureview.h"
#include "common/tilefolder.h"
#include "common/twips.h"
#include "common/worldfile.h"
#include "pelagrin/corners.h"
#include "pelagrin/messages.h"
#include "pelagrin/requesturl.h"
#include "pelagrin/startup.h"
#include "pelagrin/tilename.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <utility>

namespace pelagrin {

Form1::Form1(QString serviceAddress, common::Dialogs& dialogs, int transferTimeoutMs,
             QWidget* parent)
    : QWidget(parent), serviceAddress_(std::move(serviceAddress)), dialogs_(dialogs),
      fetcher_(transferTimeoutMs)
{
    setObjectName(QStringLiteral("Form1"));
    planPool_.setMaxThreadCount(1);
    setWindowTitle(QStringLiteral("Pelagrin by Ambrel"));
    createControls();
    placeControls();
    setTabOrder();
    connectHandlers();
    applyState();
}

Form1::~Form1()
{
    if (planCancel_) {
        *planCancel_ = true;
    }
    planPool_.waitForDone();
}

std::optional<int> Form1::Form_Load()
{
    settings_ = MapSettings{};
    state_ = WindowState{};
    applyState();
    Text1->setText(localeNumberText(settings_.centre.latitude));
    Text2->setText(localeNumberText(settings_.centre.longitude));
    Text5->setText(localeNumberText(settings_.zoom));
    Option1->setChecked(true);

    const bool firstStart = !common::findTileFolder().has_value();
    if (firstStart && Text1->text().contains(u',')) {
        dialogs_.message(decimalCommaMessage);
    }
    common::TileFolder::ensure();
    Text1->setText(withDecimalPoint(Text1->text()));
    Text2->setText(withDecimalPoint(Text2->text()));

    if (const common::Status writable = common::folderWritable(QStringLiteral(".")); !writable) {
        const QString here = QDir::currentPath(); // empty when the folder has gone
        dialogs_.message(unwritableFolderMessage(here.isEmpty() ? QStringLiteral(".") : here,
                                                 common::errorText(writable.error())));
        return 1;
    }
    // What an earlier run that was killed while writing left behind.
    common::removeStaleTemporaries(QStringLiteral("."));
    common::removeStaleTemporaries(common::TileFolder::lookUp().path());

    // The connection test: the start-up preview, made from the start-up settings.
    fetch(previewSide, generateurl(modePreview), previewFile, {},
          [this](const common::Status& ended) { connectionTestEnded(ended); });
    return std::nullopt;
}

// Any failure to fetch counts as no connection, like a preview too short to be a map.
void Form1::connectionTestEnded(const common::Status& fetched)
{
    if (!fetched || QFileInfo(previewFile).size() < minimumPreviewBytes) {
        // A failure for good (a redirect to another host, a 4xx status) is the service's own
        // doing, which no network setting mends: its reason follows, naming where it pointed.
        const bool forGood = !fetched && fetched.error().kind == common::ErrorKind::Permanent;
        dialogs_.message(noConnectionMessage +
                         QStringLiteral("\nMap service: http://%1/").arg(serviceAddress_) +
                         (forGood ? u'\n' + common::errorText(fetched.error()) : QString()));
        QFile::remove(previewFile);
        emit ended(1);
        return;
    }
    if (const common::Status shown = RefreshMe(); !shown) {
        report(common::errorText(shown.error()));
    }
    emit ready();
}

void Form1::Form_Unload()
{
    QFile::remove(previewFile);
}

void Form1::closeEvent(QCloseEvent* event)
{
    // What is under way is cancelled: a tile or preview still arriving leaves its file as it
    // was, and nothing more is told.
    state_.activity = Activity::Closed;
    settings_.abortflag = 1;
    pending_.reset();
    run_.reset();
    applyState();
    Form_Unload();
    event->accept();
}

void Form1::Text3_Change()
{
    const QString text = offsetRule(Text3->text());
    if (text != Text3->text()) {
        Text3->setText(text);
    }
}

void Form1::Text4_Change()
{
    const QString text = offsetRule(Text4->text());
    if (text != Text4->text()) {
        Text4->setText(text);
    }
}

common::Status Form1::RefreshMe()
{
    return showPicture(previewFile);
}

common::Status Form1::showPicture(const QString& path)
{
    const auto picture = common::loadPicture(path);
    if (!picture) {
        return picture.error();
    }
    Image1->setPicture(QPixmap::fromImage(*picture));
    return {};
}

void Form1::readsettings()
{
    pelagrin::readsettings(settings_,
                           {Option1->isChecked(), Text1->text(), Text2->text(), Text5->text()});
}

// The window's request: the map code correction stays in the settings, as every request of
// the window leaves it.
QString Form1::generateurl(int mode)
{
    correctMapcode(settings_);
    return pelagrin::generateurl(settings_, mode, serviceAddress_);
}

void Form1::report(const QString& text)
{
    if (state_.activity != Activity::Closed) {
        dialogs_.message(text);
    }
}

void Form1::applyState()
{
    const ControlStates c = controlStates(state_);
    const std::pair<QWidget*, ControlState> controls[] = {
        {Text1, c.Text1},       {Text2, c.Text2},       {Text5, c.Text5},
        {Text6, c.Text6},       {Command1, c.Command1}, {Command2, c.Command2},
        {Command3, c.Command3}, {Command4, c.Command4}, {Command5, c.Command5},
        {Command6, c.Command6}, {Command7, c.Command7}, {Command8, c.Command8},
        {Check1, c.Check1},
    };
    for (const auto& [control, wanted] : controls) {
        control->setEnabled(wanted.enabled);
        control->setVisible(wanted.visible);
    }
}

void Form1::fetch(int side, const QString& url, const QString& path, std::vector<FileBeside> beside,
                  FetchEnded ended)
{
    state_.activity = Activity::Fetching;
    applyState();
    const auto started = std::chrono::steady_clock::now();
    auto settle = [this, ended = std::move(ended), path, side,
                   started](const common::Status& result) {
        pending_.reset();
        if (state_.activity == Activity::Closed) {
            return;
        }
        if (result && path == previewFile) { // what a picture costs, for the region's estimate
            const double bytes = static_cast<double>(QFileInfo(path).size());
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            previewBytesPerPixel_ = bytes / side / side;
            if (seconds > 0) {
                previewRate_ = bytes / seconds;
            }
        }
        // Handlers that ran meanwhile (a corner set) changed state_ themselves, so it holds.
        state_.activity = Activity::Idle;
        applyState();
        ended(result);
    };
    Asking asking;
    asking.told = [this, code = settings_.mapcode](const PictureTold& told) {
        if (!told.source.isEmpty()) {
            sources_[code] = told.source;
        }
    };
    auto transfer = fetcher_.download(url, path, settle, {}, std::move(beside), QSize(side, side),
                                      std::move(asking));
    if (!transfer) {
        // Told from the event loop like every end of a fetch (where ended() can end the program).
        QTimer::singleShot(0, this, [settle, error = transfer.error()] { settle(error); });
        return;
    }
    pending_ = std::move(transfer).value();
}

FetchEnded Form1::reportFailure(const QString& context, Stored stored)
{
    return [this, context, stored = std::move(stored)](const common::Status& result) {
        const auto tell = [&](const common::Error& error) {
            const QString text = common::errorText(error);
            report(context.isEmpty() ? text : context + u' ' + text);
        };
        if (!result) {
            tell(result.error());
            return;
        }
        if (const common::Status done = stored(); !done) {
            tell(done.error());
        }
    };
}

void Form1::Command1_Click()
{
    readsettings();
    const FetchedPicture asked{settings_.centre, settings_.zoom, previewSide};
    fetch(previewSide, generateurl(modePreview), previewFile, {}, reportFailure({}, [this, asked] {
              Image1->setStretch(false);
              return showFetched(asked);
          }));
}

void Form1::Command7_Click()
{
    readsettings();
    const FetchedPicture asked{settings_.centre, settings_.zoom, largeSide};
    Image1->setStretch(true);
    fetch(largeSide, generateurl(modeLarge), previewFile, {},
          reportFailure({}, [this, asked] { return showFetched(asked); }));
}

common::Status Form1::showFetched(const FetchedPicture& picture)
{
    common::Status shown = RefreshMe();
    if (shown) {
        shown_ = picture;
    }
    showRegion();
    return shown;
}

void Form1::Image1_MouseDown(Qt::MouseButton button, QPoint position)
{
    pressedText1_ = Text1->text();
    pressedText2_ = Text2->text();
    const QSize size = Image1->shownSize();
    if (button != Qt::LeftButton || !shown_ || state_.activity != Activity::Idle ||
        size.isEmpty()) {
        return;
    }
    const common::Centre c =
        pointOnPicture(*shown_, position.x(), position.y(), size.width(), size.height());
    Text1->setText(pointText(c.latitude));
    Text2->setText(pointText(c.longitude));
}

void Form1::Command5_Click()
{
    readsettings();
    const QString url = generateurl(modeLarge);
    const QString path = common::TileFolder::lookUp().pathOf(singleImageName(settings_));
    // Like a region tile, the image opens in place in GIS programs.
    const common::GeoTransform place =
        common::pictureGeoTransform(settings_.centre, settings_.zoom, largeSide, largeSide);
    fetch(largeSide, url, path, georeferencing(path, place),
          [this, path](const common::Status& result) {
              if (result) {
                  return;
              }
              // The image may be in place while a file beside it is not: say which.
              const QString reason = common::errorText(result.error());
              report(result.error().kind == common::ErrorKind::NotPlaced
                         ? imageSavedUnplacedMessage(path, reason)
                         : imageNotSavedMessage(path) + u' ' + reason);
          });
}

void Form1::Command2_Click()
{
    readsettings();
    if (settings_.zoom > maxBeginZoom) {
        dialogs_.message(zoomLimitMessage);
        return;
    }
    settings_.beginlong = cornerValue(settings_.centre.longitude, settings_.zoom);
    settings_.beginlat = cornerValue(settings_.centre.latitude, settings_.zoom);
    dialogs_.message(beginCornerMessage(settings_.beginlat, settings_.beginlong));
    state_.zoomLocked = true;
    beginSet_ = true;
    route_.reset();
    applyState();
    boxesChanged();
}

void Form1::Command3_Click()
{
    readsettings();
    settings_.endlong = cornerValue(settings_.centre.longitude, settings_.zoom);
    settings_.endlat = cornerValue(settings_.centre.latitude, settings_.zoom);
    dialogs_.message(endCornerMessage(settings_.endlat, settings_.endlong));
    state_.startArmed = true;
    endSet_ = true;
    route_.reset();
    applyState();
    boxesChanged();
}

} // namespace pelagrin
