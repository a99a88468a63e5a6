#include "common/readfile.h"

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>

namespace common {

std::optional<std::string> readUpTo(const std::string& path, std::size_t most)
{
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (file == nullptr) {
        return std::nullopt;
    }
    struct stat status {};
    const std::size_t room = fstat(fileno(file), &status) == 0 && status.st_size >= 0
                                 ? std::min(static_cast<std::size_t>(status.st_size), most)
                                 : most;
    std::string bytes(room, '\0');
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    std::fclose(file);
    return bytes;
}

} // namespace common
