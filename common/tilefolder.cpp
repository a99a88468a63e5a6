#include "common/tilefolder.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace common {

namespace {

int preference(const QFileInfo& entry)
{
    int rank = entry.isDir() ? 0 : 10;
    if (entry.fileName() == tileFolderName) {
        return rank;
    }
    if (entry.fileName() == createdTileFolderName) {
        return rank + 1;
    }
    return rank + 2;
}

} // namespace

std::optional<QString> findTileFolder(const QDir& dir)
{
    const QFileInfoList entries = dir.entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    std::optional<QFileInfo> best;
    for (const QFileInfo& entry : entries) {
        if (entry.fileName().compare(tileFolderName, Qt::CaseInsensitive) != 0) {
            continue;
        }
        if (!best || preference(entry) < preference(*best)) {
            best = entry;
        }
    }
    if (!best) {
        return std::nullopt;
    }
    return best->fileName();
}

TileFolder TileFolder::lookUp(const QDir& dir)
{
    return TileFolder(findTileFolder(dir).value_or(tileFolderName));
}

TileFolder TileFolder::ensure(const QDir& dir, bool* created)
{
    const auto found = findTileFolder(dir);
    const bool made = !found && dir.mkdir(createdTileFolderName);
    if (created != nullptr) {
        *created = made;
    }
    return TileFolder(found ? *found : made ? createdTileFolderName : tileFolderName);
}

bool TileFolder::isFolder() const
{
    return QFileInfo(path_).isDir();
}

QStringList listTileImages(const QString& folder)
{
    // Read straight from the directory: a folder may hold tens of thousands of tiles, and
    // QDir's listing costs a few microseconds per entry.
    const QByteArray path = QFile::encodeName(folder);
    DIR* dir = ::opendir(path.constData());
    if (dir == nullptr) {
        return {};
    }
    QStringList names;
    const int fd = ::dirfd(dir);
    // readdir is safe here: the directory stream belongs to this call alone.
    while (const dirent* entry = ::readdir(dir)) { // NOLINT(concurrency-mt-unsafe)
        const char* name = entry->d_name;
        const std::size_t length = std::strlen(name);
        if (name[0] == '.' || length < 4 || ::strcasecmp(name + length - 4, ".gif") != 0) {
            continue;
        }
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat target {}; // a link counts as what it points to
            regular = ::fstatat(fd, name, &target, 0) == 0 && S_ISREG(target.st_mode);
        }
        if (regular) {
            names.append(QFile::decodeName(name));
        }
    }
    ::closedir(dir);
    // Name order ignoring case; names that differ only in case in a fixed order.
    std::vector<std::pair<QString, QString>> keyed;
    keyed.reserve(static_cast<std::size_t>(names.size()));
    for (QString& name : names) {
        keyed.emplace_back(name.toCaseFolded(), std::move(name));
    }
    std::sort(keyed.begin(), keyed.end());
    names.clear();
    for (auto& [key, name] : keyed) {
        names.append(std::move(name));
    }
    return names;
}

} // namespace common
