#pragma once

// Reading XML that servers send (capabilities documents, exception reports) with GDAL's
// minixml: elements found by their names without namespace prefixes.
#include <cpl_minixml.h>

#include <memory>
#include <string>
#include <vector>

namespace mapservice {

using XmlTree = std::unique_ptr<CPLXMLNode, decltype(&CPLDestroyXMLNode)>;

// |text| parsed, GDAL's complaints about what is no XML kept quiet; empty when it is none.
XmlTree parseXml(const std::string& text);

// The first element called |name| at the top level of |tree| (after the prolog), or null.
const CPLXMLNode* topElement(const XmlTree& tree, const char* name);

// An element's name without its namespace prefix.
const char* localName(const CPLXMLNode* node);

// The elements within |node| called |name|, in order; |node| may be null.
std::vector<const CPLXMLNode*> children(const CPLXMLNode* node, const char* name);
const CPLXMLNode* child(const CPLXMLNode* node, const char* name);

// The text of |node|, or of its child |name|, trimmed.
std::string text(const CPLXMLNode* node, const char* name = nullptr);

// The value of |node|'s attribute |name|, or "".
std::string attribute(const CPLXMLNode* node, const char* name);

} // namespace mapservice
