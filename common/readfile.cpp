#include "common/readfile.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace common {

std::optional<std::string> readUpTo(const std::string& path, std::size_t most)
{
    // Without waiting: opening a pipe for reading would wait for a writer, for ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0) {
        ::close(fd);
        return std::nullopt;
    }
    std::string bytes(std::min(static_cast<std::size_t>(status.st_size), most), '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n <= 0) {
            break; // the end came early (the file was cut meanwhile), or a read failed
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(got);
    return bytes;
}

} // namespace common
