#pragma once

#include "common/optiontable.h"

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

// The first of |arguments| that a window program with no options of its own does not take:
// anything but --help, --version and Qt's own options (-platform NAME, -style NAME or
// -style=NAME, -reverse ...); nothing when it takes them all.
std::optional<QString> unknownArgument(const QStringList& arguments);

// The arguments after the program's name, as the system passed them.
QStringList argumentsOf(int argc, char** argv);

// A window program's usage line from its option table, on one line (a refusal ends with it):
// "usage: PROGRAM [--x X] ... AFTER".
QString usageLine(const QString& program, const std::vector<options::Option>& table,
                  const QString& after = {});

// Its --help: |usage| (as "Usage: ..."), then |about| (whole lines), then "Options:" and a line
// per option, the help starting at |column|.
QString helpText(const QString& usage, const QString& about,
                 const std::vector<options::Option>& table, std::size_t column);

// The --help of a window program with no options of its own: its usage, |about| and the lines
// of --help and --version.
QString windowProgramHelp(const QString& program, const QString& about);

// The first refusal of |table| for |arguments| (see options::parse).
options::Refusal
parseArguments(const std::vector<options::Option>& table, const QStringList& arguments,
               const options::Wording& wording,
               const std::function<options::Refusal(const std::string&)>& operand = {});

} // namespace common
