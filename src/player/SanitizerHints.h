#pragma once

#include <QMutex>

// The thread sanitizer cannot see inside Debian's Qt, which is not built
// with it: QMutex locks and unlocks there, and so does QWaitCondition::wait(),
// out of its sight, and it reports races on what the mutex guards. These
// calls tell it what happened; in other builds they are empty.
#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
inline void sanitizerRelease(void* address)
{
    __tsan_release(address);
}
inline void sanitizerAcquire(void* address)
{
    __tsan_acquire(address);
}
#else
inline void sanitizerRelease(void*) {}
inline void sanitizerAcquire(void*) {}
#endif

// QMutexLocker, telling the sanitizer about the lock it holds.
class SanitizedMutexLocker
{
public:
    explicit SanitizedMutexLocker(QMutex* mutex) : mutex_(mutex) { relock(); }
    ~SanitizedMutexLocker()
    {
        if (locked_)
            unlock();
    }
    SanitizedMutexLocker(const SanitizedMutexLocker&) = delete;
    SanitizedMutexLocker& operator=(const SanitizedMutexLocker&) = delete;

    void unlock()
    {
        sanitizerRelease(mutex_);
        mutex_->unlock();
        locked_ = false;
    }
    void relock()
    {
        mutex_->lock();
        sanitizerAcquire(mutex_);
        locked_ = true;
    }

private:
    QMutex* mutex_;
    bool locked_ = false;
};
