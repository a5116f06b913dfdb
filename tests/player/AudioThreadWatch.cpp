#include "AudioThreadWatch.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <dlfcn.h>
#include <pthread.h>

// Sanitizer runtimes bring their own allocator; replacing malloc under them
// would bypass it, so those builds keep the watch off.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LATTICE_WATCH_AVAILABLE 0
#else
#define LATTICE_WATCH_AVAILABLE 1
#endif

namespace {

thread_local bool watched = false;
std::atomic<long> heapCalls{0};
std::atomic<long> locks{0};
// Every mutex a watched thread locked; a watched thread is the only writer.
std::array<std::atomic<const void*>, 32> lockedMutexes{};
std::atomic<int> lockedMutexCount{0};

void noteLock(const void* mutex)
{
    locks.fetch_add(1, std::memory_order_relaxed);
    const int count = lockedMutexCount.load(std::memory_order_relaxed);
    for (int i = 0; i < count; ++i)
        if (lockedMutexes[std::size_t(i)].load(std::memory_order_relaxed) == mutex)
            return;
    if (count < int(lockedMutexes.size())) {
        lockedMutexes[std::size_t(count)].store(mutex, std::memory_order_relaxed);
        lockedMutexCount.store(count + 1, std::memory_order_relaxed);
    }
}

// The C library's own function of that name, looked up at its first use
// (other libraries lock before this file's statics are set up).
template <typename Function> Function real(std::atomic<Function>& cache, const char* name)
{
    Function function = cache.load(std::memory_order_acquire);
    if (!function) {
        function = Function(dlsym(RTLD_NEXT, name));
        cache.store(function, std::memory_order_release);
    }
    return function;
}
using MutexLock = int (*)(pthread_mutex_t*);
using RwLock = int (*)(pthread_rwlock_t*);
std::atomic<MutexLock> realMutexLock{nullptr};
std::atomic<RwLock> realReadLock{nullptr};
std::atomic<RwLock> realWriteLock{nullptr};

} // namespace

#if LATTICE_WATCH_AVAILABLE
// glibc lets a program replace its allocator by defining these; the
// originals stay reachable under their __libc_ names.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);

void* malloc(std::size_t size)
{
    if (watched)
        heapCalls.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size)
{
    if (watched)
        heapCalls.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size)
{
    if (watched)
        heapCalls.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(pointer, size);
}
void* memalign(std::size_t alignment, std::size_t size)
{
    if (watched)
        heapCalls.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size)
{
    return memalign(alignment, size);
}
int posix_memalign(void** result, std::size_t alignment, std::size_t size)
{
    *result = memalign(alignment, size);
    return *result ? 0 : 12; // ENOMEM
}
void free(void* pointer)
{
    if (watched && pointer)
        heapCalls.fetch_add(1, std::memory_order_relaxed);
    __libc_free(pointer);
}

int pthread_mutex_lock(pthread_mutex_t* mutex)
{
    if (watched)
        noteLock(mutex);
    return real(realMutexLock, "pthread_mutex_lock")(mutex);
}
int pthread_rwlock_rdlock(pthread_rwlock_t* lock)
{
    if (watched)
        noteLock(lock);
    return real(realReadLock, "pthread_rwlock_rdlock")(lock);
}
int pthread_rwlock_wrlock(pthread_rwlock_t* lock)
{
    if (watched)
        noteLock(lock);
    return real(realWriteLock, "pthread_rwlock_wrlock")(lock);
}
} // extern "C"
#endif

bool AudioThreadWatch::isAvailable()
{
    return LATTICE_WATCH_AVAILABLE;
}

void AudioThreadWatch::watchThisThread(bool on)
{
    watched = on;
}

void AudioThreadWatch::reset()
{
    heapCalls = 0;
    locks = 0;
    lockedMutexCount = 0;
}

AudioThreadWatch::Counts AudioThreadWatch::counts()
{
    Counts counts;
    counts.heapCalls = heapCalls.load();
    counts.locks = locks.load();
    for (int i = 0; i < lockedMutexCount.load(); ++i)
        counts.mutexes.push_back(lockedMutexes[std::size_t(i)].load());
    return counts;
}
