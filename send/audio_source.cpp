// Which reader a file needs, by its first bytes.
#include "audio_source.h"

#include <cstdio>
#include <cstring>

namespace ondelle::send {

std::unique_ptr<AudioSource> open_audio(const std::string& path, bool flac_offered,
                                        std::string& error) {
    char magic[4] = {};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    const std::size_t got = std::fread(magic, 1, sizeof magic, file);
    std::fclose(file);
    if (got == 4 && (std::memcmp(magic, "DSD ", 4) == 0 || std::memcmp(magic, "FRM8", 4) == 0))
        return open_dsd_file(path, error);
    if (got == 4 && std::memcmp(magic, "fLaC", 4) == 0)
        return open_flac_file(path, flac_offered, error);
    return open_pcm_file(path, error);
}

}  // namespace ondelle::send
