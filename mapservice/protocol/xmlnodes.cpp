#include "mapservice/protocol/xmlnodes.h"

#include "common/gdal.h"

#include <cstring>

namespace mapservice {

XmlTree parseXml(const std::string& text)
{
    const common::gdal::ErrorCapture quiet;
    return XmlTree(CPLParseXMLString(text.c_str()), &CPLDestroyXMLNode);
}

const CPLXMLNode* topElement(const XmlTree& tree, const char* name)
{
    for (const CPLXMLNode* n = tree.get(); n != nullptr; n = n->psNext) {
        if (n->eType == CXT_Element && std::strcmp(localName(n), name) == 0) {
            return n;
        }
    }
    return nullptr;
}

const char* localName(const CPLXMLNode* node)
{
    const char* colon = std::strrchr(node->pszValue, ':');
    return colon != nullptr ? colon + 1 : node->pszValue;
}

std::vector<const CPLXMLNode*> children(const CPLXMLNode* node, const char* name)
{
    std::vector<const CPLXMLNode*> out;
    for (const CPLXMLNode* c = node != nullptr ? node->psChild : nullptr; c != nullptr;
         c = c->psNext) {
        if (c->eType == CXT_Element && std::strcmp(localName(c), name) == 0) {
            out.push_back(c);
        }
    }
    return out;
}

const CPLXMLNode* child(const CPLXMLNode* node, const char* name)
{
    const auto all = children(node, name);
    return all.empty() ? nullptr : all.front();
}

std::string text(const CPLXMLNode* node, const char* name)
{
    if (name != nullptr) {
        node = child(node, name);
    }
    std::string out;
    for (const CPLXMLNode* c = node != nullptr ? node->psChild : nullptr; c != nullptr;
         c = c->psNext) {
        if (c->eType == CXT_Text) {
            out += c->pszValue;
        }
    }
    const std::size_t first = out.find_first_not_of(" \t\r\n");
    const std::size_t last = out.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : out.substr(first, last - first + 1);
}

std::string attribute(const CPLXMLNode* node, const char* name)
{
    for (const CPLXMLNode* c = node != nullptr ? node->psChild : nullptr; c != nullptr;
         c = c->psNext) {
        if (c->eType == CXT_Attribute && std::strcmp(localName(c), name) == 0 &&
            c->psChild != nullptr) {
            return c->psChild->pszValue;
        }
    }
    return {};
}

} // namespace mapservice
