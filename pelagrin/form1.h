#pragma once

#include "common/dialogs.h"
#include "common/result.h"
#include "pelagrin/estimate.h"
#include "pelagrin/fetch.h"
#include "pelagrin/options.h"
#include "pelagrin/picturepoint.h"
#include "pelagrin/regionchoice.h"
#include "pelagrin/regionrun.h"
#include "pelagrin/settings.h"
#include "pelagrin/storedscan.h"
#include "pelagrin/windowstate.h"

#include <QThreadPool>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
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
// logic they call lives in the widget-free core. No handler waits for the network: a fetch or a
// region run is started, and its end comes back through the event loop.
class Form1 : public QWidget {
    Q_OBJECT
public:
    // |serviceAddress| is the map service's "host:port"; every message and the end of the
    // program go through |dialogs|.
    Form1(QString serviceAddress, common::Dialogs& dialogs,
          int transferTimeoutMs = Fetcher::defaultTransferTimeoutMs, QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up. The program's exit code when it ends at once (a working folder it cannot
    // write, which a message has told). Otherwise it starts the connection test and returns
    // nothing: ready() follows when the preview has arrived and the window may show, or ended()
    // with the exit code when there is no usable connection.
    std::optional<int> Form_Load();
    void Form_Unload();

    void Text3_Change();
    void Text4_Change();
    // Shows the preview file in Image1; an error when it cannot be read as a picture.
    common::Status RefreshMe();

    void Command1_Click(); // Refresh
    void Command2_Click(); // Set to Begin Region
    void Command3_Click(); // Set to End Region
    void Command4_Click(); // Start download
    void Command5_Click(); // Save single HiRes BMP
    void Command6_Click(); // Abort Download
    void Command7_Click(); // Preview
    // A left click on the picture Refresh or Preview fetched last puts the place under it into
    // the centre boxes; |position| is in pixels of the picture as shown.
    void Image1_MouseDown(Qt::MouseButton button, QPoint position);
    // A drag on that picture sets both corners of a region at once (form1_plan.cpp).
    void Image1_Drag(QPoint from, QPoint to);
    void Command8_Click(); // Route...

    // Reads the route in the file at |path| (off the window's thread) and makes its region the
    // window's, |widthKm| wide, with |zoom| in the zoom box when given.
    void useRoute(const QString& path, double widthKm, std::optional<double> zoom);
    // Tiles older than this many days are offered for refreshing.
    void setRefreshDays(int days) { refreshDays_ = days; }
    // Whether a route is being read or a region planned and counted off the window's thread.
    bool planning() const { return planWork_ > 0; }

    const MapSettings& settings() const { return settings_; }
    Activity activity() const { return state_.activity; }
    // Whether "Start download" waits for the service to name its sources (see Command4_Click).
    bool checkingSources() const { return sourceCheck_ != nullptr; }
    // How many tiles a region download requests at once (1 to 6).
    void setConnections(int connections) { connections_ = connections; }

signals:
    void ready();
    void ended(int exitCode);

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
    // Fetches |url|, a GIF of |side| x |side| pixels, into |path| (and |beside| next to it) in
    // the Fetching state and returns
    // at once; |ended| runs from the event loop when the fetch is over, back in the Idle state,
    // unless the window was closed meanwhile.
    void fetch(int side, const QString& url, const QString& path, std::vector<FileBeside> beside,
               FetchEnded ended);
    // The end of a button's fetch: |stored| runs once the file is in place; a failure of either
    // is reported with |context| before its text.
    using Stored = std::function<common::Status()>;
    FetchEnded reportFailure(const QString& context, Stored stored);
    void connectionTestEnded(const common::Status& fetched);
    void report(const QString& text);
    common::Status showPicture(const QString& path);
    // Shows the preview file that Refresh or Preview fetched as |picture|.
    common::Status showFetched(const FetchedPicture& picture);

    // Region download (form1_region.cpp).
    // The spacing the divisor boxes give, or nothing after telling the user what is wrong.
    std::optional<RegionSteps> regionSteps();
    // Asks whether the tiles in place are to be kept, and starts the run; |replaced| are tiles
    // in place of another source than the service's now, fetched again with the |missing| ones.
    void startRegion(RegionChoice choice, std::vector<qint64> missing,
                     std::vector<qint64> replaced);
    void showStoredTile(const QString& path, qint64 done, qint64 tilecount);
    void regionEnded(qint64 stored);

    // Region planning (form1_plan.cpp).
    // The divisor boxes' spacing at |zoom|, or nothing, without a word to the user.
    std::optional<RegionSteps> quietSteps(double zoom) const;
    // The region the boxes, corners and route give now, planned and counted off the window's
    // thread; the outline and the line follow when that is done.
    void regionChanged();
    // A box the region depends on was edited: what the last download fetched is no longer told.
    void boxesChanged();
    // The route's width from its box, or nothing when that is no width from 0.1 to 100 km.
    std::optional<double> routeWidth() const;
    void regionPlanned(quint64 generation, std::optional<RegionChoice> choice, StoredScan scan);
    // The marks over the picture and the line under it, from what was planned last.
    void showRegion();
    void routeRead(const QString& path, common::Result<Route> route);
    EstimateBasis estimateBasis() const;
    // Runs |work| on the planning pool and |done| with its result back on the window's thread.
    template <typename Work, typename Done> void offLoop(Work work, Done done);

    QString serviceAddress_;
    common::Dialogs& dialogs_;
    Fetcher fetcher_;
    MapSettings settings_;
    WindowState state_;
    int connections_ = defaultConnections;
    std::unique_ptr<Transfer> pending_; // the one fetch of a button or the start-up
    std::unique_ptr<RegionRun> run_;    // the region download under way
    // The tiles in place that recorded their source, waiting for the service to name the
    // source it draws each of their map codes from now.
    struct SourceCheck {
        RegionChoice choice;
        std::vector<qint64> missing;
        StoredTiles stored;
        std::map<QString, QString> current; // by map code
        std::vector<std::unique_ptr<common::http::Transfer>> asked;
        std::size_t waiting = 0;
    };
    std::unique_ptr<SourceCheck> sourceCheck_;
    std::optional<QString> runFailure_; // the first tile of the run that failed for good
    qint64 runTilecount_ = 0;
    std::optional<FetchedPicture> shown_; // what Image1 shows, when Refresh or Preview fetched it
    // The centre boxes before the last press on the picture, which a drag puts back.
    QString pressedText1_;
    QString pressedText2_;

    // The region as planned: corners both set (by buttons or a drag), or a route.
    bool beginSet_ = false;
    bool endSet_ = false;
    std::shared_ptr<const ChosenRoute> route_;
    int refreshDays_ = 30;
    QThreadPool planPool_; // one thread: routes read, regions planned and their tiles counted
    int planWork_ = 0;
    quint64 planGeneration_ = 0;
    std::shared_ptr<std::atomic<bool>> planCancel_;
    struct Planned {
        RegionChoice choice;
        StoredScan scan;
    };
    std::optional<Planned> planned_;
    // What the estimate is made from, besides the stored tiles.
    std::map<QString, QString> sources_; // by map code, as the service named them
    std::optional<double> previewBytesPerPixel_;
    std::optional<double> previewRate_;
    std::vector<qint64> lastFetchedSizes_;
    RateMeter rate_;
    std::optional<double> runEstimate_;
    qint64 runFetchedBytes_ = 0;
    QString afterRun_; // the comparison shown after a download until the region changes

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
    QPushButton* Command8;
    QLabel* Label7;
    QLabel* Label8;
    QLineEdit* Text6;
    QCheckBox* Check1;
    common::PictureView* Image1;
};

} // namespace pelagrin
