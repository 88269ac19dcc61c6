// Thread identifiers and the message queues of threads: posted messages, WM_QUIT, and
// thread timers whose WM_TIMER comes only when nothing else waits, as on Windows. A thread
// has a queue from its first PeekMessageW or GetMessageW until it ends.
#include <windows.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Timer {
    UINT_PTR id;
    std::chrono::milliseconds interval;
    Clock::time_point due;
};

struct Queue {
    std::deque<MSG> posted;
    std::vector<Timer> timers;
};

bool in_range(UINT message, UINT filter_min, UINT filter_max) {
    if (filter_min == 0 && filter_max == 0) return true;
    return message >= filter_min && message <= filter_max;
}

class MessageQueues {
  public:
    void create(DWORD thread) {
        std::lock_guard lock(mutex_);
        queues_.try_emplace(thread);
    }
    void remove(DWORD thread) {
        std::lock_guard lock(mutex_);
        queues_.erase(thread);
    }
    bool post(DWORD thread, const MSG& message) {
        {
            std::lock_guard lock(mutex_);
            const auto found = queues_.find(thread);
            if (found == queues_.end()) return false;
            found->second.posted.push_back(message);
        }
        changed_.notify_all();
        return true;
    }
    UINT_PTR set_timer(DWORD thread, UINT elapse_ms) {
        std::lock_guard lock(mutex_);
        Queue& queue = queues_[thread];
        const UINT_PTR id = next_timer_++;
        const std::chrono::milliseconds interval(std::max<UINT>(elapse_ms, 10));
        queue.timers.push_back({id, interval, Clock::now() + interval});
        return id;
    }
    bool kill_timer(DWORD thread, UINT_PTR id) {
        std::lock_guard lock(mutex_);
        const auto found = queues_.find(thread);
        if (found == queues_.end()) return false;
        auto& timers = found->second.timers;
        const auto before = timers.size();
        std::erase_if(timers, [id](const Timer& timer) { return timer.id == id; });
        return timers.size() != before;
    }

    // Takes (or, with remove false, copies) the next message in range; false when there is
    // none and wait is false.
    bool next(DWORD thread, MSG& out, UINT filter_min, UINT filter_max, bool remove, bool wait) {
        std::unique_lock lock(mutex_);
        Queue& queue = queues_[thread];
        for (;;) {
            for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
                if (!in_range(it->message, filter_min, filter_max)) continue;
                out = *it;
                if (remove) queue.posted.erase(it);
                return true;
            }
            const auto now = Clock::now();
            Clock::time_point earliest = Clock::time_point::max();
            for (Timer& timer : queue.timers) {
                if (timer.due <= now && in_range(WM_TIMER, filter_min, filter_max)) {
                    out = MSG{};
                    out.message = WM_TIMER;
                    out.wParam = timer.id;
                    if (remove) timer.due = now + timer.interval;
                    return true;
                }
                earliest = std::min(earliest, timer.due);
            }
            if (!wait) return false;
            if (earliest == Clock::time_point::max())
                changed_.wait(lock);
            else
                changed_.wait_until(lock, earliest);
        }
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<DWORD, Queue> queues_;
    UINT_PTR next_timer_ = 1;
};

MessageQueues& message_queues() {
    static MessageQueues queues;
    return queues;
}

// Removes the thread's queue when the thread ends.
struct QueueOwner {
    DWORD thread = 0;
    ~QueueOwner() {
        if (thread) message_queues().remove(thread);
    }
};

void ensure_queue() {
    thread_local QueueOwner owner;
    if (owner.thread) return;
    owner.thread = GetCurrentThreadId();
    message_queues().create(owner.thread);
}

}  // namespace

DWORD GetCurrentThreadId() {
    static std::atomic<DWORD> next{0x1000};
    thread_local const DWORD id = next.fetch_add(4);
    return id;
}

DWORD GetCurrentProcessId() {
    return DWORD(getpid());
}

BOOL PeekMessageW(MSG* message, HWND, UINT filter_min, UINT filter_max, UINT remove) {
    ensure_queue();
    MSG ignored{};
    return message_queues().next(GetCurrentThreadId(), message ? *message : ignored, filter_min,
                                 filter_max, (remove & PM_REMOVE) != 0, false)
               ? TRUE
               : FALSE;
}

BOOL GetMessageW(MSG* message, HWND, UINT filter_min, UINT filter_max) {
    if (!message) return -1;
    ensure_queue();
    message_queues().next(GetCurrentThreadId(), *message, filter_min, filter_max, true, true);
    return message->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PostThreadMessageW(DWORD thread_id, UINT message, WPARAM wparam, LPARAM lparam) {
    MSG posted{};
    posted.message = message;
    posted.wParam = wparam;
    posted.lParam = lparam;
    return message_queues().post(thread_id, posted) ? TRUE : FALSE;
}

BOOL TranslateMessage(const MSG*) {
    return FALSE;  // no keyboard here
}

LRESULT DispatchMessageW(const MSG*) {
    return 0;  // the simulated windows have no procedures
}

UINT_PTR SetTimer(HWND window, UINT_PTR, UINT elapse_ms, TIMERPROC function) {
    // Only thread timers, which is what the programs use.
    if (window || function) return 0;
    ensure_queue();
    return message_queues().set_timer(GetCurrentThreadId(), elapse_ms);
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    if (window) return FALSE;
    return message_queues().kill_timer(GetCurrentThreadId(), id) ? TRUE : FALSE;
}
