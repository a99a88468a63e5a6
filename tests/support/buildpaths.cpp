#include "buildpaths.h"

namespace testsupport {

std::string sourceFile(const std::string& relative)
{
    return std::string(MAPSUITE_SOURCE_DIR) + '/' + relative;
}

std::string testData(const std::string& relative)
{
    return sourceFile("tests/data/" + relative);
}

std::string buildFile(const std::string& relative)
{
    return std::string(MAPSUITE_BINARY_DIR) + '/' + relative;
}

std::string program(const std::string& name)
{
    return buildFile("bin/" + name);
}

} // namespace testsupport
