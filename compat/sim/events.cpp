// Win32 events and waits. Handles are numbers that name an event here; a closed or unknown
// handle fails its calls. One lock guards every event; each waiting thread has a condition of
// its own, woken only by the events it waits for, after the lock is let go, as the system
// wakes only the threads that wait on an event.
#include <windows.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

struct Event {
    bool manual_reset = false;
    bool signalled = false;
};

// One thread in a wait, and what it waits for.
struct Waiter {
    std::condition_variable woken;
    const HANDLE* handles = nullptr;
    DWORD count = 0;

    bool waits_for(HANDLE handle) const {
        return std::find(handles, handles + count, handle) != handles + count;
    }
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
        return wake_waiters_of(handle, [&](std::map<HANDLE, Event>::iterator found) {
            found->second.signalled = true;
        });
    }
    bool remove(HANDLE handle) {
        return wake_waiters_of(
            handle, [&](std::map<HANDLE, Event>::iterator found) { events_.erase(found); });
    }

    // The index of the first signalled handle, taking its signal; WAIT_TIMEOUT or WAIT_FAILED.
    DWORD wait(const HANDLE* handles, DWORD count, DWORD milliseconds) {
        // Each thread's own, made once: a wait allocates nothing, as the system's does not.
        thread_local const std::shared_ptr<Waiter> waiter = std::make_shared<Waiter>();
        waiter->handles = handles;
        waiter->count = count;
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
        if (ready()) return result;
        waiters_.push_back(waiter);
        if (milliseconds == INFINITE)
            waiter->woken.wait(lock, ready);
        else
            waiter->woken.wait_for(lock, std::chrono::milliseconds(milliseconds), ready);
        waiters_.erase(std::find(waiters_.begin(), waiters_.end(), waiter));
        return result;
    }

  private:
    // Changes the event under the lock, then wakes the threads that wait for it once the
    // lock is let go (those beyond the first few are woken under it).
    template <class Change>
    bool wake_waiters_of(HANDLE handle, Change change) {
        std::array<std::shared_ptr<Waiter>, 8> to_wake;
        std::size_t count = 0;
        {
            std::lock_guard lock(mutex_);
            const auto found = events_.find(handle);
            if (found == events_.end()) return false;
            change(found);
            for (const auto& waiter : waiters_) {
                if (!waiter->waits_for(handle)) continue;
                if (count < to_wake.size())
                    to_wake[count++] = waiter;
                else
                    waiter->woken.notify_one();
            }
        }
        for (std::size_t i = 0; i < count; ++i)
            to_wake[i]->woken.notify_one();
        return true;
    }

    std::mutex mutex_;
    std::uintptr_t next_ = 0x100;
    std::map<HANDLE, Event> events_;
    std::vector<std::shared_ptr<Waiter>> waiters_;  // room kept: registering allocates once
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
