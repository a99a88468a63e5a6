#pragma once

#include <string>

// Where the build put the programs and where the sources keep the test data. Only
// buildpaths.cpp is compiled with these absolute paths: every other test source then compiles
// to the same text in any clone of the sources, and the compiler cache serves it.
namespace testsupport {

// A file under the sources' top folder, |relative| to it ("README.md").
std::string sourceFile(const std::string& relative);

// A file under tests/data ("mapproxy/checks.map").
std::string testData(const std::string& relative);

// A file under the build folder ("packaging/man/pelagrin.1").
std::string buildFile(const std::string& relative);

// One of the suite's programs as the build made it ("mapservice").
std::string program(const std::string& name);

} // namespace testsupport
