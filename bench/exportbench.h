#pragma once

// What the exporter's benchmarks share: regions of real tiles drawn by the map service, with
// the world files the downloader writes, and timed runs of mapexport and of GDAL's tools.
#include "common/tilegeometry.h"
#include "common/worldfile.h"
#include "serviceprocess.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <httplib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

constexpr double exportZoom = 45; // a degree a tile

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QString tilePath(const QString& folder, int row, int column)
{
    return folder + QStringLiteral("/IDA_E_B%1!00L%2!00Z45.gif").arg(60 - row).arg(column);
}

// The world files of the tile |row|, |column| of a region whose north-west tile lies at 60 N 0 E.
inline bool placeTile(const QString& path, int row, int column)
{
    const auto place = common::pictureGeoTransform({60 - row + 0.000001, column + 0.000001},
                                                   exportZoom, 1999, 1999);
    return writeFile(common::worldFilePath(path), common::worldFileText(place)) &&
           writeFile(common::auxFilePath(path), common::auxFileText(place));
}

// A region of |rows| x |columns| tiles drawn by the service on |port| into |folder|.
inline bool drawTiles(int port, const QString& folder, int rows, int columns)
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(60, 0);
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            char query[200];
            std::snprintf(query, sizeof query,
                          "/pub/agent.dll?CenP=%.6f,%.6f&Alti=45&Size=1999,1999&Lang=EUR0407",
                          60 - row + 0.000001, column + 0.000001);
            const auto reply = client.Get(query);
            const QString path = tilePath(folder, row, column);
            if (!reply || reply->status != 200 ||
                !writeFile(path, QByteArray::fromStdString(reply->body)) ||
                !placeTile(path, row, column)) {
                return false;
            }
        }
    }
    return true;
}

// The same, drawn by a map service of its own started from beside the benchmark |argv0|;
// false (and a message) when the tiles could not be made.
inline bool drawRegion(const char* argv0, const QString& folder, int rows, int columns)
{
    const testsupport::ServiceProcess service(
        testsupport::ServiceProcess::beside(argv0, "mapservice"));
    if (service.port() == 0 || !drawTiles(service.port(), folder, rows, columns)) {
        std::fprintf(stderr, "the tiles could not be made\n");
        return false;
    }
    return true;
}

// The exporter beside the benchmark |argv0|.
inline std::string exporterBeside(const char* argv0)
{
    return std::filesystem::absolute(testsupport::ServiceProcess::beside(argv0, "mapexport"));
}

// A region of |rows| x |columns| tiles in |folder| whose pictures are those of a drawn region
// of |drawnSide| x |drawnSide| in |drawn|, linked, each with world files of its own place.
inline bool linkTiles(const QString& drawn, int drawnSide, const QString& folder, int rows,
                      int columns)
{
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const QString path = tilePath(folder, row, column);
            if (!QFile::link(tilePath(drawn, row % drawnSide, column % drawnSide), path) &&
                !QFile::copy(tilePath(drawn, row % drawnSide, column % drawnSide), path)) {
                return false;
            }
            if (!placeTile(path, row, column)) {
                return false;
            }
        }
    }
    return true;
}

// Runs |command| with the shell; its exit status, and in |peakMegabytes| the most memory it held.
inline int run(const std::string& command, double* peakMegabytes = nullptr)
{
    const pid_t child = fork();
    if (child == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (peakMegabytes != nullptr) {
        *peakMegabytes = static_cast<double>(usage.ru_maxrss) / 1024;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// How many times GDAL opened a GIF (and so decoded it) in the debug messages in |log|.
inline int gifOpenings(const std::string& log)
{
    std::ifstream in(log);
    int count = 0;
    for (std::string line; std::getline(in, line);) {
        count += line.find("succeeds as GIF") != std::string::npos ? 1 : 0;
    }
    return count;
}

} // namespace bench
