// Small files through the runtime's low-level calls.
#include <fcntl.h>
#include <io.h>

#include "support/small_file.h"

namespace ondelle {

std::optional<std::size_t> read_small_file(const char* path, char* buffer, std::size_t size) {
    const int fd = ::_open(path, _O_RDONLY | _O_BINARY);
    if (fd < 0) return std::nullopt;
    std::size_t got = 0;
    while (got < size) {
        const int n = ::_read(fd, buffer + got, unsigned(size - got));
        if (n <= 0) break;
        got += std::size_t(n);
    }
    ::_close(fd);
    return got;
}

}  // namespace ondelle
