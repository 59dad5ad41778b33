// A writer-preferring read-write lock: once a writer waits, new readers wait behind it, so
// a scan started while a long command runs gets its turn before calls made meanwhile.
// Non-recursive. Built on std::mutex and std::condition_variable so that sanitizers see
// every hand-over. Usable with std::shared_lock (readers) and std::unique_lock (writers).
#pragma once

#include <condition_variable>
#include <mutex>

namespace tessivar {

class WriterPreferringLock {
public:
    void lock_shared()
    {
        std::unique_lock<std::mutex> guard(mutex_);
        changed_.wait(guard, [this] { return !writing_ && waitingWriters_ == 0; });
        ++readers_;
    }
    void unlock_shared()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (--readers_ == 0)
            changed_.notify_all();
    }
    void lock()
    {
        std::unique_lock<std::mutex> guard(mutex_);
        ++waitingWriters_;
        changed_.wait(guard, [this] { return !writing_ && readers_ == 0; });
        --waitingWriters_;
        writing_ = true;
    }
    void unlock()
    {
        std::lock_guard<std::mutex> guard(mutex_);
        writing_ = false;
        changed_.notify_all();
    }
    // How many writers wait at this moment; a snapshot for tests and diagnostics.
    int WaitingWriters() const
    {
        std::lock_guard<std::mutex> guard(mutex_);
        return waitingWriters_;
    }

private:
    mutable std::mutex mutex_;  // guards the three counters below
    std::condition_variable changed_;
    int readers_ = 0;
    int waitingWriters_ = 0;
    bool writing_ = false;
};

}  // namespace tessivar
