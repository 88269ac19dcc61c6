// libFuzzer target: an arbitrary file for one of ondelle-send's readers (ONDELLE_READER picks
// which: DSD files, FLAC files, or the PCM containers through libsndfile), opened from memory
// and read to its end. A reader may refuse the file or fail part way; it never crashes, spins
// or reads past what the file holds.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "audio_source.h"

namespace {

std::unique_ptr<ondelle::send::AudioSource> open_reader(const std::string& path,
                                                        std::string& error) {
    using namespace ondelle::send;
#if ONDELLE_READER == 0
    return open_dsd_file(path, error);
#elif ONDELLE_READER == 1
    return open_flac_file(path, (path.size() & 1) != 0, error);
#else
    return open_pcm_file(path, error);
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = memfd_create("fuzz-file", MFD_CLOEXEC);
    if (fd < 0) return 0;
    if (write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return 0;
    }
    std::string error;
    if (auto source = open_reader("/proc/self/fd/" + std::to_string(fd), error)) {
        std::string payload;
        // Every payload holds at least one frame of what the file holds: a reader that
        // returned empty payloads for ever would stop here, and be caught by the bound.
        for (int count = 0; count < 1 << 20; ++count) {
            std::int64_t frames = 0;
            if (!source->next(payload, frames, error) || payload.empty()) break;
            if (frames <= 0) __builtin_trap();
        }
    }
    close(fd);
    return 0;
}
