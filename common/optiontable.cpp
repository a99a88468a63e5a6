#include "common/optiontable.h"

#include <algorithm>

namespace common::options {

namespace {

std::string shown(const Option& option)
{
    return option.placeholder.empty() ? option.name : option.name + ' ' + option.placeholder;
}

} // namespace

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
            line += "  ";
        } else {
            line.resize(column, ' ');
        }
        std::string help = option.help;
        for (std::size_t at = help.find('\n'); at != std::string::npos;
             at = help.find('\n', at + 1 + margin.size())) {
            help.insert(at + 1, margin);
        }
        text += line + help + '\n';
    }
    return text;
}

} // namespace common::options
