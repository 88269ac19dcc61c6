// Byte buffers for audio and frame payloads. Growing one leaves the new bytes uninitialised:
// they are always overwritten at once by a receive or a conversion, so zero-filling them
// first would only cost time on the hot path.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace ondelle {

template <typename T>
struct DefaultInitAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };
    using std::allocator<T>::allocator;

    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

using ByteVector = std::vector<std::uint8_t, DefaultInitAllocator<std::uint8_t>>;

}  // namespace ondelle
