#include "mapservice/protocol/owsexception.h"

#include "mapservice/protocol/xmlnodes.h"

#include <cpl_minixml.h>

#include <cctype>
#include <cstring>
#include <memory>

namespace mapservice {

namespace {

// The text within |node| and its elements, blanks and line breaks made single spaces.
void collectText(const CPLXMLNode* node, std::string& out)
{
    for (const CPLXMLNode* child = node->psChild; child != nullptr; child = child->psNext) {
        if (child->eType == CXT_Text) {
            out += ' ';
            out += child->pszValue;
        } else if (child->eType == CXT_Element) {
            collectText(child, out);
        }
    }
}

std::string oneLine(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        const bool blank = std::isspace(static_cast<unsigned char>(c)) != 0 ||
                           static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        if (!blank) {
            out += c;
        } else if (!out.empty() && out.back() != ' ') {
            out += ' ';
        }
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    if (out.size() > 300) {
        out.resize(297);
        out += "...";
    }
    return out;
}

const CPLXMLNode* findException(const CPLXMLNode* node)
{
    for (; node != nullptr; node = node->psNext) {
        if (node->eType != CXT_Element) {
            continue;
        }
        const char* name = localName(node);
        if (std::strcmp(name, "ServiceException") == 0 || std::strcmp(name, "Exception") == 0) {
            return node;
        }
        if (const CPLXMLNode* inner = findException(node->psChild)) {
            return inner;
        }
    }
    return nullptr;
}

} // namespace

std::optional<OwsException> owsException(std::string_view body)
{
    const std::size_t start = body.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos || body[start] != '<') {
        return std::nullopt;
    }
    const XmlTree root = parseXml(std::string(body)); // what is no XML is no exception report
    const CPLXMLNode* found = findException(root.get());
    if (found == nullptr) {
        return std::nullopt;
    }
    OwsException exception;
    exception.code = attribute(found, "code");
    if (exception.code.empty()) {
        exception.code = attribute(found, "exceptionCode");
    }
    std::string words;
    collectText(found, words);
    exception.text = oneLine(words);
    if (exception.text.empty()) {
        exception.text = exception.code.empty() ? "no reason given" : exception.code;
    }
    return exception;
}

} // namespace mapservice
