#pragma once

// The tile server fixture of the remote source tests: a tile server on 127.0.0.1 whose tiles are
// flat colours, and the options of a table that asks it.
#include "manualclock.h"
#include "serviceloop.h"
#include "upstreamfakes.h"

namespace testsupport {

class XyzSource : public ::testing::Test {
protected:
    mapservice::RemoteOptions options()
    {
        mapservice::RemoteOptions o{(work.path() + QStringLiteral("/cache")).toStdString(), 19,
                                    "mapservice/test (tests@example.org)", cacheMegabytes,
                                    timeoutSeconds};
        o.clock = clock;
        o.loop = &serviceLoop();
        return o;
    }
    QImage picture(const mapservice::Answer& answer)
    {
        return QImage::fromData(reinterpret_cast<const uchar*>(answer.body.data()),
                                static_cast<int>(answer.body.size()), "GIF");
    }
    mapservice::Answer ask(const std::string& query)
    {
        mapservice::SourceTable table(mapservice::testShores(), options());
        EXPECT_TRUE(table.add(tiles.spec()).ok());
        return mapservice::answerMapRequest(query, table);
    }

    testsupport::TempWorkDir work;
    TileServer tiles;
    int timeoutSeconds = 30;
    int cacheMegabytes = 2048;
    // The real time, or |manual| for a test that moves time on itself.
    const mapservice::Clock* clock = &mapservice::realClock();
    ManualClock manual;
    // 0.4 degrees around 48 N 10 E, 0.001 degrees a pixel: tiles of zoom 11 (0.0014 degrees
    // a pixel would be coarser than the picture, zoom 12 needlessly fine).
    const std::string query = "CenP=48,10&Alti=90&Size=400,400&Lang=EUR0407";
};

} // namespace testsupport
