#ifndef QUORVEX_DEVICE_LOCKING_H
#define QUORVEX_DEVICE_LOCKING_H

// Scoped lockers for the device layer's Qt locks that ThreadSanitizer can follow.
//
// QMutex and QReadWriteLock lock and unlock inside libQt5Core, which is not instrumented
// and uses futexes directly, so a TSan build sees the guarded accesses but not the locks
// and reports every hand-over between threads as a race. In TSan builds these lockers
// tell TSan about the ordering (acquire after locking, release before unlocking); in
// every other build they are the plain Qt lockers.

#include <QMutex>
#include <QReadWriteLock>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define QUORVEX_SYNC_ACQUIRE(addr) __tsan_acquire(addr)
#define QUORVEX_SYNC_RELEASE(addr) __tsan_release(addr)
#else
#define QUORVEX_SYNC_ACQUIRE(addr) static_cast<void>(addr)
#define QUORVEX_SYNC_RELEASE(addr) static_cast<void>(addr)
#endif

// Locks on construction, unlocks on destruction; `Acquire` is the locking member
// (lock, lockForRead or lockForWrite) and both Qt locks unlock with unlock().
// Readers also release: they may publish nothing, but the extra ordering only hides
// reader-reader overlaps, which are not races.
template <class Lock, void (Lock::*Acquire)()>
class AnnotatedLocker {
public:
    explicit AnnotatedLocker(Lock *l) : lock_(l)
    {
        (lock_->*Acquire)();
        QUORVEX_SYNC_ACQUIRE(lock_);
    }
    ~AnnotatedLocker()
    {
        QUORVEX_SYNC_RELEASE(lock_);
        lock_->unlock();
    }
    AnnotatedLocker(const AnnotatedLocker &) = delete;
    AnnotatedLocker &operator=(const AnnotatedLocker &) = delete;

private:
    Lock *lock_;
};

using MutexLock = AnnotatedLocker<QMutex, &QMutex::lock>;
using ReadLock = AnnotatedLocker<QReadWriteLock, &QReadWriteLock::lockForRead>;
using WriteLock = AnnotatedLocker<QReadWriteLock, &QReadWriteLock::lockForWrite>;

#endif
