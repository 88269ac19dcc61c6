// Preloaded into a program (LD_PRELOAD) by bench/wakeups: counts every heap allocation per
// thread into a file the bench maps (ONDELLE_ALLOC_COUNTS), slot by slot, without taking a
// lock or allocating itself. Each slot is a thread id and its count.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

struct Slot {
    std::atomic<std::int64_t> tid;
    std::atomic<std::int64_t> count;
};
constexpr std::size_t slots = 1024;

Slot* table() {
    static Slot* mapped = [] {
        const char* path = std::getenv("ONDELLE_ALLOC_COUNTS");
        if (!path) return static_cast<Slot*>(nullptr);
        const int fd = open(path, O_RDWR);
        if (fd < 0) return static_cast<Slot*>(nullptr);
        void* memory =
            mmap(nullptr, slots * sizeof(Slot), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        return memory == MAP_FAILED ? static_cast<Slot*>(nullptr) : static_cast<Slot*>(memory);
    }();
    return mapped;
}

// What calloc hands out before the real one is known (dlsym may ask for a little).
alignas(16) char early[4096];
std::size_t early_used = 0;

thread_local Slot* mine = nullptr;
thread_local bool inside = false;

void count() {
    if (inside) return;
    inside = true;
    if (!mine) {
        if (Slot* all = table()) {
            const std::int64_t tid = syscall(SYS_gettid);
            for (std::size_t i = std::size_t(tid) % slots, n = 0; n < slots;
                 ++n, i = (i + 1) % slots) {
                std::int64_t empty = 0;
                if (all[i].tid.load() == tid || all[i].tid.compare_exchange_strong(empty, tid)) {
                    mine = &all[i];
                    break;
                }
            }
        }
    }
    if (mine) mine->count.fetch_add(1, std::memory_order_relaxed);
    inside = false;
}

template <class F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

void* malloc(std::size_t size) {
    static auto real = next<void* (*)(std::size_t)>("malloc");
    count();
    return real(size);
}

void* calloc(std::size_t n, std::size_t size) {
    static std::atomic<bool> looking{false};
    static void* (*real)(std::size_t, std::size_t) = nullptr;
    if (!real) {
        if (looking.exchange(true)) {
            void* p = early + early_used;
            early_used += (n * size + 15) / 16 * 16;
            return p;
        }
        real = next<void* (*)(std::size_t, std::size_t)>("calloc");
    }
    count();
    return real(n, size);
}

void free(void* p) {
    static auto real = next<void (*)(void*)>("free");
    if (p >= static_cast<void*>(early) && p < static_cast<void*>(early + sizeof early)) return;
    real(p);
}

void* realloc(void* p, std::size_t size) {
    static auto real = next<void* (*)(void*, std::size_t)>("realloc");
    count();
    return real(p, size);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    static auto real = next<int (*)(void**, std::size_t, std::size_t)>("posix_memalign");
    count();
    return real(out, alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
    static auto real = next<void* (*)(std::size_t, std::size_t)>("aligned_alloc");
    count();
    return real(alignment, size);
}

}  // extern "C"
