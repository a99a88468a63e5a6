#pragma once

// Reading a file back whole, up to a limit, in plain C++.
#include <cstddef>
#include <optional>
#include <string>

namespace common {

// The file's first |most| bytes, or all of it when it is shorter; nothing when it cannot be
// opened or is no regular file (a pipe, a device, a folder), which is refused without waiting. The
// buffer is sized by the file, not by |most|: a limit of megabytes costs nothing for a small file.
// Ask for one byte more than a limit to tell a file over it.
std::optional<std::string> readUpTo(const std::string& path, std::size_t most);

} // namespace common
