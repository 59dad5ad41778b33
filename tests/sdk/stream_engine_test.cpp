// The stream loop against fakes of the library and of the output: nothing may be lost
// between a library-like bounded queue and a slow writer, limits are exact, and every
// way a stream can end is reported as such without hanging.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

#include "sample_queue.h"
#include "stream_engine.h"

using namespace tessivar::cli;
using namespace std::chrono_literals;

namespace {

// Behaves like the library's power queue: a producer adds records at a fixed rate (up
// to `limit` of them), the queue keeps at most 401 and drops the oldest beyond that.
class LibraryLikeSource : public SampleSource {
public:
    explicit LibraryLikeSource(int perMillisecond, int64_t limit = INT64_MAX)
        : rate_(perMillisecond), limit_(limit)
    {
        producer_ = std::thread([this] {
            while (!quit_.load()) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    for (int i = 0; i < rate_ && next_ < limit_; ++i) {
                        if (queue_.size() > 400) {
                            queue_.pop_front();
                            ++dropped_;
                        }
                        queue_.push_back(Sample{next_++, 1000.0});
                    }
                }
                std::this_thread::sleep_for(1ms);
            }
        });
    }
    ~LibraryLikeSource() override
    {
        quit_.store(true);
        producer_.join();
    }
    int fetch(Sample* out, int capacity) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        while (n < capacity && !queue_.empty()) {
            out[n++] = queue_.front();
            queue_.pop_front();
        }
        return n;
    }
    LinkState checkLink() override { return LinkState::Alive; }
    uint64_t dropped()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return dropped_;
    }

private:
    const int rate_;
    const int64_t limit_;
    std::mutex mutex_;
    std::deque<Sample> queue_;
    int64_t next_ = 0;
    uint64_t dropped_ = 0;
    std::atomic<bool> quit_{false};
    std::thread producer_;
};

// Scripted source: hands out `total` records in chunks, then nothing; fetch results and
// link answers can be overridden.
class ScriptedSource : public SampleSource {
public:
    int total = 0;
    int chunk = 10;
    int failWith = 0;  // a negative code to return once the records are out
    LinkState linkAnswer = LinkState::Alive;
    std::atomic<int> linkChecks{0};
    std::atomic<int> handedOut{0};

    int fetch(Sample* out, int capacity) override
    {
        const int left = total - handedOut.load();
        if (left <= 0)
            return failWith;
        const int n = std::min({left, chunk, capacity});
        for (int i = 0; i < n; ++i)
            out[i] = Sample{handedOut.load() + i, 1.0};
        handedOut += n;
        return n;
    }
    LinkState checkLink() override
    {
        ++linkChecks;
        return linkAnswer;
    }
};

class RecordingSink : public SampleSink {
public:
    std::vector<Sample> rows;
    std::chrono::milliseconds delayPerWrite{0};
    int failAfterWrites = -1;
    int flushes = 0;
    bool write(const Sample* s, size_t n) override
    {
        if (failAfterWrites == 0)
            return false;
        if (failAfterWrites > 0)
            --failAfterWrites;
        rows.insert(rows.end(), s, s + n);
        if (delayPerWrite.count() > 0)
            std::this_thread::sleep_for(delayPerWrite);
        return true;
    }
    bool flush() override
    {
        ++flushes;
        return true;
    }
};

bool consecutive(const std::vector<Sample>& rows, int64_t first = 0)
{
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].timeMs != first + static_cast<int64_t>(i))
            return false;
    return true;
}

}  // namespace

