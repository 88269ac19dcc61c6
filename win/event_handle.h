// Owns one Win32 event handle and closes it when it goes.
#pragma once

#include <windows.h>

#include <utility>

namespace ondelle {

class EventHandle {
  public:
    EventHandle() = default;
    // An unnamed auto-reset event, not signalled; empty when the system refuses one.
    static EventHandle create_auto_reset() { return create(FALSE); }
    // An unnamed event that stays signalled once set; empty when the system refuses one.
    static EventHandle create_manual_reset() { return create(TRUE); }
    ~EventHandle() { reset(); }
    EventHandle(const EventHandle&) = delete;
    EventHandle& operator=(const EventHandle&) = delete;
    EventHandle(EventHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    EventHandle& operator=(EventHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset() {
        if (handle_) CloseHandle(std::exchange(handle_, nullptr));
    }

  private:
    static EventHandle create(BOOL manual_reset) {
        EventHandle event;
        event.handle_ = CreateEventW(nullptr, manual_reset, FALSE, nullptr);
        return event;
    }

    HANDLE handle_ = nullptr;
};

}  // namespace ondelle
