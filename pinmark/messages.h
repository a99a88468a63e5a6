#pragma once

#include "common/commandline.h"

// Everything Pinmark tells the user, in one place.
#include <QString>
#include <QStringList>

namespace pinmark {

QString progressText(int written);
QString skippedMessage(const QStringList& skipped);
// Images left out because an image before them has written a calibration file of that name.
QString clashMessage(const QStringList& clashed);
QString failedMessage(const QStringList& failed);

inline const QString noImagesMessage = QStringLiteral(
    "There are no downloaded images: the folder mymaps does not exist in this directory.");

inline const QString closingMessage = QStringLiteral(
    "Ready! Creating automatic map files. Note this is the first release of the map file "
    "generator. you have to set the calibration point 1 and point 2 manually in each map file. "
    "it could be possible that the coordinates are already ok and you only have to move the "
    "points to the right position of the grid. next release will do this automatic and will "
    "create full automatic calibrated map files. Note: Be sure to have in your OziExplorer "
    "configuration->Maps->Lat/Long Display selected 'Degrees' (the first) otherwise it could be "
    "possible the map file won't works");

inline const QString helpText = common::windowProgramHelp(
    QStringLiteral("pinmark"),
    QStringLiteral(
        "Writes a calibration file (.map) beside every tile in the folder mymaps of the working\n"
        "folder, then shows how many it wrote.\n"));

} // namespace pinmark