TEST(SampleQueue, KeepsOrderAndRefusesBeyondItsBudget)
{
    SampleQueue q(5);
    EXPECT_TRUE(q.push({{1, 0}, {2, 0}}));
    EXPECT_TRUE(q.push({{3, 0}, {4, 0}}));
    EXPECT_FALSE(q.push({{5, 0}, {6, 0}})) << "4 + 2 records exceed a budget of 5";
    EXPECT_EQ(q.droppedRecords(), 2u);
    EXPECT_EQ(q.queuedRecords(), 4u);
    std::vector<Sample> c{{99, 0}};
    ASSERT_TRUE(q.pop(c, 0ms));
    ASSERT_EQ(c.size(), 4u) << "everything queued, replacing the old content";
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(c[i].timeMs, i + 1);
    EXPECT_EQ(q.queuedRecords(), 0u);
    EXPECT_FALSE(q.pop(c, 1ms));
    EXPECT_TRUE(q.push({{7, 0}, {8, 0}, {9, 0}, {10, 0}, {11, 0}}))
        << "the whole budget is free again";
}

TEST(SampleQueue, CloseWakesTheConsumerAndLeavesQueuedChunks)
{
    SampleQueue q(100);
    q.push({{1, 0}});
    std::thread closer([&] {
        std::this_thread::sleep_for(20ms);
        q.close();
    });
    std::vector<Sample> c;
    ASSERT_TRUE(q.pop(c, 0ms));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(q.pop(c, 10s)) << "closed and empty";
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s) << "close must wake the waiting pop";
    closer.join();
    EXPECT_TRUE(q.closedAndEmpty());
    EXPECT_FALSE(q.push({{2, 0}}));
}

TEST(StreamEngine, NothingLostBetweenABoundedLibraryQueueAndASlowWriter)
{
    // 10 records per ms fill the library's 401 in about 40 ms; the writer stalls for
    // 60 ms per chunk. Only a poller that never waits for the writer keeps up. (At 20 per
    // ms a poller descheduled for 20 ms on a loaded machine under ThreadSanitizer lost
    // records; 40 ms still leaves a waiting poller 20 ms short.)
    LibraryLikeSource source(10, 12000);
    RecordingSink sink;
    sink.delayPerWrite = 60ms;
    StreamConfig config;
    config.count = 12000;
    config.duration = 60s;  // a starved poller (records lost) fails the test instead of hanging it
    std::atomic<bool> stop{false};
    const StreamOutcome o = runStream(source, sink, config, stop);
    EXPECT_EQ(o.end, StreamEnd::CountReached);
    EXPECT_EQ(o.written, 12000u);
    ASSERT_EQ(sink.rows.size(), 12000u);
    EXPECT_TRUE(consecutive(sink.rows)) << "a gap means records were dropped";
    EXPECT_EQ(o.dropped, 0u);
    EXPECT_EQ(source.dropped(), 0u) << "the library-side queue overflowed";
    EXPECT_GE(sink.flushes, 1);
}

TEST(StreamEngine, CountLimitIsExactEvenInsideAChunk)
{
    ScriptedSource source;
    source.total = 1000;
    source.chunk = 401;
    RecordingSink sink;
    StreamConfig config;
    config.count = 450;
    std::atomic<bool> stop{false};
    const StreamOutcome o = runStream(source, sink, config, stop);
    EXPECT_EQ(o.end, StreamEnd::CountReached);
    EXPECT_EQ(sink.rows.size(), 450u);
    EXPECT_TRUE(consecutive(sink.rows));
}

TEST(StreamEngine, DurationEndsTheStreamAndKeepsWhatWasFetched)
{
    LibraryLikeSource source(1);
    RecordingSink sink;
    StreamConfig config;
    config.duration = 300ms;
    std::atomic<bool> stop{false};
    const auto t0 = std::chrono::steady_clock::now();
    const StreamOutcome o = runStream(source, sink, config, stop);
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_EQ(o.end, StreamEnd::DurationElapsed);
    EXPECT_GE(took, 300ms);
    EXPECT_LT(took, 3s);
    EXPECT_GT(o.written, 50u) << "about 300 records at 1 per ms";
    EXPECT_EQ(o.written, sink.rows.size());
    EXPECT_TRUE(consecutive(sink.rows));
}

