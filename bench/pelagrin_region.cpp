// A region of 200 tiles of about 300 KB each through the real "Start download" path with one
// connection, offscreen, against curl fetching the same 200 URLs into files over one
// connection in one process. Both ask the same loopback HTTP/1.1 server with keep-alive.
#include "benchapp.h"
#include "regionbench.h"
#include "tileserver.h"

int main(int argc, char** argv)
{
    const bench::OffscreenRun run(argc, argv);
    bench::TileServer server(300 * 1024, 0);
    bench::RegionBench region(server.address());

    // Each round fetches the region ten times (2,000 tiles, one to two seconds for both) into
    // emptied folders, timing the fetching alone; rounds alternate between the window and curl.
    const bench::Rounds rounds = region.alternate(11, 10);
    if (!region.complete()) {
        return 1;
    }
    bench::report("pelagrin_region_200", rounds, "1.25");
    return 0;
}
