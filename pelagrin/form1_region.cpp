// The region download of the downloader window: "Start download" and "Abort Download".
#include "common/errortext.h"
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
#include <QMetaObject>
#include <QPushButton>

#include <algorithm>
#include <iterator>

namespace pelagrin {

std::optional<RegionSteps> Form1::regionSteps()
{
    const auto divisorb = localeDivisor(Text3->text());
    const auto divisorl = localeDivisor(Text4->text());
    for (const auto& [divisor, box] : {std::pair{divisorb, Label3}, std::pair{divisorl, Label4}}) {
        if (!divisor) {
            dialogs_.message(divisorNotANumberMessage(box->text()));
            return std::nullopt;
        }
    }
    const RegionSteps steps{settings_.zoom / *divisorb, settings_.zoom / *divisorl};
    if (!usableStep(steps.latitude) || !usableStep(steps.longitude)) {
        dialogs_.message(zeroStepMessage);
        return std::nullopt;
    }
    return steps;
}

// Starts the run and returns; regionEnded() finishes it.
void Form1::Command4_Click()
{
    if (state_.activity != Activity::Idle || sourceCheck_) {
        return;
    }
    const auto steps = regionSteps();
    if (!steps) {
        return;
    }
    // The tile folder is looked up once for the run.
    const common::TileFolder folder = common::TileFolder::lookUp();
    auto plan = planRegion(settings_, steps->latitude, steps->longitude, serviceAddress_, folder);
    if (!plan) {
        dialogs_.message(common::errorText(plan.error()));
        return;
    }
    std::vector<qint64> missing = missingTiles(*plan);
    StoredTiles stored = storedTiles(*plan, missing);
    if (stored.recorded.empty()) { // nothing to hold against the service's sources
        startRegion(std::move(plan).value(), std::move(missing), {});
        return;
    }
    // Tiles of one region come from one source: the service names the source of each map code
    // with a picture at the code's first tile in place, as Refresh asks.
    auto check = std::make_unique<SourceCheck>(
        SourceCheck{std::move(plan).value(), std::move(missing), std::move(stored), {}, {}, 0});
    SourceCheck* checking = check.get();
    sourceCheck_ = std::move(check);
    checking->waiting = checking->stored.firstOfCode.size();
    for (const auto& first : checking->stored.firstOfCode) {
        const QString& code = first.first;
        auto asked = fetcher_.askSource(
            checking->plan.previewUrl(first.second), [this, checking, code](const QString& source) {
                checking->current[code] = source;
                if (--checking->waiting > 0) {
                    return;
                }
                // The transfers are destroyed with the check, after their handlers.
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        auto check = std::move(sourceCheck_);
                        auto replaced =
                            otherSourceTiles(check->plan, check->stored, check->current);
                        startRegion(std::move(check->plan), std::move(check->missing),
                                    std::move(replaced));
                    },
                    Qt::QueuedConnection);
            });
        if (!asked) { // no source is known for the code: its tiles count as they are
            --checking->waiting;
            continue;
        }
        checking->asked.push_back(std::move(asked).value());
    }
    if (checking->waiting == 0) {
        auto check = std::move(sourceCheck_);
        startRegion(std::move(check->plan), std::move(check->missing), {});
    }
}

void Form1::startRegion(RegionPlan plan, std::vector<qint64> missing, std::vector<qint64> replaced)
{
    // Tiles an earlier run stored whole need not come again, if the user agrees; tiles of
    // another source come again with the missing ones.
    std::optional<std::vector<qint64>> only;
    std::vector<qint64> fetched;
    std::merge(missing.begin(), missing.end(), replaced.begin(), replaced.end(),
               std::back_inserter(fetched));
    const qint64 total = plan.tilecount();
    const auto present = total - static_cast<qint64>(fetched.size());
    const QString folder = common::TileFolder::lookUp().path();
    using Answer = common::Dialogs::Answer;
    if (present > 0 && present < total) {
        const Answer answer = dialogs_.question(
            someTilesPresentQuestion(present, total, folder, static_cast<qint64>(replaced.size())),
            true, Answer::Yes);
        if (answer == Answer::Cancel) {
            return;
        }
        if (answer == Answer::Yes) {
            only = std::move(fetched);
        }
    } else if (present > 0 && dialogs_.question(allTilesPresentQuestion(total, folder), false,
                                                Answer::No) != Answer::Yes) {
        return;
    }
    if (state_.activity != Activity::Idle) {
        return; // closed while the question was open
    }
    state_.activity = Activity::Region;
    state_.startArmed = false;
    applyState();
    Image1->setStretch(true);
    Command6->setFocus();
    runTilecount_ = only ? static_cast<qint64>(only->size()) : total;
    runFailure_.reset();
    report(regionStartMessage(settings_, runTilecount_));
    if (state_.activity != Activity::Region) {
        return; // closed while the message was open
    }

    if (only) {
        run_ = std::make_unique<RegionRun>(fetcher_, std::move(plan), std::move(*only),
                                           RetryPolicy{}, connections_);
    } else {
        run_ = std::make_unique<RegionRun>(fetcher_, std::move(plan), RetryPolicy{}, connections_);
    }
    connect(run_.get(), &RegionRun::tileStored, this, [this](const QString& path, qint64 stored) {
        showStoredTile(path, stored, runTilecount_);
    });
    connect(run_.get(), &RegionRun::tileFailed, this,
            [this](const QString& text) { runFailure_ = text; });
    connect(run_.get(), &RegionRun::finished, this, &Form1::regionEnded);
    if (settings_.abortflag == 1) {
        run_->stop(); // "Abort Download" was pressed while the start message was open
    }
    run_->start();
}

void Form1::regionEnded(qint64 stored)
{
    // Deleted once this signal has been delivered.
    run_.release()->deleteLater();
    settings_.abortflag = 0;
    state_.activity = Activity::Idle;
    state_.zoomLocked = false;
    applyState();
    Label6->clear();
    readsettings();
    if (runFailure_) {
        report(*runFailure_);
    }
    report(regionReadyMessage(stored));
}

void Form1::showStoredTile(const QString& path, qint64 stored, qint64 tilecount)
{
    // A tile that cannot be shown is stored all the same: no reason to stop.
    if (Check1->isChecked() && QFileInfo(path).size() > 0) {
        shown_.reset();
        (void)showPicture(path);
    }
    Label6->setText(regionProgressText(stored, tilecount));
}

void Form1::Command6_Click()
{
    settings_.abortflag = 1;
    if (run_) {
        run_->stop();
    }
}

} // namespace pelagrin
