#include "pinmark/form1.h"

#include "common/atomicfile.h"
#include "common/controls.h"
#include "common/tilefolder.h"
#include "common/twips.h"
#include "pinmark/batch.h"
#include "pinmark/messages.h"

#include <QLabel>

namespace pinmark {

namespace {

// The label is redrawn at most this often while the batch runs; the final count always shows.
constexpr qint64 redrawIntervalMs = 16;

} // namespace

Form1::Form1(common::Dialogs& dialogs, QWidget* parent) : QWidget(parent), dialogs_(dialogs)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral(
        "Calibration generator for Pelagrin for use in OziExplorer coded by Ambrel"));
    Label1 = common::makeControl<QLabel>(this, QStringLiteral("Label1"));
    common::placeControl(Label1, 240, 240, 5400, 375);
    resize(common::twipsToPixels(5880), common::twipsToPixels(1200));
}

std::optional<int> Form1::Form_Load()
{
    const auto folder = common::TileFolder::lookUp();
    if (!folder.isFolder()) {
        dialogs_.message(noImagesMessage);
        return 0;
    }
    // What an earlier run that was killed while writing left behind.
    common::removeStaleTemporaries(folder.path());
    const QStringList names = folder.tileImages();
    const BatchResult result =
        runBatch(folder, names, [this](int written) { showProgress(written, false); });
    if (result.written > 0) {
        showProgress(result.written, true);
    }
    if (!result.skipped.isEmpty()) {
        dialogs_.message(skippedMessage(result.skipped));
    }
    if (!result.clashed.isEmpty()) {
        dialogs_.message(clashMessage(result.clashed));
    }
    if (!result.failed.isEmpty()) {
        dialogs_.message(failedMessage(result.failed));
    }
    dialogs_.message(closingMessage);
    return std::nullopt;
}

void Form1::showProgress(int written, bool force)
{
    if (!isVisible()) {
        show();
        force = true;
    }
    if (!force && sinceRedraw_.isValid() && sinceRedraw_.elapsed() < redrawIntervalMs) {
        return;
    }
    Label1->setText(progressText(written));
    Label1->repaint();
    repaint();
    sinceRedraw_.restart();
}

} // namespace pinmark
