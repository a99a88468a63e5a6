#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

#include <optional>

namespace common {

// The folder that all programs share holds the tiles. It is named "mymaps" whatever the case
// of its letters; when a program creates it, it is created as "MyMaps".
inline const QString tileFolderName = QStringLiteral("mymaps");
inline const QString createdTileFolderName = QStringLiteral("MyMaps");

// Name of the entry in |dir| that is named "mymaps" ignoring case, file or folder alike, or
// nothing. When several exist, a folder wins over a file, then "mymaps", then "MyMaps", then
// the first in name order.
std::optional<QString> findTileFolder(const QDir& dir = QDir::current());

// Path of the tile folder relative to |dir|: the existing entry's name, or "mymaps" when
// there is none (so that a later lookup of a file in it simply finds nothing).
QString tileFolderPath(const QDir& dir = QDir::current());

// Creates "MyMaps" in |dir| unless an entry named "mymaps" (any case) exists. Returns true
// when it created the folder.
bool ensureTileFolder(const QDir& dir = QDir::current());

// The tile images of |folder|: ordinary files matching "*.gif" in any letter case, hidden files
// left out, sorted by name ignoring case. Empty when |folder| is no folder.
QStringList listTileImages(const QString& folder);

} // namespace common
