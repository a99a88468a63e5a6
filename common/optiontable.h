#pragma once

// A program's command line declared once: each option's name, placeholder, help, what its value
// must be (a whole number or a number within a range, one of some words, any text; for some a
// map code before it) with its default, and where the value goes. The same table parses the
// arguments ("--x v" and "--x=v" alike), checks and converts each value, and prints the usage
// line and the options' part of --help with every range and default, so they cannot drift
// apart. Plain C++, for the map service too.
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace common::options {

// Why a value or an argument is refused, in the program's words; nothing when it is taken.
using Refusal = std::optional<std::string>;

// What an option's value must be, as its declaration says: --help shows the range and the
// default, and a refusal says what was expected.
struct Value {
    enum class Kind { Any, Whole, Decimal, Choice };
    Kind kind = Kind::Any;
    double low = -std::numeric_limits<double>::infinity();
    double high = std::numeric_limits<double>::infinity();
    std::vector<std::string> choices{};
    std::string byDefault{}; // as --help shows it; empty: none to show
    std::string expects{};   // what a refusal says was expected; empty: made from the above
    std::string unit{};      // after a range in --help and refusals: "km"
};

struct Option {
    std::string name;        // "--zoom"
    std::string placeholder; // "Z"; empty for a switch, which takes no value
    std::string help;        // what it does; "\n" starts a line of its own
    // Takes the value ("" for a switch), which it may refuse in its own words. Without it the
    // option is only shown: --help and --version, which a program answers before it parses.
    std::function<Refusal(const std::string& value)> take;
    bool repeatable = false; // shown with "..." in the usage line
    bool inSynopsis = true;  // --help and --version are not
    Value value{};           // checked before |take| is given it
};

// What a value of |value| must be, for a refusal: "a whole number from 1 to 6", "a number",
// "auto, png, jpeg or webp".
std::string expected(const Value& value);

// |value|'s range as --help and some refusals give it: "1 to 6", "from 1", "" for none.
std::string range(const Value& value);

// How a program words the arguments that are no option of its table.
struct Wording {
    std::function<std::string(const std::string& argument)> unknown{};
    // An option with a value came last; by default worded as an unknown argument.
    std::function<std::string(const Option& option)> missingValue{};
    // A value its declaration refuses; by default "--x takes EXPECTED, not "VALUE"".
    std::function<std::string(const Option& option, const std::string& value)> badValue{};
};

// Options declared with what their value must be. A number is read whole (no blanks, nothing
// after it) and must lie within [low, high]; the default --help shows is |byDefault| ("" for
// none). Each stores the value it took with |store|.
Option wholeOption(std::string name, std::string placeholder, std::string help, double low,
                   double high, std::string byDefault, std::function<void(long)> store);
Option decimalOption(std::string name, std::string placeholder, std::string help, double low,
                     double high, std::string byDefault, std::function<void(double)> store);
// One of |choices|, shown as the placeholder "a|b|c".
Option choiceOption(std::string name, std::vector<std::string> choices, std::string help,
                    std::string byDefault, std::function<void(const std::string&)> store);
// Any text: a path, an address, a credit.
Option textOption(std::string name, std::string placeholder, std::string help,
                  std::string byDefault, std::function<void(const std::string&)> store,
                  bool repeatable = false);
// No value: |flag| becomes true.
Option switchOption(std::string name, std::string help, bool& flag, bool inSynopsis = true);

// The number |text| holds whole, in decimal notation ("12", "0.5", "1e3"), or nothing.
std::optional<double> numberIn(const std::string& text);

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
// (on the next line when the name is wider); the help's own lines start there too. The help
// ends with the range and the default its value declares: "(1 to 6, default 2)".
std::string optionLines(const std::vector<Option>& table, std::size_t column);

} // namespace common::options
