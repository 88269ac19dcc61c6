// Reading a small system file (a statistics file of a few lines) into a buffer the caller
// owns, without the heap: a thread that reads one every few seconds allocates nothing.
#pragma once

#include <cstddef>
#include <optional>

namespace ondelle {

// The bytes read (at most size), or nothing when the file cannot be opened.
std::optional<std::size_t> read_small_file(const char* path, char* buffer, std::size_t size);

}  // namespace ondelle
