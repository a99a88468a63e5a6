#pragma once

#include "mapservice/network/upstream.h"
#include "mapservice/sources/source.h"

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace mapservice {

// What a picture gathered from upstream: the cached file of each answer, by name.
struct FetchedFiles : Gathered {
    std::map<std::string, std::string> files;
    std::vector<std::string> fetchedFiles() const override
    {
        std::vector<std::string> out;
        out.reserve(files.size());
        for (const auto& [name, file] : files) {
            out.push_back(file);
        }
        return out;
    }
};

// Gathers the upstream answers one picture needs: each name asked once, the picture failed at
// its first failing answer (the others then stop), done once all have come. Used on the loop
// alone, where the answers come.
class Collector : public std::enable_shared_from_this<Collector> {
public:
    using Files = std::map<std::string, std::string>; // name: cached file
    using Make = std::function<std::shared_ptr<Gathered>(Files)>;

    Collector(Upstream& upstream, std::string keyPrefix, Wanted wanted, Gathering done, Make make,
              std::shared_ptr<const Manners> manners = nullptr)
        : upstream_(upstream), keyPrefix_(std::move(keyPrefix)), wanted_(std::move(wanted)),
          done_(std::move(done)), make_(std::move(make)), manners_(std::move(manners))
    {}

    // Asks for |name| at |url|, a picture of |size|; |ifMissing| runs when the upstream has
    // nothing there.
    void ask(const std::string& name, const std::string& url, const std::string& what,
             PictureSize size, std::function<void()> ifMissing = {})
    {
        if (finished_ || !asked_.insert(name).second) {
            return;
        }
        ++outstanding_;
        upstream_.fetch(
            url, keyPrefix_ + "/" + name, what, size, wanted_,
            [self = shared_from_this(), name, ifMissing = std::move(ifMissing)](
                const common::Result<std::string>& fetched, const Network::Kept& kept) {
                self->arrived(name, fetched, kept, ifMissing);
            },
            manners_);
    }

    // Every first request is made.
    void started() { release(); }

private:
    void arrived(const std::string& name, const common::Result<std::string>& fetched,
                 const Network::Kept& kept, const std::function<void()>& ifMissing)
    {
        if (fetched) {
            files_[name] = *fetched;
            if (kept) {
                kept_.push_back(kept);
            }
        } else if (fetched.error().kind != common::ErrorKind::NotFound) {
            fail(fetched.error());
        } else if (ifMissing) {
            ifMissing();
        }
        release();
    }

    void release()
    {
        if (--outstanding_ > 0 || finished_) {
            return;
        }
        finished_ = true;
        auto made = make_(std::move(files_));
        made->kept = std::move(kept_);     // until the picture is drawn or given up
        made->deadline = wanted_.deadline; // fetching, decoding and warping share one time-out
        made->clock = wanted_.clock;
        done_(GatheredPtr(std::move(made)));
    }

    void fail(const common::Error& error)
    {
        if (finished_) {
            return;
        }
        finished_ = true;
        kept_.clear();            // no picture will read them
        wanted_.abandoned->set(); // the picture's other requests stop
        done_(error);
    }

    Upstream& upstream_;
    const std::string keyPrefix_;
    const Wanted wanted_;
    const Gathering done_;
    const Make make_;
    const std::shared_ptr<const Manners> manners_;
    int outstanding_ = 1; // the first requests being made
    bool finished_ = false;
    std::set<std::string> asked_;
    Files files_;
    std::vector<Network::Kept> kept_;
};

} // namespace mapservice
