// A file that the simulation appends what it played, or was asked, to: opened at the first
// write, never truncated, flushed after every write so that a test can read it while the
// program runs.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace compat {

class AppendingFile {
  public:
    explicit AppendingFile(std::string path) : path_(std::move(path)) {}
    ~AppendingFile() {
        if (file_) std::fclose(file_);
    }
    AppendingFile(const AppendingFile&) = delete;
    AppendingFile& operator=(const AppendingFile&) = delete;

    // Nothing happens without a path, or when the file cannot be opened.
    void append(const void* data, std::size_t size) {
        if (path_.empty() || size == 0) return;
        std::lock_guard lock(mutex_);
        if (!file_) file_ = std::fopen(path_.c_str(), "ab");
        if (!file_) return;
        std::fwrite(data, 1, size, file_);
        std::fflush(file_);
    }

  private:
    const std::string path_;
    std::mutex mutex_;
    std::FILE* file_ = nullptr;  // under mutex_
};

}  // namespace compat
