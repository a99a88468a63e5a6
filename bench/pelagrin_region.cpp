// A region of 200 tiles of about 300 KB each through the real "Start download" path, offscreen,
// against curl fetching the same 200 URLs into files over one connection in one process. Both
// ask the same loopback HTTP/1.1 server with keep-alive.
#include "benchapp.h"
#include "benchutil.h"
#include "form1.h"
#include "region.h"
#include "requesturl.h"
#include "tilename.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <thread>
#include <vector>

namespace {

constexpr int tileBytes = 300 * 1024;

} // namespace

int main(int argc, char** argv)
{
    const bench::OffscreenRun run(argc, argv);

    std::string body(tileBytes, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    httplib::Server server;
    server.set_keep_alive_max_count(100000);
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    });
    server.Get("/pub/agent.dll", [&body](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "image/gif");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&server] { server.listen_after_bind(); });
    const QString address = QStringLiteral("127.0.0.1:%1").arg(port);

    // The region: 10 rows (50 to 59 north) of 20 tiles (0 to 19 east), one degree apart.
    bench::SilentDialogs dialogs;
    pelagrin::Form1 window(address, dialogs);
    window.Form_Load();
    window.show();
    const auto type = [&](const char* box, const char* text) {
        window.findChild<QLineEdit*>(QString::fromLatin1(box))->setText(QString::fromLatin1(text));
    };
    type("Text5", "45");
    type("Text1", "59");
    type("Text2", "0");
    window.Command2_Click();
    type("Text1", "50");
    type("Text2", "19");
    window.Command3_Click();

    // The same URLs for curl, from the same grid.
    QFile config(QStringLiteral("curl.conf"));
    config.open(QIODevice::WriteOnly);
    QDir().mkdir(QStringLiteral("curl"));
    pelagrin::MapSettings s = window.settings();
    for (int lat = 50; lat <= 59; ++lat) {
        for (int lon = 0; lon <= 19; ++lon) {
            s.latitude = lat + pelagrin::centreShift;
            s.longitude = lon + pelagrin::centreShift;
            s.mapcode = pelagrin::mapcodeType1;
            const QString url = pelagrin::generateurl(s, pelagrin::modeLarge, address);
            config.write("url = \"" + QUrl(url).toEncoded() + "\"\noutput = \"curl/" +
                         pelagrin::regionTileName(s).toUtf8() + "\"\n");
        }
    }
    config.close();
    // Rounds alternate between the two, each into emptied folders; medians are compared.
    std::vector<double> values;
    std::vector<double> baselines;
    int tiles = 0;
    int curlStatus = -1;
    for (int round = 0; round < 7; ++round) {
        for (const QString& folder : {QStringLiteral("MyMaps"), QStringLiteral("curl")}) {
            QDir dir(folder);
            for (const QString& file : dir.entryList(QDir::Files)) {
                dir.remove(file);
            }
        }
        window.Command3_Click(); // "Start download" is enabled again by the end corner
        values.push_back(bench::secondsOf([&] { window.Command4_Click(); }));
        tiles = static_cast<int>(QDir(QStringLiteral("MyMaps")).entryList(QDir::Files).size());
        baselines.push_back(bench::secondsOf([&] {
            curlStatus = QProcess::execute(
                QStringLiteral("curl"),
                {QStringLiteral("-s"), QStringLiteral("-K"), QStringLiteral("curl.conf")});
        }));
    }
    const double value = bench::median(values);
    const double baseline = bench::median(baselines);
    server.stop();
    serving.join();
    const int curlTiles =
        static_cast<int>(QDir(QStringLiteral("curl")).entryList(QDir::Files).size());
    if (tiles != 200 || curlTiles != 200 || curlStatus != 0) {
        std::fprintf(stderr, "incomplete: %d tiles by the window, %d by curl (status %d)\n", tiles,
                     curlTiles, curlStatus);
        return 1;
    }
    bench::report("pelagrin_region_200", value, baseline, "1.25");
    return 0;
}
