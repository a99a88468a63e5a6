#pragma once

// A file that appears under its name only when it is whole. The content goes to a hidden
// temporary file in the target's folder, is flushed and then renamed over the target, so at
// any moment (a failure, a kill, a power cut) the target is either its old self or, for a new
// file, absent. Until commit() succeeds nothing of the new content remains when the object
// goes away. Plain C++: the windows, the exporter and the map service's tile cache write so.
//
// Temporary names are ".~<pid>-<serial>.tmp" with the writing process's id and a serial, both
// as 8 hex digits: hidden, 23 characters whatever the target's name (so a target name that
// fits the file system fits as a temporary too), and never a "*.gif" or "*.map" that a reader
// would pick up. The writer holds an exclusive lock on its temporary file until the rename, so
// a clean-up tells the leftover of a killed writer from the file of one that still runs.
//
// Errors are sticky: after the first failure nothing more is written, and commit() reports it.
#include "common/result.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace common {

class WholeFile {
public:
    // Synced: the data reach the disk before the name does (a power cut leaves the old file or
    // the new one). Unsynced: only a kill is covered; for a cache, whose newest entries may be
    // lost but never seen partial.
    enum class Durability { Synced, Unsynced };

    explicit WholeFile(std::string target, Durability durability = Durability::Synced);
    ~WholeFile();
    WholeFile(const WholeFile&) = delete;
    WholeFile& operator=(const WholeFile&) = delete;

    // Creates and locks the temporary file.
    void open();
    // Appends |size| bytes.
    void write(const void* data, std::size_t size);
    // Empties what was written, to write it again from the start.
    void restart();
    // Puts the content in place: flushed (when Synced), then renamed over the target. The
    // first error otherwise, its text the system's reason; the temporary is gone then.
    Status commit();
    // The same for a file another library wrote under a name that appends to the temporary's
    // (see companion()), while this object held the lock; it replaces the temporary's content.
    Status commitFrom(const std::string& written);
    // For a file whose data were synced with a group's (see common/groupcommit.h): renamed over
    // the target through |rename| (0 or the error number), without a sync of its own.
    using Rename = std::function<int(const std::string& from, const std::string& to)>;
    Status commitSynced(const Rename& rename);
    // Drops what was written; the target stays as it was.
    void discard();

    bool ok() const { return !error_; }
    const std::optional<Error>& error() const { return error_; }
    // Whether the first error was a full file system or quota.
    bool diskFull() const { return diskFull_; }
    const std::string& target() const { return target_; }
    // The temporary's open descriptor; -1 when nothing is open.
    int descriptor() const { return fd_; }
    // The temporary's path; empty until open() succeeded.
    const std::string& temporary() const { return temporary_; }
    // A name beside the temporary that a clean-up counts as the temporary's own.
    std::string companion(std::string_view suffix) const
    {
        return temporary_ + std::string(suffix);
    }

private:
    void fail(int systemError);
    Status renameOver(const std::string& from, bool sync, const Rename& rename);

    std::string target_;
    Durability durability_;
    std::string temporary_; // empty when nothing is open
    int fd_ = -1;
    std::optional<Error> error_;
    bool diskFull_ = false;
};

// Renames |from| to |to|, replacing a file there and giving |from| its permissions first;
// returns 0 or the errno of the failure.
int replaceFile(const std::string& from, const std::string& to);

// Whether |fileName| (without folder) has the form of a WholeFile's temporary name, or of one
// with a suffix appended.
bool isTemporaryName(std::string_view fileName);

// Whether the file |fileName| in the folder open as |folderFd| is a WholeFile temporary (or a
// companion) of a writer that no longer runs: its process is gone, or it was never one of
// ours, and nobody holds its lock (for a companion: the lock of the name without the suffix).
// A writer in another process namespace may share the folder: its lock still shows.
bool isStaleTemporary(int folderFd, std::string_view fileName);

} // namespace common