TEST(StreamEngine, StopFlagEndsCleanlyAndWritesEverythingFetched)
{
    ScriptedSource source;
    source.total = 5000;
    source.chunk = 50;
    RecordingSink sink;
    sink.delayPerWrite = 2ms;
    StreamConfig config;
    std::atomic<bool> stop{false};
    std::thread interrupter([&] {
        std::this_thread::sleep_for(100ms);
        stop.store(true);
    });
    const StreamOutcome o = runStream(source, sink, config, stop);
    interrupter.join();
    EXPECT_EQ(o.end, StreamEnd::Stopped);
    EXPECT_EQ(static_cast<int>(sink.rows.size()), source.handedOut.load())
        << "records taken from the library must reach the output";
    EXPECT_TRUE(consecutive(sink.rows));
}

TEST(StreamEngine, SilenceLeadsToALinkCheckAndALostLinkEndsTheStream)
{
    ScriptedSource source;
    source.total = 30;
    source.linkAnswer = LinkState::NotAnswering;
    RecordingSink sink;
    StreamConfig config;
    config.silenceBeforeCheck = 50ms;
    std::atomic<bool> stop{false};
    const StreamOutcome o = runStream(source, sink, config, stop);
    EXPECT_EQ(o.end, StreamEnd::LinkLost);
    EXPECT_EQ(o.link, LinkState::NotAnswering);
    EXPECT_EQ(o.written, 30u) << "records before the loss are kept";
    EXPECT_EQ(source.linkChecks.load(), 1);
}

TEST(StreamEngine, SourceAndWriteFailuresAreReportedWithoutHanging)
{
    {
        ScriptedSource source;
        source.total = 20;
        source.failWith = -1;
        RecordingSink sink;
        std::atomic<bool> stop{false};
        const StreamOutcome o = runStream(source, sink, StreamConfig{}, stop);
        EXPECT_EQ(o.end, StreamEnd::SourceFailed);
        EXPECT_EQ(o.sourceError, -1);
        EXPECT_EQ(o.written, 20u);
    }
    {
        LibraryLikeSource source(1);
        RecordingSink sink;
        sink.failAfterWrites = 2;
        std::atomic<bool> stop{false};
        const StreamOutcome o = runStream(source, sink, StreamConfig{}, stop);
        EXPECT_EQ(o.end, StreamEnd::WriteFailed);
    }
}

TEST(StreamEngine, AWriterTooFarBehindIsReportedAsLoss)
{
    LibraryLikeSource source(20);
    RecordingSink sink;
    sink.delayPerWrite = 200ms;
    StreamConfig config;
    config.maxQueuedRecords = 1000;
    config.duration = 600ms;
    std::atomic<bool> stop{false};
    const StreamOutcome o = runStream(source, sink, config, stop);
    EXPECT_EQ(o.end, StreamEnd::DurationElapsed);
    EXPECT_GT(o.dropped, 0u);
}

// A probe detached while records keep flowing: flagged once (and its return once), the
// stream goes on to its end.
TEST(StreamEngine, AProbeDetachedWhileRecordsFlowIsFlaggedAndTheStreamGoesOn)
{
    class DetachingSource : public LibraryLikeSource {
    public:
        DetachingSource() : LibraryLikeSource(1) {}
        std::atomic<int> checks{0};
        LinkState checkLink() override
        {
            const int n = ++checks;
            return n >= 3 && n <= 5 ? LinkState::ProbeDetached : LinkState::Alive;
        }
    } source;
    RecordingSink sink;
    StreamConfig config;
    config.duration = 600ms;
    config.probeCheckInterval = 50ms;
    std::atomic<bool> stop{false};
    std::vector<bool> flags;
    const StreamOutcome o = runStream(source, sink, config, stop, {},
                                      [&](bool detached) { flags.push_back(detached); });
    EXPECT_EQ(o.end, StreamEnd::DurationElapsed);
    EXPECT_GT(source.checks.load(), 5);
    EXPECT_EQ(flags, (std::vector<bool>{true, false})) << "detached once, attached again once";
    EXPECT_TRUE(consecutive(sink.rows));
}
