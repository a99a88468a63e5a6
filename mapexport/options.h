#pragma once

// The exporter's command line.
#include "common/result.h"
#include "mapexport/gdalexport.h"
#include "mapexport/tiles.h"

#include <QString>
#include <QStringList>

namespace mapexport {

struct Options {
    QString folder; // empty: the folder mymaps of the working folder
    QString output;
    Format format = Format::GeoTiff;
    Choice choice;
    QString attribution; // empty: the tiles' own credit
    ExportSettings settings;
};

// The usage line and the --help text, both from the one table of options.
extern const QString usageText;
extern const QString helpText;

// The options of |arguments| (without the program's name), or a bad-input error with exit
// status 2 whose text is the reason and the usage line. "--help" and "--version" are answered
// before this.
common::Result<Options> parseOptions(const QStringList& arguments);

} // namespace mapexport
