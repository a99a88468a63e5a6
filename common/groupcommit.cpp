#include "common/groupcommit.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <set>
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

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

} // namespace

int DurableCalls::syncData(const std::vector<int>& fds)
{
    for (const int fd : fds) {
        ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); // only a head start: errors show below
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
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
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

    // One sync for the data of every file still whole.
    std::vector<int> fds;
    for (const Set& set : sets) {
        if (set.main->ok()) {
            fds.push_back(set.main->descriptor());
        }
        for (const auto& file : set.beside) {
            if (file->ok()) {
                fds.push_back(file->descriptor());
            }
        }
    }
    const Status synced = fds.empty() ? Status{} : failure(calls_.syncData(fds));

    std::set<std::string> folders;
    const auto place = [&](WholeFile& file) -> Status {
        if (file.ok() && !synced) {
            file.discard();
            return synced;
        }
        Status placed = file.commitSynced([this](const std::string& from, const std::string& to) {
            return calls_.rename(from, to);
        });
        if (placed) {
            folders.insert(folderOf(file.target()));
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
    std::map<std::string, Status> folderSynced;
    for (const std::string& folder : folders) {
        folderSynced[folder] = failure(calls_.syncFolder(folder));
    }
    for (Set& set : sets) {
        if (set.placed) {
            const Status& folder = folderSynced[folderOf(set.main->target())];
            if (!folder) {
                set.placed = folder;
            }
        }
        for (std::size_t i = 0; i < set.beside.size(); ++i) {
            const auto it = folderSynced.find(folderOf(set.beside[i]->target()));
            if (set.besidePlaced[i] && it != folderSynced.end() && !it->second) {
                set.besidePlaced[i] = it->second;
            }
        }
        set.ended(set.placed, set.besidePlaced);
    }
}

} // namespace common
