#include "stream_engine.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "sample_queue.h"

namespace tessivar::cli {
namespace {

// The library never holds more than this many records per meter.
constexpr int kFetchChunk = 401;

}  // namespace

StreamOutcome runStream(SampleSource& source, SampleSink& sink, const StreamConfig& config,
                        const std::atomic<bool>& stop, const ProgressFn& progress,
                        const ProbeFn& probe)
{
    using Clock = std::chrono::steady_clock;
    SampleQueue queue(config.maxQueuedRecords);
    std::atomic<bool> stopPolling{false};
    // Written by the poller before it closes the queue; read here after the join.
    LinkState link = LinkState::Alive;
    int sourceError = 0;
    std::atomic<bool> probeDetached{false};  // as last seen by the poller while records flow

    std::thread poller([&] {
        std::vector<Sample> buffer(kFetchChunk);
        auto lastData = Clock::now();
        auto lastProbeCheck = Clock::now();
        while (!stopPolling.load()) {
            const int n = source.fetch(buffer.data(), kFetchChunk);
            if (n < 0) {
                sourceError = n;
                break;
            }
            const auto now = Clock::now();
            if (n > 0) {
                queue.push(std::vector<Sample>(buffer.begin(), buffer.begin() + n));
                lastData = now;
                if (config.probeCheckInterval.count() > 0 &&
                    now - lastProbeCheck >= config.probeCheckInterval) {
                    lastProbeCheck = now;
                    const LinkState state = source.checkLink();
                    if (state == LinkState::ProbeDetached)
                        probeDetached.store(true);
                    else if (state == LinkState::Alive)
                        probeDetached.store(false);
                }
                if (n == kFetchChunk)
                    continue;  // more may be waiting: fetch again at once
            } else if (now - lastData >= config.silenceBeforeCheck) {
                const LinkState state = source.checkLink();
                if (state != LinkState::Alive) {
                    link = state;
                    break;
                }
                lastData = Clock::now();
            }
            std::this_thread::sleep_for(config.pollInterval);
        }
        queue.close();
    });

    StreamOutcome outcome;
    const auto start = Clock::now();
    std::optional<Clock::time_point> deadline;
    if (config.duration)
        deadline = start + std::chrono::duration_cast<Clock::duration>(*config.duration);
    auto nextProgress = start + config.progressInterval;
    std::optional<double> lastValue;
    bool reportedDetached = false;
    auto reportProbe = [&] {
        const bool detached = probeDetached.load();
        if (probe && detached != reportedDetached)
            probe(detached);
        reportedDetached = detached;
    };

    auto writeChunk = [&](const std::vector<Sample>& chunk) -> bool {
        size_t n = chunk.size();
        if (config.count)
            n = static_cast<size_t>(std::min<uint64_t>(n, *config.count - outcome.written));
        if (n == 0)
            return true;
        if (!sink.write(chunk.data(), n))
            return false;
        outcome.written += n;
        lastValue = chunk[n - 1].powerNw;
        return true;
    };

    for (;;) {
        if (stop.load()) {
            outcome.end = StreamEnd::Stopped;
            break;
        }
        auto now = Clock::now();
        if (deadline && now >= *deadline) {
            outcome.end = StreamEnd::DurationElapsed;
            break;
        }
        auto wait = std::chrono::milliseconds(50);
        if (deadline)
            wait = std::min(wait,
                            std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - now) +
                                std::chrono::milliseconds(1));
        std::vector<Sample> chunk;
        if (queue.pop(chunk, wait)) {
            if (!writeChunk(chunk)) {
                outcome.end = StreamEnd::WriteFailed;
                break;
            }
            if (config.count && outcome.written >= *config.count) {
                outcome.end = StreamEnd::CountReached;
                break;
            }
        } else if (queue.closedAndEmpty()) {
            outcome.end = StreamEnd::LinkLost;  // refined below once the poller has ended
            break;
        }
        reportProbe();
        now = Clock::now();
        if (progress && now >= nextProgress) {
            progress(outcome.written, std::chrono::duration<double>(now - start).count(),
                     lastValue);
            nextProgress = now + config.progressInterval;
        }
    }

    stopPolling.store(true);
    poller.join();

    // What was fetched before a stop or the end of the duration is still written.
    if (outcome.end == StreamEnd::Stopped || outcome.end == StreamEnd::DurationElapsed ||
        outcome.end == StreamEnd::LinkLost) {
        std::vector<Sample> chunk;
        while (queue.pop(chunk, std::chrono::milliseconds(0))) {
            if (!writeChunk(chunk)) {
                outcome.end = StreamEnd::WriteFailed;
                break;
            }
        }
    }
    if (outcome.end == StreamEnd::LinkLost && sourceError != 0)
        outcome.end = StreamEnd::SourceFailed;
    if (!sink.flush())
        outcome.end = StreamEnd::WriteFailed;
    if (progress)
        progress(outcome.written, std::chrono::duration<double>(Clock::now() - start).count(),
                 lastValue);

    outcome.link = link;
    outcome.sourceError = sourceError;
    outcome.dropped = queue.droppedRecords();
    return outcome;
}

}  // namespace tessivar::cli
