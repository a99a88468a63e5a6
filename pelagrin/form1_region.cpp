// The region download of the downloader window: "Start download" and "Abort Download".
#include "form1.h"

#include "failure.h"
#include "picture.h"
#include "pictureview.h"
#include "region.h"
#include "requesturl.h"
#include "tilefolder.h"
#include "tilename.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace pelagrin {

namespace {

constexpr int tileRetries = 2;
constexpr int retryPauseMs = 500;

void enableAll(std::initializer_list<QWidget*> controls, bool enabled)
{
    for (QWidget* control : controls) {
        control->setEnabled(enabled);
    }
}

// Waits |ms| while the window stays alive.
void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

bool Form1::regionStepsUsable(double& stepb, double& stepl)
{
    const auto divisorb = localeDivisor(Text3->text());
    const auto divisorl = localeDivisor(Text4->text());
    for (const auto& [divisor, box] : {std::pair{divisorb, Label3}, std::pair{divisorl, Label4}}) {
        if (!divisor) {
            dialogs_.message(QStringLiteral("The value of \"%1\" is not a number. Please enter "
                                            "the number of tiles per zoom unit, for example 45.")
                                 .arg(box->text()));
            return false;
        }
    }
    stepb = settings_.zoom / *divisorb;
    stepl = settings_.zoom / *divisorl;
    if (!usableStep(stepb) || !usableStep(stepl)) {
        dialogs_.message(QStringLiteral("No region can be downloaded at this zoom: the tiles "
                                        "would lie 0 degrees apart. Please set a zoom other "
                                        "than 0 with \"Set to Begin Region\"."));
        return false;
    }
    return true;
}

void Form1::prepareForRegion()
{
    Check1->show();
    Image1->setStretch(true);
    enableAll({Text1, Text2, Command1, Command2, Command3, Command4, Command5}, false);
    Command6->show();
    Command7->hide();
    Command6->setFocus();
}

void Form1::restoreAfterRegion()
{
    settings_.abortflag = 0;
    enableAll({Command1, Command2, Command3, Command5, Text5, Text1, Text2}, true);
    Command6->hide();
    Command7->show();
    Check1->hide();
    Label6->clear();
}

void Form1::Command4_Click()
{
    double stepb = 0;
    double stepl = 0;
    if (regionRunning_ || !regionStepsUsable(stepb, stepl)) {
        return;
    }
    const auto plan = planRegion(settings_, stepb, stepl);
    if (!plan) {
        dialogs_.message(QStringLiteral("This region would need more than a million tiles in "
                                        "one direction. Please choose a smaller region or a "
                                        "larger zoom."));
        return;
    }
    regionRunning_ = true;
    prepareForRegion();
    const qint64 tilecount = plan->tilecount();
    qint64 donecount = 0;
    report(regionStartMessage(settings_, tilecount));

    // The tile folder is looked up once for the run.
    const QString folder = common::tileFolderPath();
    bool stopped = false;
    for (const double latitude : plan->latitudes) {
        for (const double longitude : plan->longitudes) {
            settings_.latitude = latitude;
            settings_.longitude = longitude;
            if (settings_.abortflag == 1 || closing_) {
                stopped = true;
                break;
            }
            ++donecount;
            if (!downloadRegionTile(folder, donecount, tilecount)) {
                stopped = true;
                break;
            }
        }
        if (stopped) {
            break;
        }
    }

    restoreAfterRegion();
    readsettings();
    regionRunning_ = false;
    report(regionReadyMessage(donecount));
}

// Fetches the tile at the current centre, trying a transient failure again twice. Returns
// false when the run has to stop (the tile failed, or the window is closing).
bool Form1::downloadRegionTile(const QString& folder, qint64 donecount, qint64 tilecount)
{
    settings_.latitude += centreShift;
    settings_.longitude += centreShift;
    const QString url = generateurl(modeLarge);
    const QString path = tilePath(regionTileName(settings_), folder);
    for (int attempt = 0;; ++attempt) {
        try {
            fetcher_.download(url, path, settings_.imagebytes);
            break;
        } catch (const common::Failure& failure) {
            if (closing_) {
                return false;
            }
            if (!failure.transient() || attempt == tileRetries) {
                report(QStringLiteral("The tile %1 could not be downloaded. %2 The download "
                                      "stops here.")
                           .arg(path, failure.text()));
                return false;
            }
            pause(retryPauseMs);
        }
    }
    if (Check1->isChecked() && QFileInfo(path).size() > 0) {
        try {
            Image1->setPicture(QPixmap::fromImage(common::loadPicture(path)));
        } catch (const common::Failure&) {
            // The tile is stored; only showing it failed, which is no reason to stop.
        }
    }
    Label6->setText(regionProgressText(donecount, tilecount));
    return !closing_;
}

void Form1::Command6_Click()
{
    settings_.abortflag = 1;
}

} // namespace pelagrin
