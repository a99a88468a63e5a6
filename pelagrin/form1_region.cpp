// The region download of the downloader window: "Start download" and "Abort Download".
#include "common/failure.h"
#include "common/picture.h"
#include "common/pictureview.h"
#include "common/tilefolder.h"
#include "pelagrin/form1.h"
#include "pelagrin/messages.h"
#include "pelagrin/region.h"
#include "pelagrin/regionrun.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace pelagrin {

bool Form1::regionStepsUsable(double& stepb, double& stepl)
{
    const auto divisorb = localeDivisor(Text3->text());
    const auto divisorl = localeDivisor(Text4->text());
    for (const auto& [divisor, box] : {std::pair{divisorb, Label3}, std::pair{divisorl, Label4}}) {
        if (!divisor) {
            dialogs_.message(divisorNotANumberMessage(box->text()));
            return false;
        }
    }
    stepb = settings_.zoom / *divisorb;
    stepl = settings_.zoom / *divisorl;
    if (!usableStep(stepb) || !usableStep(stepl)) {
        dialogs_.message(zeroStepMessage);
        return false;
    }
    return true;
}

void Form1::Command4_Click()
{
    double stepb = 0;
    double stepl = 0;
    if (state_.activity != Activity::Idle || !regionStepsUsable(stepb, stepl)) {
        return;
    }
    auto plan = planRegion(settings_, stepb, stepl);
    if (!plan) {
        dialogs_.message(regionTooLargeMessage);
        return;
    }
    state_.activity = Activity::Region;
    state_.startArmed = false;
    applyState();
    Image1->setStretch(true);
    Command6->setFocus();
    const qint64 tilecount = plan->tilecount();
    report(regionStartMessage(settings_, tilecount));

    RegionRun::Callbacks callbacks;
    callbacks.stopRequested = [this] { return settings_.abortflag == 1 || closing_; };
    callbacks.tileStored = [this, tilecount](const QString& path, qint64 stored) {
        showStoredTile(path, stored, tilecount);
    };
    // The tile folder is looked up once for the run.
    RegionRun run(settings_, fetcher_, std::move(*plan), common::TileFolder::lookUp(),
                  serviceAddress_, std::move(callbacks), RetryPolicy{}, connections_);
    const RegionRun::Result result = run.run();

    settings_.abortflag = 0;
    state_.activity = Activity::Idle;
    state_.zoomLocked = false;
    applyState();
    Label6->clear();
    readsettings();
    if (result.failure) {
        report(*result.failure);
    }
    report(regionReadyMessage(result.stored));
}

void Form1::showStoredTile(const QString& path, qint64 stored, qint64 tilecount)
{
    if (Check1->isChecked() && QFileInfo(path).size() > 0) {
        try {
            Image1->setPicture(QPixmap::fromImage(common::loadPicture(path)));
        } catch (const common::Failure&) {
            // The tile is stored; only showing it failed, which is no reason to stop.
        }
    }
    Label6->setText(regionProgressText(stored, tilecount));
}

void Form1::Command6_Click()
{
    settings_.abortflag = 1;
}

} // namespace pelagrin
