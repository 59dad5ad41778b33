// The stream loop of `tessivar stream` and `tessivar read`, apart from the library and
// from files so that it can be tested with fakes.
//
// Two steps run at once: a polling thread takes records from the source every few
// milliseconds (the library's queue holds only 401 records, so polling must not wait for
// anything else) and hands them over through a SampleQueue; the calling thread writes
// them to the sink, counts them, watches the limits and reports progress. When no record
// arrives for a while the polling thread asks the source whether the meter still answers,
// so an unplugged meter ends the stream instead of hanging it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "sample.h"

namespace tessivar::cli {

enum class LinkState { Alive, NotAnswering, ProbeDetached, Closed };

class SampleSource {
public:
    virtual ~SampleSource() = default;
    // Moves up to `capacity` records into `out`; returns how many (0 when none are
    // waiting) or a negative library code. Called on the polling thread only.
    virtual int fetch(Sample* out, int capacity) = 0;
    // Asked on the polling thread after a silence; anything but Alive ends the stream.
    virtual LinkState checkLink() = 0;
};

class SampleSink {
public:
    virtual ~SampleSink() = default;
    // Called on the thread that runs runStream. False: the output failed.
    virtual bool write(const Sample* samples, size_t count) = 0;
    virtual bool flush() = 0;
};

struct StreamConfig {
    std::optional<uint64_t> count;                          // stop after this many records
    std::optional<std::chrono::duration<double>> duration;  // stop after this long
    std::chrono::milliseconds pollInterval{5};
    std::chrono::milliseconds silenceBeforeCheck{1000};
    // While records flow, the probe state is still asked this often (0: never), so that a
    // probe detached mid-stream is flagged; the stream goes on.
    std::chrono::milliseconds probeCheckInterval{0};
    std::chrono::milliseconds progressInterval{250};
    size_t maxQueuedRecords = size_t(1) << 22;  // 64 MiB of records
};

enum class StreamEnd {
    CountReached,
    DurationElapsed,
    Stopped,
    LinkLost,
    SourceFailed,
    WriteFailed
};

struct StreamOutcome {
    StreamEnd end = StreamEnd::Stopped;
    uint64_t written = 0;
    uint64_t dropped = 0;  // records lost because the writer fell too far behind
    LinkState link = LinkState::Alive;
    int sourceError = 0;  // the negative code when end == SourceFailed
};

// Progress callback, on the calling thread: records written, seconds since the start,
// value of the latest record.
using ProgressFn = std::function<void(uint64_t, double, std::optional<double>)>;
// Called on the calling thread when the probe is found detached while records flow
// (true), and when it is found attached again afterwards (false).
using ProbeFn = std::function<void(bool detached)>;

// Runs until a limit is reached, `stop` becomes true, the link is lost or a step fails.
// Records fetched before a stop or the end of the duration are still written; with a
// count limit exactly that many are written.
StreamOutcome runStream(SampleSource& source, SampleSink& sink, const StreamConfig& config,
                        const std::atomic<bool>& stop, const ProgressFn& progress = {},
                        const ProbeFn& probe = {});

}  // namespace tessivar::cli
