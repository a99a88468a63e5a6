#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace common {

// What every program answers before it makes a window, so that it needs no display: the text
// for standard output when |arguments| (without the program's name) hold "--version" (the
// program's name and the suite's version) or "--help" (|help|); nothing otherwise. The first
// of the two wins.
std::optional<QString> versionOrHelp(const QStringList& arguments, const QString& program,
                                     const QString& help);

// The arguments after the program's name, as the system passed them.
QStringList argumentsOf(int argc, char** argv);

} // namespace common
