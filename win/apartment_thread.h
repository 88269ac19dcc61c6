// A thread of its own in a single-threaded COM apartment, with a hidden message-only window
// (for objects that want a window to talk to), a message loop, a timer and a queue of work
// from other threads. call() carries work over and its result back, and runs at once when it
// is already on the thread, so that work may call again without waiting on itself.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>

namespace ondelle {

class ApartmentThread {
  public:
    struct Duties {
        std::function<void()> on_timer;  // every timer_ms, on the thread
        std::function<void()> on_end;    // last, on the thread, before the apartment goes
    };

    // name: the thread's name; window_title: its window's. Nothing runs before start.
    ApartmentThread(const char* name, std::wstring window_title, UINT timer_ms, Duties duties);
    ~ApartmentThread();  // stops the thread if it still runs
    ApartmentThread(const ApartmentThread&) = delete;
    ApartmentThread& operator=(const ApartmentThread&) = delete;

    // Starts the thread; returns once its window and message queue exist.
    void start();
    // Ends the thread (work already queued still runs, then on_end) and joins it.
    void stop();

    // The message-only window; on the thread.
    HWND window() const { return window_; }

    // Runs work on the thread and returns its result; at once when called there. An
    // exception thrown by work is thrown here.
    template <class Work>
    std::invoke_result_t<Work&> call(Work work);

  private:
    void main(std::promise<void>& ready);
    void enqueue(std::function<void()> task);
    void run_tasks();

    const char* const name_;
    const std::wstring window_title_;
    const UINT timer_ms_;
    const Duties duties_;

    std::thread thread_;
    std::atomic<DWORD> thread_id_{0};
    HWND window_ = nullptr;
    std::mutex queue_mutex_;
    std::deque<std::function<void()>> tasks_;  // under queue_mutex_
    std::atomic<bool> quit_{false};
};

template <class Work>
std::invoke_result_t<Work&> ApartmentThread::call(Work work) {
    using Result = std::invoke_result_t<Work&>;
    if (GetCurrentThreadId() == thread_id_.load()) return work();
    std::packaged_task<Result()> task(std::move(work));
    std::future<Result> result = task.get_future();
    enqueue([&task] { task(); });
    return result.get();
}

}  // namespace ondelle
