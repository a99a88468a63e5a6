#include "common/optiontable.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace common::options {

namespace {

std::string shown(const Option& option)
{
    return option.placeholder.empty() ? option.name : option.name + ' ' + option.placeholder;
}

// A bound as people write it: 6, 0.1, 1000000.
std::string number(double value)
{
    std::ostringstream text;
    text.precision(15);
    text << value;
    return text.str();
}

// |words| joined by |between|, the last two by |last|.
std::string joined(const std::vector<std::string>& words, const char* between, const char* last)
{
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == words.size() ? last : between) + words[i];
    }
    return text;
}

// Whether |text| is a value |value| takes.
bool accepts(const Value& value, const std::string& text)
{
    switch (value.kind) {
    case Value::Kind::Any:
        return true;
    case Value::Kind::Choice:
        return std::find(value.choices.begin(), value.choices.end(), text) != value.choices.end();
    case Value::Kind::Whole:
    case Value::Kind::Decimal: {
        const auto n = numberIn(text);
        return n && *n >= value.low && *n <= value.high &&
               (value.kind == Value::Kind::Decimal || *n == std::floor(*n));
    }
    }
    return false;
}

} // namespace

std::optional<double> numberIn(const std::string& text)
{
    // Decimal notation alone: no blanks, no hexadecimal, no "inf" or "nan".
    if (text.empty() || text.find_first_not_of("0123456789+-.eE") != std::string::npos) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const double n = std::strtod(text.c_str(), &end);
    if (*end != '\0' || errno != 0 || !std::isfinite(n)) {
        return std::nullopt;
    }
    return n;
}

std::string range(const Value& value)
{
    const bool low = std::isfinite(value.low);
    const bool high = std::isfinite(value.high);
    std::string text = low && high ? number(value.low) + " to " + number(value.high)
                       : low       ? "from " + number(value.low)
                       : high      ? "up to " + number(value.high)
                                   : "";
    return text.empty() || value.unit.empty() ? text : text + ' ' + value.unit;
}

std::string expected(const Value& value)
{
    if (!value.expects.empty()) {
        return value.expects;
    }
    switch (value.kind) {
    case Value::Kind::Choice:
        return joined(value.choices, ", ", " or ");
    case Value::Kind::Whole:
    case Value::Kind::Decimal: {
        const std::string kind = value.kind == Value::Kind::Whole ? "a whole number" : "a number";
        const std::string within = range(value);
        const bool bothEnds = std::isfinite(value.low) && std::isfinite(value.high);
        return within.empty() ? kind : kind + (bothEnds ? " from " : " ") + within;
    }
    case Value::Kind::Any:
        break;
    }
    return "a value";
}

Option wholeOption(std::string name, std::string placeholder, std::string help, double low,
                   double high, std::string byDefault, std::function<void(long)> store)
{
    Option option{std::move(name), std::move(placeholder), std::move(help),
                  [store = std::move(store)](const std::string& text) -> Refusal {
                      store(static_cast<long>(*numberIn(text)));
                      return std::nullopt;
                  }};
    option.value = {Value::Kind::Whole,
                    static_cast<double>(low),
                    static_cast<double>(high),
                    {},
                    std::move(byDefault)};
    return option;
}

Option decimalOption(std::string name, std::string placeholder, std::string help, double low,
                     double high, std::string byDefault, std::function<void(double)> store)
{
    Option option{std::move(name), std::move(placeholder), std::move(help),
                  [store = std::move(store)](const std::string& text) -> Refusal {
                      store(*numberIn(text));
                      return std::nullopt;
                  }};
    option.value = {Value::Kind::Decimal, low, high, {}, std::move(byDefault)};
    return option;
}

Option choiceOption(std::string name, std::vector<std::string> choices, std::string help,
                    std::string byDefault, std::function<void(const std::string&)> store)
{
    std::string placeholder = joined(choices, "|", "|");
    Option option{std::move(name), std::move(placeholder), std::move(help),
                  [store = std::move(store)](const std::string& text) -> Refusal {
                      store(text);
                      return std::nullopt;
                  }};
    option.value.kind = Value::Kind::Choice;
    option.value.choices = std::move(choices);
    option.value.byDefault = std::move(byDefault);
    return option;
}

