// Small files through the system's own calls, which take no memory of the heap.
#include <fcntl.h>
#include <unistd.h>

#include "support/small_file.h"

namespace ondelle {

std::optional<std::size_t> read_small_file(const char* path, char* buffer, std::size_t size) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buffer + got, size - got);
        if (n <= 0) break;
        got += std::size_t(n);
    }
    ::close(fd);
    return got;
}

}  // namespace ondelle
