// libFuzzer target: any text through the JSON parser; what it accepts is written and parsed
// again, which must give the same value.
#include <cstddef>
#include <cstdint>
#include <string>

#include "json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    ondelle::Json first;
    const bool ok = ondelle::parse_json(text, first);
    const std::string written = ondelle::dump_json(first);  // partial trees are written too
    if (!ok) return 0;
    ondelle::Json second;
    if (!ondelle::parse_json(written, second)) __builtin_trap();
    if (ondelle::dump_json(second) != written) __builtin_trap();
    return 0;
}
