#include "mapexport/window.h"

#include "common/credit.h"
#include "common/errortext.h"
#include "common/printable.h"
#include "common/tilefolder.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>

namespace mapexport {

namespace {

// The export thread's link to the window: progress in whole percent, posted to the window's
// loop when it changes, and the stop that Cancel asks for.
struct ProgressLink {
    QWidget* window;
    std::function<void(int)> show;
    std::shared_ptr<std::atomic<bool>> stop;
    int shown = -1;
};

int CPL_STDCALL reportProgress(double done, const char*, void* data)
{
    auto& link = *static_cast<ProgressLink*>(data);
    const int percent = static_cast<int>(done * 100);
    if (percent != link.shown) {
        link.shown = percent;
        QMetaObject::invokeMethod(
            link.window, [show = link.show, percent] { show(percent); }, Qt::QueuedConnection);
    }
    return link.stop->load() ? FALSE : TRUE;
}

} // namespace

struct ExportWindow::Outcome {
    std::optional<ExportReport> report;
    std::optional<common::Error> error;
    bool stopped = false;
};

ExportWindow::ExportWindow(common::Dialogs& dialogs, FolderOpener openFolder, QWidget* parent)
    : QWidget(parent), dialogs_(dialogs), openFolder_(std::move(openFolder)),
      stop_(std::make_shared<std::atomic<bool>>(false)), folderEdit_(new QLineEdit),
      folderButton_(new QPushButton(QStringLiteral("C&hange…"))), setList_(new QListWidget),
      destination_(new QComboBox), output_(new QLineEdit),
      fileButton_(new QPushButton(QStringLiteral("Choo&se…"))), credit_(new QLineEdit),
      progress_(new QProgressBar), exportButton_(new QPushButton(QStringLiteral("&Export"))),
      cancelButton_(new QPushButton(QStringLiteral("&Cancel"))), summary_(new QLabel),
      openButton_(new QPushButton(QStringLiteral("&Open the folder")))
{
    setWindowTitle(QStringLiteral("Map Export"));
    folderEdit_->setObjectName(QStringLiteral("folder"));
    setList_->setObjectName(QStringLiteral("sets"));
    destination_->setObjectName(QStringLiteral("destination"));
    output_->setObjectName(QStringLiteral("output"));
    credit_->setObjectName(QStringLiteral("credit"));
    progress_->setObjectName(QStringLiteral("progress"));
    exportButton_->setObjectName(QStringLiteral("export"));
    cancelButton_->setObjectName(QStringLiteral("cancel"));
    summary_->setObjectName(QStringLiteral("summary"));
    openButton_->setObjectName(QStringLiteral("open"));
    for (const FormatUnit& unit : formatUnits()) {
        destination_->addItem(unit.purpose);
    }
    summary_->setWordWrap(true);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    cancelButton_->setEnabled(false);
    openButton_->setEnabled(false);

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folderEdit_);
    folderRow->addWidget(folderButton_);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(output_);
    fileRow->addWidget(fileButton_);
    auto* folderLabel = new QLabel(QStringLiteral("Tile &folder:"));
    folderLabel->setBuddy(folderEdit_);
    auto* fileLabel = new QLabel(QStringLiteral("File &name:"));
    fileLabel->setBuddy(output_);
    auto* form = new QFormLayout;
    form->addRow(folderLabel, folderRow);
    form->addRow(QStringLiteral("&Tiles:"), setList_);
    form->addRow(QStringLiteral("&Destination:"), destination_);
    form->addRow(fileLabel, fileRow);
    form->addRow(QStringLiteral("C&redit:"), credit_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(progress_, 1);
    buttons->addWidget(exportButton_);
    buttons->addWidget(cancelButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(summary_);
    layout->addWidget(openButton_, 0, Qt::AlignLeft);
    resize(720, 520);

    connect(setList_, &QListWidget::currentRowChanged, this, [this] { chooseSet(); });
    connect(destination_, &QComboBox::currentIndexChanged, this, [this] { chooseDestination(); });
    connect(folderEdit_, &QLineEdit::returnPressed, this,
            [this] { readFolder(folderEdit_->text()); });
    connect(folderButton_, &QPushButton::clicked, this, [this] { changeFolder(); });
    connect(fileButton_, &QPushButton::clicked, this, [this] { chooseFile(); });
    connect(output_, &QLineEdit::returnPressed, this, [this] { Export_Click(); });
    connect(exportButton_, &QPushButton::clicked, this, [this] { Export_Click(); });
    connect(cancelButton_, &QPushButton::clicked, this, [this] { Cancel_Click(); });
    connect(openButton_, &QPushButton::clicked, this,
            [this] { openFolder_(QFileInfo(written_).absolutePath()); });
}

ExportWindow::~ExportWindow()
{
    if (worker_ != nullptr) {
        stop_->store(true);
        worker_->wait();
        delete worker_;
    }
}

std::optional<int> ExportWindow::Form_Load()
{
    readFolder(common::TileFolder::lookUp().path());
    return std::nullopt;
}

bool ExportWindow::busy() const
{
    return worker_ != nullptr;
}

void ExportWindow::setBusy(bool busy)
{
    for (QWidget* w :
         std::initializer_list<QWidget*>{folderEdit_, folderButton_, setList_, destination_,
                                         output_, fileButton_, credit_, exportButton_}) {
        w->setEnabled(!busy);
    }
    exportButton_->setEnabled(!busy && !sets_.empty());
}

// Reads the folder on the worker thread: every tile is checked and decoded once, the share
// decoded shown as progress; Cancel stops it.
void ExportWindow::readFolder(const QString& folder)
{
    if (worker_ != nullptr) {
        return;
    }
    folder_ = QFileInfo(folder).absoluteFilePath();
    folderEdit_->setText(folder_);
    setList_->clear();
    sets_.clear();
    setList_->addItem(QStringLiteral("Reading the folder…"));
    summary_->clear();
    openButton_->setEnabled(false);
    setBusy(true);
    stop_ = std::make_shared<std::atomic<bool>>(false);
    progress_->setValue(0);
    cancelButton_->setEnabled(true);
    auto shown = std::make_shared<std::atomic<int>>(-1);
    // Called on the decoding threads: the window hears of each new percent on its own loop.
    ScanProgress progress = [this, stop = stop_, shown](int decoded, int tiles) {
        const int percent = decoded * 100 / std::max(1, tiles);
        if (shown->exchange(percent) != percent) {
            QMetaObject::invokeMethod(
                this, [this, percent] { showProgress(percent); }, Qt::QueuedConnection);
        }
        return !stop->load();
    };
    worker_ = QThread::create([this, folder = folder_, progress = std::move(progress)] {
        Scan scan =
            QFileInfo(folder).isDir() ? scanFolder(common::TileFolder(folder), progress) : Scan{};
        QMetaObject::invokeMethod(
            this, [this, scan = std::move(scan)] { folderRead(scan); }, Qt::QueuedConnection);
    });
    worker_->start();
}

void ExportWindow::folderRead(const Scan& scan)
{
    worker_->wait();
    delete worker_;
    worker_ = nullptr;
    cancelButton_->setEnabled(false);
    progress_->setValue(0);
    summary_->clear();
    scan_ = scan.stopped ? Scan{} : scan;
    sets_ = tileSets(scan_.tiles);
    setList_->clear();
    setBusy(false);
    if (scan.stopped) {
        setList_->addItem(QStringLiteral("Reading %1 was stopped; \"Change…\" reads a folder")
                              .arg(common::printable(folder_)));
        output_->clear();
        credit_->clear();
        emit idle();
        return;
    }
    if (sets_.empty()) {
        setList_->addItem(QStringLiteral("No tiles in %1").arg(common::printable(folder_)));
        output_->clear();
        credit_->clear();
        emit idle();
        return;
    }
    for (const TileSet& set : sets_) {
        setList_->addItem(describe(set));
    }
    setList_->setCurrentRow(0); // the largest
    emit idle();
}

void ExportWindow::chooseSet()
{
    const int row = setList_->currentRow();
    if (row < 0 || row >= static_cast<int>(sets_.size())) {
        return;
    }
    const auto chosen = chooseTiles(scan_.tiles, sets_[static_cast<std::size_t>(row)].choice);
    credit_->setText(chosen ? creditOf(*chosen) : QString());
    chooseDestination();
}

void ExportWindow::chooseDestination()
{
    const int row = setList_->currentRow();
    if (row < 0 || row >= static_cast<int>(sets_.size())) {
        return;
    }
    output_->setText(suggestedName(sets_[static_cast<std::size_t>(row)], destinationFormat()));
}

Format ExportWindow::destinationFormat() const
{
    const int index = std::max(0, destination_->currentIndex());
    return formatUnits()[static_cast<std::size_t>(index)].format;
}

void ExportWindow::changeFolder()
{
    const QString folder =
        QFileDialog::getExistingDirectory(this, QStringLiteral("Tile folder"), folder_);
    if (!folder.isEmpty()) {
        readFolder(folder);
    }
}

void ExportWindow::chooseFile()
{
    const QString ending = suggestedEnding(destinationFormat());
    const QString file = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export to"), QDir::current().absoluteFilePath(output_->text()),
        QStringLiteral("*.%1").arg(ending));
    if (!file.isEmpty()) {
        output_->setText(file);
    }
}

void ExportWindow::Export_Click()
{
    const int row = setList_->currentRow();
    if (worker_ != nullptr || row < 0 || row >= static_cast<int>(sets_.size())) {
        return;
    }
    const Format format = destinationFormat();
    const QString output = QDir::current().absoluteFilePath(output_->text().trimmed());
    if (formatOf(output) != format) {
        dialogs_.message(QStringLiteral("The file name must end in .%1 for %2.")
                             .arg(suggestedEnding(format), destination_->currentText()));
        return;
    }
    auto prepared = prepareExport(scan_, sets_[static_cast<std::size_t>(row)].choice, format);
    if (!prepared || prepared->tiles == 0) {
        dialogs_.message(prepared ? QStringLiteral("No tile is left to export: map tiles cannot "
                                                   "hold any of them.")
                                  : common::errorText(prepared.error()));
        return;
    }
    for (const QString& name : scan_.foreign) {
        prepared->leftOut.append(name + QStringLiteral(": not a tile name"));
    }
    prepared->leftOut.append(scan_.leftOut);
    prepared->mosaic.credit =
        QString::fromStdString(common::cleanCredit(credit_->text().toStdString()));
    ExportSettings settings;
    stop_ = std::make_shared<std::atomic<bool>>(false);
    progress_->setValue(0);
    summary_->setText(QStringLiteral("Exporting %1 tiles…").arg(prepared->tiles));
    openButton_->setEnabled(false);
    setBusy(true);
    cancelButton_->setEnabled(true);
    worker_ = QThread::create(
        [this, prepared = std::move(*prepared), format, output, settings, stop = stop_] {
            ProgressLink link{this, [this](int percent) { showProgress(percent); }, stop};
            Outcome outcome;
            auto report = runExport(prepared, format, output, settings, reportProgress, &link);
            if (report) {
                outcome.report = std::move(*report);
            } else if (stop->load()) {
                outcome.stopped = true;
            } else {
                outcome.error = report.error();
            }
            QMetaObject::invokeMethod(
                this, [this, outcome = std::move(outcome)] { exportEnded(outcome); },
                Qt::QueuedConnection);
        });
    worker_->start();
}

void ExportWindow::Cancel_Click()
{
    if (worker_ != nullptr) {
        stop_->store(true);
        summary_->setText(QStringLiteral("Stopping…"));
    }
}

void ExportWindow::showProgress(int percent)
{
    if (worker_ != nullptr) {
        progress_->setValue(percent);
    }
}

void ExportWindow::exportEnded(const Outcome& outcome)
{
    worker_->wait();
    delete worker_;
    worker_ = nullptr;
    setBusy(false);
    cancelButton_->setEnabled(false);
    if (outcome.stopped) {
        progress_->setValue(0);
        summary_->setText(QStringLiteral("Stopped; nothing was written."));
    } else if (outcome.error) {
        progress_->setValue(0);
        summary_->setText(QStringLiteral("Not written: %1").arg(common::errorText(*outcome.error)));
    } else {
        progress_->setValue(100);
        written_ = outcome.report->file;
        summary_->setText(summaryText(*outcome.report));
        openButton_->setEnabled(true);
    }
    emit idle();
}

} // namespace mapexport
