// ApartmentThread: the apartment, its window, the message loop, the timer and the work queue.
#include "win/apartment_thread.h"

#include <objbase.h>

#include "support/thread.h"

namespace ondelle {
namespace {

constexpr UINT_PTR no_timer = 0;

}  // namespace

ApartmentThread::ApartmentThread(const char* name, std::wstring window_title, UINT timer_ms,
                                 Duties duties)
    : name_(name),
      window_title_(std::move(window_title)),
      timer_ms_(timer_ms),
      duties_(std::move(duties)) {}

ApartmentThread::~ApartmentThread() {
    stop();
}

void ApartmentThread::start() {
    std::promise<void> ready;
    std::future<void> started = ready.get_future();
    thread_ = start_thread(name_, [this, &ready] { main(ready); });
    started.wait();
}

void ApartmentThread::stop() {
    quit_ = true;
    if (const DWORD id = thread_id_.load()) PostThreadMessageW(id, WM_QUIT, 0, 0);
    if (thread_.joinable()) thread_.join();
}

void ApartmentThread::enqueue(std::function<void()> task) {
    {
        std::lock_guard lock(queue_mutex_);
        tasks_.push_back(std::move(task));
    }
    // A lost post only delays the task until the next timer tick.
    PostThreadMessageW(thread_id_.load(), WM_APP, 0, 0);
}

void ApartmentThread::run_tasks() {
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(queue_mutex_);
            if (tasks_.empty()) return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

void ApartmentThread::main(std::promise<void>& ready) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    MSG message{};
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // makes the queue
    window_ = CreateWindowExW(0, L"STATIC", window_title_.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    thread_id_ = GetCurrentThreadId();
    ready.set_value();
    SetTimer(nullptr, no_timer, timer_ms_, nullptr);
    while (!quit_) {
        if (GetMessageW(&message, nullptr, 0, 0) < 1) break;
        if (message.message == WM_APP || message.message == WM_TIMER) {
            run_tasks();
            if (message.message == WM_TIMER && duties_.on_timer) duties_.on_timer();
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // Work that arrived too late still gets its answer rather than a caller that waits.
    run_tasks();
    if (duties_.on_end) duties_.on_end();
    DestroyWindow(window_);
    CoUninitialize();
}

}  // namespace ondelle
