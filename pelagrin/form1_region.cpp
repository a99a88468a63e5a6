// The region download of the downloader window: "Start download" and "Abort Download".
#include "common/errortext.h"
#include "common/picture.h"
#include "common/pictureview.h"
#include "common/tilefolder.h"
#include "pelagrin/form1.h"
#include "pelagrin/messages.h"
#include "pelagrin/region.h"
#include "pelagrin/regionrun.h"
#include "pelagrin/storedscan.h"

#include <QCheckBox>
#include <QDateTime>
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
    std::optional<double> width;
    if (route_) {
        // A route's region follows the boxes as they are now.
        readsettings();
        width = routeWidth();
        if (!width) {
            dialogs_.message(routeWidthMessage);
            return;
        }
    }
    const auto steps = regionSteps();
    if (!steps) {
        return;
    }
    // The tile folder is looked up once for the run.
    const common::TileFolder folder = common::TileFolder::lookUp();
    auto choice = chooseRegion(settings_, *steps, route_ ? &route_->route : nullptr,
                               width.value_or(0), serviceAddress_, folder);
    if (!choice) {
        dialogs_.message(common::errorText(choice.error()));
        return;
    }
    std::vector<qint64> missing = missingTiles(choice->plan, choice->positions);
    StoredTiles stored = storedTiles(choice->plan, missing, choice->positions);
    if (stored.recorded.empty()) { // nothing to hold against the service's sources
        startRegion(std::move(choice).value(), std::move(missing), {});
        return;
    }
    // Tiles of one region come from one source: the service names the source of each map code
    // with a picture at the code's first tile in place, as Refresh asks.
    auto check = std::make_unique<SourceCheck>(
        SourceCheck{std::move(choice).value(), std::move(missing), std::move(stored), {}, {}, 0});
    SourceCheck* checking = check.get();
    sourceCheck_ = std::move(check);
    checking->waiting = checking->stored.firstOfCode.size();
    for (const auto& first : checking->stored.firstOfCode) {
        const QString& code = first.first;
        auto asked = fetcher_.askSource(
            checking->choice.plan.previewUrl(first.second),
            [this, checking, code](const QString& source) {
                checking->current[code] = source;
                if (!source.isEmpty()) {
                    sources_[code] = source;
                }
                if (--checking->waiting > 0) {
                    return;
                }
                // The transfers are destroyed with the check, after their handlers.
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        auto check = std::move(sourceCheck_);
                        auto replaced =
                            otherSourceTiles(check->choice.plan, check->stored, check->current);
                        startRegion(std::move(check->choice), std::move(check->missing),
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
        startRegion(std::move(check->choice), std::move(check->missing), {});
    }
}

void Form1::startRegion(RegionChoice choice, std::vector<qint64> missing,
                        std::vector<qint64> replaced)
{
    // Tiles an earlier run stored whole need not come again, if the user agrees; tiles of
    // another source come again with the missing ones, and aged ones when the user asks.
    std::optional<std::vector<qint64>> only = choice.positions;
    std::vector<qint64> refresh;
    std::vector<qint64> fetched;
    std::merge(missing.begin(), missing.end(), replaced.begin(), replaced.end(),
               std::back_inserter(fetched));
    const qint64 total = choice.tilecount();
    const auto present = total - static_cast<qint64>(fetched.size());
    const QString folder = common::TileFolder::lookUp().path();
    using Answer = common::Dialogs::Answer;
    std::vector<qint64> old;
    if (present > 0) {
        old = olderTiles(choice.plan, choice.allPositions(), fetched,
                         QDateTime::currentDateTimeUtc().addDays(-refreshDays_));
    }
    const auto ask = [&](QString text, bool withCancel, Answer preset) {
        if (old.empty()) {
            return dialogs_.question(text, withCancel, preset);
        }
        text += refreshOlderText(static_cast<qint64>(old.size()), refreshDays_);
        return dialogs_.questionWith(text, withCancel, preset, refreshOlderButton);
    };
    if (present > 0 && present < total) {
        const Answer answer = ask(
            someTilesPresentQuestion(present, total, folder, static_cast<qint64>(replaced.size())),
            true, Answer::Yes);
        if (answer == Answer::Cancel) {
            return;
        }
        if (answer == Answer::Yes) {
            only = std::move(fetched);
        } else if (answer == Answer::Other) {
            only.emplace();
            std::merge(fetched.begin(), fetched.end(), old.begin(), old.end(),
                       std::back_inserter(*only));
            refresh = std::move(old);
        }
    } else if (present > 0) {
        const Answer answer = ask(allTilesPresentQuestion(total, folder), false, Answer::No);
        if (answer == Answer::Other) {
            only = old;
            refresh = std::move(old);
        } else if (answer != Answer::Yes) {
            return;
        }
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
    runEstimate_ =
        estimateDownload(runTilecount_ - static_cast<qint64>(refresh.size()), estimateBasis())
            .bytes;
    runFetchedBytes_ = 0;
    lastFetchedSizes_.clear();
    rate_.started(std::chrono::steady_clock::now());
    report(regionStartMessage(settings_, runTilecount_));
    if (state_.activity != Activity::Region) {
        return; // closed while the message was open
    }

    if (only) {
        run_ = std::make_unique<RegionRun>(fetcher_, std::move(choice.plan), std::move(*only),
                                           RetryPolicy{}, connections_);
    } else {
        run_ = std::make_unique<RegionRun>(fetcher_, std::move(choice.plan), RetryPolicy{},
                                           connections_);
    }
    run_->setRefresh(std::move(refresh));
    connect(run_.get(), &RegionRun::tileStored, this, [this](const QString& path, qint64) {
        const qint64 bytes = QFileInfo(path).size();
        rate_.arrived(std::chrono::steady_clock::now(), bytes);
        lastFetchedSizes_.push_back(bytes);
        runFetchedBytes_ += bytes;
        showStoredTile(path, run_->stored() + run_->kept(), runTilecount_);
    });
    connect(run_.get(), &RegionRun::tileKept, this, [this](const QString&, qint64 done) {
        Label6->setText(regionProgressText(done, runTilecount_));
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
    const qint64 refreshFailed = run_->refreshFailed();
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
    if (refreshFailed > 0) {
        report(refreshFailedMessage(refreshFailed));
    }
    report(regionReadyMessage(stored));
    if (runEstimate_) {
        afterRun_ = estimateAfterText(*runEstimate_, static_cast<double>(runFetchedBytes_));
    }
    regionChanged(); // tiles have been stored: counted again
}

void Form1::showStoredTile(const QString& path, qint64 done, qint64 tilecount)
{
    // A tile that cannot be shown is stored all the same: no reason to stop.
    if (Check1->isChecked() && QFileInfo(path).size() > 0) {
        shown_.reset();
        Image1->setMarks({}); // they belong to the picture Refresh or Preview fetched
        (void)showPicture(path);
    }
    Label6->setText(regionProgressText(done, tilecount));
}

void Form1::Command6_Click()
{
    settings_.abortflag = 1;
    if (run_) {
        run_->stop();
    }
}

} // namespace pelagrin
