#pragma once

// The map service's loop in the tests: one for the whole test program, which every source's
// network is made on (see RemoteOptions::loop) and every test server serves on. It runs on a
// thread of its own while a test waits for what a source gathers, and while a test server runs;
// never on two threads at once.
#include "mapservice/http/answer.h"
#include "mapservice/sources/remotesource.h"
#include "mapservice/sources/source.h"

#include <boost/asio/io_context.hpp>

namespace testsupport {

boost::asio::io_context& serviceLoop();

// |options| with the remote sources' network on serviceLoop().
inline mapservice::RemoteOptions onServiceLoop(mapservice::RemoteOptions options = {})
{
    options.loop = &serviceLoop();
    return options;
}

} // namespace testsupport

namespace mapservice {

// What |source| gathers for |request|, the service's loop running on a thread of its own until it
// has come.
common::Result<GatheredPtr> gatherNow(const Source& source, const MapRequest& request,
                                      const Wanted& wanted = {});

// The picture of |request| from |source|: gathered as gatherNow does, then drawn on this thread.
common::Result<Picture> drawNow(const Source& source, const MapRequest& request);

// The answer to the map request |query|, gathered and drawn as drawNow does.
Answer answerMapRequest(const std::string& query, const Source& source);

} // namespace mapservice
