// The apartment thread on its own: work carried over and back, work that calls again, an
// exception, the window, the timer's duty and the order of the end.
#include "win/apartment_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace ondelle {
namespace {

using namespace std::chrono_literals;

TEST(ApartmentThread, CarriesWorkOverAndItsResultBack) {
    ApartmentThread apartment("test apartment", L"test", 1000, {});
    apartment.start();
    const DWORD caller = GetCurrentThreadId();
    const DWORD worker = apartment.call([] { return GetCurrentThreadId(); });
    EXPECT_NE(worker, caller);
    // Work that calls again runs at once instead of waiting on itself.
    EXPECT_EQ(apartment.call([&] { return apartment.call([] { return GetCurrentThreadId(); }); }),
              worker);
    EXPECT_NE(apartment.call([&] { return apartment.window(); }), nullptr);
    EXPECT_THROW(apartment.call([]() -> int { throw std::runtime_error("refused"); }),
                 std::runtime_error);
    EXPECT_EQ(apartment.call([] { return 42; }), 42);  // still serving after the exception
}

TEST(ApartmentThread, RunsItsTimerDutyThenQueuedWorkThenItsEnd) {
    std::atomic<int> ticks{0};
    std::atomic<DWORD> timer_thread{0};
    std::atomic<int> work_done{0};
    std::atomic<int> ended_after_work{-1};
    ApartmentThread apartment("test apartment", L"test", 20,
                              {[&] {
                                   timer_thread = GetCurrentThreadId();
                                   ++ticks;
                               },
                               [&] { ended_after_work = work_done.load(); }});
    apartment.start();
    const DWORD worker = apartment.call([] { return GetCurrentThreadId(); });
    for (int i = 0; i < 500 && ticks < 3; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_GE(ticks.load(), 3);
    EXPECT_EQ(timer_thread.load(), worker);

    std::thread caller([&] { apartment.call([&] { ++work_done; }); });
    caller.join();
    apartment.stop();
    EXPECT_EQ(ended_after_work.load(), 1);
    apartment.stop();  // a second stop does nothing
    EXPECT_EQ(ended_after_work.load(), 1);
}

}  // namespace
}  // namespace ondelle
