// The calibration batch over 10,000 tiles, against writing the same files' bytes the plainest
// way that still never shows a partial file: C++ streams into a temporary name beside each
// file, flushed to disk, then renamed. Both write new files into fresh folders of the same
// file system; rounds alternate between them and the median of their ratios is reported, since
// file creation times vary a lot from one moment to the next.
#include "benchapp.h"
#include "benchutil.h"
#include "common/tilenamereader.h"
#include "pinmark/form1.h"
#include "pinmark/mapfile.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr int tiles = 10'000;
constexpr int rounds = 15;

QString tileName(int i)
{
    return QStringLiteral("IDA_E_B%1!00L%2!00Z45.gif").arg(i / 100).arg(i % 100);
}

} // namespace

int main(int argc, char** argv)
{
    const bench::OffscreenRun run(argc, argv);

    std::vector<std::pair<std::string, QByteArray>> expected;
    for (int i = 0; i < tiles; ++i) {
        const auto centre = common::readTileName(tileName(i));
        expected.emplace_back(
            pinmark::mapFileName(tileName(i)).toStdString(),
            pinmark::mapFileText(tileName(i), centre->latitude, centre->longitude, centre->zoom));
    }
    for (int round = 0; round < rounds; ++round) {
        const QString folder = QStringLiteral("round%1/MyMaps").arg(round);
        QDir().mkpath(folder);
        QDir().mkpath(QStringLiteral("baseline%1").arg(round));
        for (int i = 0; i < tiles; ++i) {
            QFile(folder + u'/' + tileName(i)).open(QIODevice::WriteOnly);
        }
    }

    bench::Rounds results;
    for (int round = 0; round < rounds; ++round) {
        const std::string folder = "baseline" + std::to_string(round) + "/";
        const double baseline = bench::secondsOf([&] {
            const std::string temporary = folder + ".partial";
            for (const auto& [name, bytes] : expected) {
                {
                    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
                    out.write(bytes.constData(), bytes.size());
                }
                const int fd = ::open(temporary.c_str(), O_WRONLY | O_CLOEXEC);
                ::fdatasync(fd);
                ::close(fd);
                std::rename(temporary.c_str(), (folder + name).c_str());
            }
        });
        QDir::setCurrent(run.path() + QStringLiteral("/round%1").arg(round));
        bench::SilentDialogs dialogs;
        pinmark::Form1 window(dialogs);
        results.add(bench::secondsOf([&] { window.Form_Load(); }), baseline);
        QDir::setCurrent(run.path());
        const QDir written(QStringLiteral("round%1/MyMaps").arg(round));
        if (written.entryList({QStringLiteral("*.map")}).size() != tiles) {
            std::fprintf(stderr, "the batch did not write every calibration file\n");
            return 1;
        }
    }
    bench::report("pinmark_batch_10000", results, "1.2");
    return 0;
}
