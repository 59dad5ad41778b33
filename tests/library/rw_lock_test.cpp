#include "sync/rw_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <shared_mutex>
#include <thread>

using tessivar::WriterPreferringLock;
using namespace std::chrono_literals;

TEST(WriterPreferringLock, AWaitingWriterGoesBeforeNewReaders)
{
    WriterPreferringLock lock;
    std::atomic<int> order{0};
    int writerTurn = 0, lateReaderTurn = 0;

    std::shared_lock<WriterPreferringLock> longCommand(lock);  // a reader holding on
    std::thread writer([&] {
        std::unique_lock<WriterPreferringLock> scan(lock);
        writerTurn = ++order;
    });
    while (lock.WaitingWriters() == 0)  // a loaded machine may start the writer late
        std::this_thread::sleep_for(1ms);
    std::thread lateReader([&] {
        std::shared_lock<WriterPreferringLock> call(lock);
        lateReaderTurn = ++order;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(order.load(), 0);  // neither got in while the first reader holds the lock
    longCommand.unlock();
    writer.join();
    lateReader.join();
    EXPECT_EQ(writerTurn, 1);
    EXPECT_EQ(lateReaderTurn, 2);
}

TEST(WriterPreferringLock, ReadersShareAndWritersExclude)
{
    WriterPreferringLock lock;
    std::atomic<int> inside{0}, maxReaders{0};
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                {
                    std::shared_lock<WriterPreferringLock> r(lock);
                    const int now = ++inside;
                    int seen = maxReaders.load();
                    while (now > seen && !maxReaders.compare_exchange_weak(seen, now)) {
                    }
                    --inside;
                }
                std::unique_lock<WriterPreferringLock> w(lock);
                EXPECT_EQ(inside.load(), 0);
                ++counter;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 800);
}
