#include "common/groupcommit.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <linux/magic.h>
#include <map>
#include <set>
#include <string_view>
#include <sys/statfs.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace common {

namespace {

Status failure(int error)
{
    if (error == 0) {
        return {};
    }
    return permanent(std::error_code(error, std::generic_category()).message());
}

std::string_view folderOf(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        return ".";
    }
    return slash == 0 ? std::string_view("/") : path.substr(0, slash);
}

// What the group learnt of a folder: whether its file system keeps its files in memory alone,
// and how the sync of its entries went.
struct Folder {
    bool inMemory = false;
    Status synced;
};

} // namespace

int DurableCalls::syncData(const std::vector<int>& fds)
{
    for (const int fd : fds) {
        // Only a head start, which lets one commit of the journal cover every file: errors show
        // below.
        ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    }
    int error = 0;
    for (const int fd : fds) {
        if (::fdatasync(fd) != 0 && errno != EINVAL && error == 0) {
            error = errno;
        }
    }
    return error;
}

int DurableCalls::rename(const std::string& from, const std::string& to)
{
    return replaceFile(from, to);
}

int DurableCalls::syncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    // Some file systems cannot sync a folder; their entries are then as durable as they get.
    const int error = ::fsync(fd) != 0 && errno != EINVAL ? errno : 0;
    ::close(fd);
    return error;
}

bool DurableCalls::inMemory(int fd)
{
    struct statfs s {};
    return ::fstatfs(fd, &s) == 0 && (s.f_type == TMPFS_MAGIC || s.f_type == RAMFS_MAGIC);
}

DurableCalls& systemDurableCalls()
{
    static DurableCalls calls;
    return calls;
}

void GroupCommit::add(std::unique_ptr<WholeFile> main,
                      std::vector<std::unique_ptr<WholeFile>> beside, Ended ended)
{
    if (sets_.empty()) {
        oldest_ = std::chrono::steady_clock::now();
    }
    sets_.push_back({std::move(main), std::move(beside), std::move(ended), {}, {}});
    sets_.back().besidePlaced.reserve(sets_.back().beside.size());
}

void GroupCommit::commit()
{
    std::vector<Set> sets = std::exchange(sets_, {});

    // The folders of the files, each with whether it lies in memory (asked once a folder).
    std::map<std::string, Folder, std::less<>> folders;
    const auto folderOfFile = [&](const WholeFile& file) -> Folder& {
        const std::string_view name = folderOf(file.target());
        auto it = folders.find(name);
        if (it == folders.end()) {
            it = folders.emplace(std::string(name), Folder{}).first;
            it->second.inMemory = file.ok() && calls_.inMemory(file.descriptor());
        }
        return it->second;
    };

    // One sync for the data of every file still whole and on a disk.
    std::vector<int> fds;
    for (const Set& set : sets) {
        if (set.main->ok() && !folderOfFile(*set.main).inMemory) {
            fds.push_back(set.main->descriptor());
        }
        for (const auto& file : set.beside) {
            if (file->ok() && !folderOfFile(*file).inMemory) {
                fds.push_back(file->descriptor());
            }
        }
    }
    Status synced = fds.empty() ? Status{} : failure(calls_.syncData(fds));

    std::set<Folder*> renamedIn;
    const auto place = [&](WholeFile& file) -> Status {
        if (file.ok() && !synced) {
            file.discard();
            return synced;
        }
        Folder& folder = folderOfFile(file);
        Status placed = file.commitSynced([this](const std::string& from, const std::string& to) {
            return calls_.rename(from, to);
        });
        if (placed && !folder.inMemory) {
            renamedIn.insert(&folder);
        }
        return placed;
    };
    for (Set& set : sets) {
        set.placed = place(*set.main);
        for (auto& file : set.beside) {
            if (set.placed) {
                set.besidePlaced.push_back(place(*file));
            } else {
                file->discard();
                set.besidePlaced.push_back(set.placed);
            }
        }
    }

    // The names are on the disk once their folders are.
    for (auto& [name, folder] : folders) {
        if (renamedIn.count(&folder) != 0) {
            folder.synced = failure(calls_.syncFolder(name));
        }
    }
    for (Set& set : sets) {
        if (const Status& folder = folderOfFile(*set.main).synced; set.placed && !folder) {
            set.placed = folder;
        }
        for (std::size_t i = 0; i < set.beside.size(); ++i) {
            const Status& folder = folderOfFile(*set.beside[i]).synced;
            if (set.besidePlaced[i] && !folder) {
                set.besidePlaced[i] = folder;
            }
        }
        set.ended(set.placed, set.besidePlaced);
    }
}

} // namespace common
