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

class MutexLock {
public:
    explicit MutexLock(QMutex *m) : mutex_(m)
    {
        mutex_->lock();
        QUORVEX_SYNC_ACQUIRE(mutex_);
    }
    ~MutexLock()
    {
        QUORVEX_SYNC_RELEASE(mutex_);
        mutex_->unlock();
    }
    MutexLock(const MutexLock &) = delete;
    MutexLock &operator=(const MutexLock &) = delete;

private:
    QMutex *mutex_;
};

// Readers also release: they may publish nothing, but the extra ordering only hides
// reader-reader overlaps, which are not races.
class ReadLock {
public:
    explicit ReadLock(QReadWriteLock *l) : lock_(l)
    {
        lock_->lockForRead();
        QUORVEX_SYNC_ACQUIRE(lock_);
    }
    ~ReadLock()
    {
        QUORVEX_SYNC_RELEASE(lock_);
        lock_->unlock();
    }
    ReadLock(const ReadLock &) = delete;
    ReadLock &operator=(const ReadLock &) = delete;

private:
    QReadWriteLock *lock_;
};

class WriteLock {
public:
    explicit WriteLock(QReadWriteLock *l) : lock_(l)
    {
        lock_->lockForWrite();
        QUORVEX_SYNC_ACQUIRE(lock_);
    }
    ~WriteLock()
    {
        QUORVEX_SYNC_RELEASE(lock_);
        lock_->unlock();
    }
    WriteLock(const WriteLock &) = delete;
    WriteLock &operator=(const WriteLock &) = delete;

private:
    QReadWriteLock *lock_;
};

#endif
