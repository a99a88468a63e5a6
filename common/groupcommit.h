#pragma once

// Files made durable together. Each file is written whole to its hidden temporary (see
// common/wholefile.h); a group then costs one sync of all their data, the renames, and one sync
// of each folder, where files committed one by one cost a sync each and a sync of the file
// system's journal for each. The guarantee
// is the one a single WholeFile gives: until the group's commit has told a file's end, a kill or
// a power cut leaves the old file or none; once it has told it in place, the file and its name
// are on the disk.
#include "common/result.h"
#include "common/wholefile.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace common {

// The system calls by which a group is made durable, each returning 0 or the error number; a
// test puts a recorder of their order here.
class DurableCalls {
public:
    virtual ~DurableCalls() = default;
    // Writes the data of the open files |fds| to the disk: their writing begins for all at once,
    // then each is waited for, so that one commit of a file system's journal covers them all.
    // Unlike a sync of the whole file system, it never waits for other programs' data.
    virtual int syncData(const std::vector<int>& fds);
    virtual int rename(const std::string& from, const std::string& to);
    // Writes the entries of |folder| to the disk.
    virtual int syncFolder(const std::string& folder);
    // Whether the file system of |fd| keeps its files in memory alone (tmpfs, ramfs), where
    // nothing can be made durable and syncs are skipped.
    virtual bool inMemory(int fd);
};

DurableCalls& systemDurableCalls();

// When the writers commit a group: once it holds this many sets, or once its first has waited
// this long, whichever comes first.
constexpr std::size_t groupSets = 32;
constexpr std::chrono::milliseconds groupWait{500};

class GroupCommit {
public:
    // How a set ended: whether its main file is in place and on the disk, and whether each file
    // beside it is, in the order given. The files beside are not placed when the main one fails.
    using Ended = std::function<void(const Status& placed, const std::vector<Status>& beside)>;

    explicit GroupCommit(DurableCalls& calls = systemDurableCalls()) : calls_(calls) {}
    GroupCommit(const GroupCommit&) = delete;
    GroupCommit& operator=(const GroupCommit&) = delete;

    // Adds a main file and the files beside it, each written and not yet committed; |ended|
    // runs from commit().
    void add(std::unique_ptr<WholeFile> main, std::vector<std::unique_ptr<WholeFile>> beside,
             Ended ended);
    // The sets added since the last commit.
    std::size_t size() const { return sets_.size(); }
    // When the oldest set waiting was added.
    std::chrono::steady_clock::time_point oldest() const { return oldest_; }
    // Puts every set added in place: the data of all synced, then each set's files renamed (the
    // main one first), then the folders synced; then tells each set, in the order added. A sync
    // that fails fails every file of the group, and their targets stay as they were.
    void commit();

private:
    struct Set {
        std::unique_ptr<WholeFile> main;
        std::vector<std::unique_ptr<WholeFile>> beside;
        Ended ended;
        Status placed;
        std::vector<Status> besidePlaced;
    };

    DurableCalls& calls_;
    std::vector<Set> sets_;
    std::chrono::steady_clock::time_point oldest_;
};

} // namespace common
