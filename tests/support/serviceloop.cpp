#include "serviceloop.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace testsupport {

boost::asio::io_context& serviceLoop()
{
    static boost::asio::io_context loop(1);
    return loop;
}

} // namespace testsupport

namespace mapservice {

namespace {

// The loop runs on a thread of its own while anyone waits: the first waiter starts it, the last
// one stops it. Waiters on several threads share it.
class Running {
public:
    Running()
    {
        const std::lock_guard lock(mutex());
        if (waiters()++ == 0) {
            auto& loop = testsupport::serviceLoop();
            loop.restart();
            runner() = std::thread([&loop] {
                const auto busy = boost::asio::make_work_guard(loop);
                loop.run();
            });
        }
    }
    ~Running()
    {
        const std::lock_guard lock(mutex());
        if (--waiters() == 0) {
            testsupport::serviceLoop().stop();
            runner().join();
        }
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

private:
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    static int& waiters()
    {
        static int n = 0;
        return n;
    }
    static std::thread& runner()
    {
        static std::thread t;
        return t;
    }
};

} // namespace

common::Result<GatheredPtr> gatherNow(const Source& source, const MapRequest& request,
                                      const Wanted& wanted)
{
    struct Outcome {
        std::mutex mutex;
        std::condition_variable came;
        std::optional<common::Result<GatheredPtr>> gathered;
    };
    auto outcome = std::make_shared<Outcome>();
    // Gathered on the loop, as the service gathers, and told there.
    const Running running;
    boost::asio::post(testsupport::serviceLoop(), [&source, request, wanted, outcome] {
        source.gather(request, wanted, [outcome](common::Result<GatheredPtr> g) {
            const std::lock_guard lock(outcome->mutex);
            outcome->gathered = std::move(g);
            outcome->came.notify_all();
        });
    });
    std::unique_lock lock(outcome->mutex);
    outcome->came.wait(lock, [&] { return outcome->gathered.has_value(); });
    return std::move(*outcome->gathered);
}

common::Result<Picture> drawNow(const Source& source, const MapRequest& request)
{
    const auto gathered = gatherNow(source, request);
    if (!gathered) {
        return gathered.error();
    }
    return source.drawGathered(request, gathered->get(), {});
}

Answer answerMapRequest(const std::string& query, const Source& source)
{
    const auto request = readMapRequest(query);
    if (!request) {
        return refusal(request.error());
    }
    const auto gathered = gatherNow(source, *request);
    if (!gathered) {
        return refusal(gathered.error());
    }
    return drawAnswer(*request, source, gathered->get());
}

} // namespace mapservice