Option textOption(std::string name, std::string placeholder, std::string help,
                  std::string byDefault, std::function<void(const std::string&)> store,
                  bool repeatable)
{
    Option option{std::move(name), std::move(placeholder), std::move(help),
                  [store = std::move(store)](const std::string& text) -> Refusal {
                      store(text);
                      return std::nullopt;
                  },
                  repeatable};
    option.value.byDefault = std::move(byDefault);
    return option;
}

Option switchOption(std::string name, std::string help, bool& flag, bool inSynopsis)
{
    return {std::move(name),
            "",
            std::move(help),
            [&flag](const std::string&) -> Refusal {
                flag = true;
                return std::nullopt;
            },
            false,
            inSynopsis};
}

std::vector<Option> withHelpAndVersion(std::vector<Option> table, const std::string& version)
{
    table.push_back({"--help", "", "this text", nullptr, false, false});
    table.push_back({"--version", "", version, nullptr, false, false});
    return table;
}

Refusal parse(const std::vector<Option>& table, const std::vector<std::string>& arguments,
              const Wording& wording, const std::function<Refusal(const std::string&)>& operand)
{
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.rfind("--", 0) != 0) {
            if (!operand) {
                return wording.unknown(argument);
            }
            if (Refusal refused = operand(argument)) {
                return refused;
            }
            continue;
        }
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const auto option = std::find_if(table.begin(), table.end(),
                                         [&name](const Option& o) { return o.name == name; });
        if (option == table.end() || !option->take ||
            (option->placeholder.empty() && equals != std::string::npos)) {
            return wording.unknown(argument);
        }
        std::string value;
        if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
        } else if (!option->placeholder.empty()) {
            if (i + 1 == arguments.size()) {
                return wording.missingValue ? wording.missingValue(*option)
                                            : wording.unknown(argument);
            }
            value = arguments[++i];
        }
        if (!option->placeholder.empty() && !accepts(option->value, value)) {
            return wording.badValue ? wording.badValue(*option, value)
                                    : option->name + " takes " + expected(option->value) +
                                          ", not \"" + value + '"';
        }
        if (Refusal refused = option->take(value)) {
            return refused;
        }
    }
    return std::nullopt;
}

std::string synopsis(const std::vector<Option>& table, std::size_t indent, std::size_t width)
{
    std::string text;
    std::size_t lineLength = indent;
    for (const Option& option : table) {
        if (!option.inSynopsis) {
            continue;
        }
        const std::string item = '[' + shown(option) + ']' + (option.repeatable ? "..." : "");
        if (!text.empty() && lineLength + 1 + item.size() > width) {
            text += '\n' + std::string(indent, ' ');
            lineLength = indent;
        } else if (!text.empty()) {
            text += ' ';
            ++lineLength;
        }
        text += item;
        lineLength += item.size();
    }
    return text;
}

std::string optionLines(const std::vector<Option>& table, std::size_t column)
{
    std::string text;
    const std::string margin(column, ' ');
    for (const Option& option : table) {
        std::string line = "  " + shown(option);
        if (line.size() + 2 > column) {
            line += '\n' + margin;
        } else {
            line.resize(column, ' ');
        }
        std::string help = option.help;
        const std::string within =
            option.value.kind == Value::Kind::Whole || option.value.kind == Value::Kind::Decimal
                ? range(option.value)
                : "";
        const std::string said = within.empty() || option.value.byDefault.empty()
                                     ? within + option.value.byDefault
                                     : within + ", default " + option.value.byDefault;
        if (!said.empty()) {
            // On the help's last line when it fits within 80 columns, else on one of its own.
            const std::string added = (within.empty() ? "(default " : "(") + said + ')';
            const std::size_t last = help.size() - (help.rfind('\n') + 1);
            help += column + last + 1 + added.size() <= 80 ? ' ' + added : '\n' + added;
        }
        for (std::size_t at = help.find('\n'); at != std::string::npos;
             at = help.find('\n', at + 1 + margin.size())) {
            help.insert(at + 1, margin);
        }
        text += line + help + '\n';
    }
    return text;
}

} // namespace common::options
