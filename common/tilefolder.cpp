#include "tilefolder.h"

#include <QFileInfo>

#include <algorithm>

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
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                          QDir::Name);
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

QString tileFolderPath(const QDir& dir)
{
    return findTileFolder(dir).value_or(tileFolderName);
}

bool ensureTileFolder(const QDir& dir)
{
    if (findTileFolder(dir)) {
        return false;
    }
    return dir.mkdir(createdTileFolderName);
}

} // namespace common

QStringList common::listTileImages(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*.gif")}, QDir::Files,
                                  QDir::Name | QDir::IgnoreCase);
}
