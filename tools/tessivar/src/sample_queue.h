// Hand-over of readings from the polling thread to the writing thread of a stream.
//
// The library keeps at most 401 records per meter, so the poller must never wait for the
// writer (a slow disk or a paused pipe would otherwise make the library drop samples).
// The queue therefore takes whole chunks without blocking; it is bounded only by a large
// record budget, and a chunk that does not fit is counted as lost instead of being
// queued, so a stalled writer cannot grow memory without bound and the loss is reported.
//
// Thread-safe: one or more producers, one consumer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "sample.h"

namespace tessivar::cli {

class SampleQueue {
public:
    explicit SampleQueue(size_t maxRecords);

    // Appends a chunk; never blocks on the consumer. Returns false (and counts the
    // chunk's records as dropped) when the budget would be exceeded or after close().
    bool push(std::vector<Sample> chunk);

    // Takes every queued record, oldest first, into `records` (replacing its content), so
    // that a writer that fell behind catches up in one large write. Waits up to `timeout`
    // for the first chunk. Returns false when nothing came in time, or when the queue is
    // closed and empty.
    bool pop(std::vector<Sample>& records, std::chrono::milliseconds timeout);

    // No more pushes will be accepted; wakes a waiting consumer. Chunks already queued
    // can still be popped.
    void close();

    bool closedAndEmpty() const;
    size_t queuedRecords() const;
    uint64_t droppedRecords() const;

private:
    const size_t maxRecords_;
    mutable std::mutex mutex_;  // guards every member below
    std::condition_variable ready_;
    std::deque<std::vector<Sample>> chunks_;
    size_t queued_ = 0;
    uint64_t dropped_ = 0;
    bool closed_ = false;
};

}  // namespace tessivar::cli
