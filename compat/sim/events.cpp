// Win32 events and waits. Handles are numbers that name an event here; a closed or unknown
// handle fails its calls. One lock and one condition serve every event, so that a thread
// can wait for several at once.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>

namespace {

struct Event {
    bool manual_reset = false;
    bool signalled = false;
};

class EventTable {
  public:
    HANDLE add(Event event) {
        std::lock_guard lock(mutex_);
        const auto handle = reinterpret_cast<HANDLE>(next_++);
        events_.emplace(handle, event);
        return handle;
    }
    bool set(HANDLE handle) {
        {
            std::lock_guard lock(mutex_);
            const auto found = events_.find(handle);
            if (found == events_.end()) return false;
            found->second.signalled = true;
        }
        changed_.notify_all();
        return true;
    }
    bool remove(HANDLE handle) {
        std::lock_guard lock(mutex_);
        return events_.erase(handle) == 1;
    }

    // The index of the first signalled handle, taking its signal; WAIT_TIMEOUT or WAIT_FAILED.
    DWORD wait(const HANDLE* handles, DWORD count, DWORD milliseconds) {
        std::unique_lock lock(mutex_);
        DWORD result = WAIT_TIMEOUT;
        const auto ready = [&] {
            for (DWORD i = 0; i < count; ++i) {
                const auto found = events_.find(handles[i]);
                if (found == events_.end()) {
                    result = WAIT_FAILED;
                    return true;
                }
                if (found->second.signalled) {
                    if (!found->second.manual_reset) found->second.signalled = false;
                    result = WAIT_OBJECT_0 + i;
                    return true;
                }
            }
            return false;
        };
        if (milliseconds == INFINITE)
            changed_.wait(lock, ready);
        else
            changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), ready);
        return result;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uintptr_t next_ = 0x100;
    std::map<HANDLE, Event> events_;
};

EventTable& event_table() {
    static EventTable table;
    return table;
}

}  // namespace

HANDLE CreateEventW(void*, BOOL manual_reset, BOOL initial_state, LPCWSTR) {
    return event_table().add(Event{manual_reset != FALSE, initial_state != FALSE});
}

BOOL SetEvent(HANDLE handle) {
    return event_table().set(handle) ? TRUE : FALSE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return event_table().wait(&handle, 1, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all,
                             DWORD milliseconds) {
    // Waiting for all of several events is not needed by the programs.
    if (count == 0 || !handles || wait_all) return WAIT_FAILED;
    return event_table().wait(handles, count, milliseconds);
}

BOOL CloseHandle(HANDLE handle) {
    return event_table().remove(handle) ? TRUE : FALSE;
}
