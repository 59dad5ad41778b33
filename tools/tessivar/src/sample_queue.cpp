#include "sample_queue.h"

namespace tessivar::cli {

SampleQueue::SampleQueue(size_t maxRecords) : maxRecords_(maxRecords) {}

bool SampleQueue::push(std::vector<Sample> chunk)
{
    if (chunk.empty())
        return true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_ || queued_ + chunk.size() > maxRecords_) {
            dropped_ += chunk.size();
            return false;
        }
        queued_ += chunk.size();
        chunks_.push_back(std::move(chunk));
    }
    ready_.notify_one();
    return true;
}

bool SampleQueue::pop(std::vector<Sample>& records, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!ready_.wait_for(lock, timeout, [this] { return !chunks_.empty() || closed_; }))
        return false;
    if (chunks_.empty())
        return false;  // closed and drained
    records = std::move(chunks_.front());
    chunks_.pop_front();
    records.reserve(queued_);
    for (auto& chunk : chunks_)
        records.insert(records.end(), chunk.begin(), chunk.end());
    chunks_.clear();
    queued_ = 0;
    return true;
}

void SampleQueue::close()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
}

bool SampleQueue::closedAndEmpty() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_ && chunks_.empty();
}

size_t SampleQueue::queuedRecords() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return queued_;
}

uint64_t SampleQueue::droppedRecords() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

}  // namespace tessivar::cli
