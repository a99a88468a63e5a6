#pragma once

#include "common/dialogs.h"
#include "pelagrin/fetch.h"
#include "pelagrin/options.h"
#include "pelagrin/settings.h"
#include "pelagrin/windowstate.h"

#include <QWidget>

#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace common {
class PictureView;
}

namespace pelagrin {

// The downloader window. Handlers carry the names of the controls and events they serve; the
// logic they call lives in the widget-free core.
class Form1 : public QWidget {
    Q_OBJECT
public:
    // |serviceAddress| is the map service's "host:port"; every message and the end of the
    // program go through |dialogs|.
    Form1(QString serviceAddress, common::Dialogs& dialogs,
          int transferTimeoutMs = Fetcher::defaultTransferTimeoutMs, QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up. The program's exit code when it ends here (no usable connection or folder,
    // which a message has told); nothing when the window is to be shown.
    std::optional<int> Form_Load();
    void Form_Unload();

    void Text3_Change();
    void Text4_Change();
    void RefreshMe();

    void Command1_Click(); // Refresh
    void Command2_Click(); // Set to Begin Region
    void Command3_Click(); // Set to End Region
    void Command4_Click(); // Start download
    void Command5_Click(); // Save single HiRes BMP
    void Command6_Click(); // Abort Download
    void Command7_Click(); // Preview

    const MapSettings& settings() const { return settings_; }
    // How many tiles a region download requests at once (1 to 6).
    void setConnections(int connections) { connections_ = connections; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void placeControls();
    void setTabOrder();
    void connectHandlers();
    // Sets every control's enabled and visible state from state_.
    void applyState();

    void readsettings();
    QString generateurl(int mode);
    // Runs |work| (which fetches) in the Fetching state; a failure is reported with |context|
    // before its text. Returns whether |work| completed.
    bool runFetch(const std::function<void()>& work, const QString& context = {});
    void report(const QString& text);
    bool connectionTest();

    // Region download (form1_region.cpp).
    bool regionStepsUsable(double& stepb, double& stepl);
    void showStoredTile(const QString& path, qint64 stored, qint64 tilecount);

    QString serviceAddress_;
    common::Dialogs& dialogs_;
    Fetcher fetcher_;
    MapSettings settings_;
    WindowState state_;
    int connections_ = defaultConnections;
    bool closing_ = false;

    QLabel* Label1;
    QLineEdit* Text1;
    QLabel* Label2;
    QLineEdit* Text2;
    QLabel* Label5;
    QLineEdit* Text5;
    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    QRadioButton* Option1;
    QRadioButton* Option2;
    QPushButton* Command5;
    QLabel* Label6;
    QPushButton* Command6;
    QLabel* Label3;
    QLabel* Label4;
    QLineEdit* Text3;
    QLineEdit* Text4;
    QPushButton* Command7;
    QCheckBox* Check1;
    common::PictureView* Image1;
};

} // namespace pelagrin
