#pragma once

// A program's command line declared once: each option's name, placeholder, help and the code
// that takes its value. The same table parses the arguments ("--x v" and "--x=v" alike) and
// prints the usage line and the options' part of --help, so the two cannot drift apart. Plain
// C++, for the map service too.
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace common::options {

// Why a value or an argument is refused, in the program's words; nothing when it is taken.
using Refusal = std::optional<std::string>;

struct Option {
    std::string name;        // "--zoom"
    std::string placeholder; // "Z"; empty for a switch, which takes no value
    std::string help;        // what it does; "\n" starts a line of its own
    // Takes the value ("" for a switch). Without it the option is only shown: --help and
    // --version, which a program answers before it parses.
    std::function<Refusal(const std::string& value)> take;
    bool repeatable = false; // shown with "..." in the usage line
    bool inSynopsis = true;  // --help and --version are not
};

// How a program words the arguments that are no option of its table.
struct Wording {
    std::function<std::string(const std::string& argument)> unknown;
    // An option with a value came last; by default worded as an unknown argument.
    std::function<std::string(const Option& option)> missingValue;
};

// |table| with the lines of --help and --version (|version| says what --version prints), which
// a program answers before it parses.
std::vector<Option> withHelpAndVersion(std::vector<Option> table,
                                       const std::string& version = "the program's version");

// The table |make| fills a program's options with, for showing only: its values go nowhere.
template <typename Options> std::vector<Option> shownTable(std::vector<Option> (*make)(Options&))
{
    static Options unused;
    return make(unused);
}

// Goes through |arguments| in order: an option of |table|, with its value after it or after
// "="; an argument that does not start with "--" goes to |operand| (when there is none, it is
// unknown). The first refusal, or nothing when every argument was taken.
Refusal parse(const std::vector<Option>& table, const std::vector<std::string>& arguments,
              const Wording& wording,
              const std::function<Refusal(const std::string&)>& operand = {});

// "[--name PLACEHOLDER]" for each option (with "..." after a repeatable one), joined by
// blanks and wrapped before |width| columns; continuation lines are indented by |indent|.
std::string synopsis(const std::vector<Option>& table, std::size_t indent, std::size_t width = 96);

// A line per option: two blanks, the name and placeholder, and the help starting at |column|
// (on the next line when the name is wider); the help's own lines start there too.
std::string optionLines(const std::vector<Option>& table, std::size_t column);

} // namespace common::options
