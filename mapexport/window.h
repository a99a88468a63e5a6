#pragma once

// The export window: the command line's export for a person who started the suite from the
// menu. It shows the tile sets of a folder, takes a destination by what it is for and a file
// name, and runs the export on a thread of its own with a progress bar, a Cancel and a summary.
#include "common/dialogs.h"
#include "mapexport/exportplan.h"
#include "mapexport/tileencoding.h"
#include "mapexport/tiles.h"

#include <QString>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QThread;

namespace mapexport {

// Opens a folder in the desktop's file manager; the tests' one records it.
using FolderOpener = std::function<void(const QString& folder)>;

class ExportWindow : public QWidget {
    Q_OBJECT
public:
    ExportWindow(common::Dialogs& dialogs, FolderOpener openFolder, QWidget* parent = nullptr);
    // Stops a running export (its temporaries go, an earlier file stays) and waits for it.
    ~ExportWindow() override;

    // Starts reading the tile folder; the window is always shown.
    std::optional<int> Form_Load();

    // Whether the folder is being read or an export runs.
    bool busy() const;

signals:
    // The folder has been read, or an export has ended (written, stopped or failed).
    void idle();

private:
    struct Outcome;

    void readFolder(const QString& folder);
    void folderRead(const Scan& scan);
    void chooseSet();
    void chooseDestination();
    void chooseFile();
    void changeFolder();
    void Export_Click();
    void Cancel_Click();
    void exportEnded(const Outcome& outcome);
    void showProgress(int percent);
    Format destinationFormat() const;
    void setBusy(bool busy);

    common::Dialogs& dialogs_;
    FolderOpener openFolder_;
    QString folder_;
    Scan scan_;
    std::vector<TileSet> sets_;
    QThread* worker_ = nullptr;
    std::shared_ptr<std::atomic<bool>> stop_;
    QString written_; // the file the last export wrote

    QLineEdit* folderEdit_;
    QPushButton* folderButton_;
    QListWidget* setList_;
    QComboBox* destination_;
    QLineEdit* output_;
    QPushButton* fileButton_;
    QLineEdit* credit_;
    QProgressBar* progress_;
    QPushButton* exportButton_;
    QPushButton* cancelButton_;
    QLabel* summary_;
    QPushButton* openButton_;
};

} // namespace mapexport
