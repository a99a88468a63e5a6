#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

namespace common {

// The folder that all programs share holds the tiles. It is named "mymaps" whatever the case
// of its letters; when a program creates it, it is created as "MyMaps".
inline const QString tileFolderName = QStringLiteral("mymaps");
inline const QString createdTileFolderName = QStringLiteral("MyMaps");

// Name of the entry in |dir| that is named "mymaps" ignoring case, file or folder alike, or
// nothing. When several exist, a folder wins over a file, then "mymaps", then "MyMaps", then
// the first in name order.
std::optional<QString> findTileFolder(const QDir& dir = QDir::current());

// The tile images of |folder|: ordinary files matching "*.gif" in any letter case, hidden files
// left out, sorted by name ignoring case. Empty when |folder| is no folder.
QStringList listTileImages(const QString& folder);

// The tile folder as every program reaches it: looked up in the working folder, created there
// by the programs that write tiles, then read or written through path() and pathOf().
class TileFolder {
public:
    // The folder at |path|, for a folder that is known rather than looked up.
    explicit TileFolder(QString path) : path_(std::move(path)) {}

    // The entry named "mymaps" in any case in |dir| (see findTileFolder), or the name "mymaps"
    // when there is none, so that a later lookup of a file in it simply finds nothing. The path
    // is relative to |dir|.
    static TileFolder lookUp(const QDir& dir = QDir::current());
    // The same, after creating "MyMaps" in |dir| when no entry of the name exists; |created|,
    // when given, tells whether it was created.
    static TileFolder ensure(const QDir& dir = QDir::current(), bool* created = nullptr);

    // Whether it is a folder that tiles can be read from; an entry of the name that is a file
    // is not.
    bool isFolder() const;
    const QString& path() const { return path_; }
    // Path of the file |fileName| in the folder.
    QString pathOf(const QString& fileName) const { return path_ + u'/' + fileName; }
    // See listTileImages.
    QStringList tileImages() const { return listTileImages(path_); }

private:
    QString path_;
};

} // namespace common
