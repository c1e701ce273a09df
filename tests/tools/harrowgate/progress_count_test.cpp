#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>
#include <vector>

#include "tools/harrowgate/row_workers.h"

using harrowgate::ProgressCount;

namespace {

// Runs `scenario` on a thread of its own; a lost wake-up leaves its threads asleep for good,
// which can neither be joined nor unwound, so the process ends with a failure instead.
template <typename Scenario>
void WithinDeadline(const char* name, Scenario scenario) {
    std::packaged_task<void()> task(scenario);
    std::future<void> done = task.get_future();
    std::thread runner(std::move(task));
    if (done.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        std::fprintf(stderr, "%s: still asleep after 60 s, a wake-up was lost\n", name);
        std::_Exit(1);
    }
    runner.join();
    done.get();
}

}  // namespace

// The pattern of the row coding: each row waits for the row above to be two macroblocks
// ahead, polls, and then sleeps for a lead further on. Rows are short so that threads sleep
// and wake thousands of times; every row must finish, picture after picture.
TEST(ProgressCount, RowsWaitingOnTheRowAboveAllFinish) {
    WithinDeadline("rows", [] {
        constexpr int kRows = 6, kWidth = 12, kPictures = 300;
        for (int picture = 0; picture < kPictures; ++picture) {
            std::vector<ProgressCount> rows(kRows);
            std::atomic<int> early{0};  // woken before the row above was far enough
            std::vector<std::thread> threads;
            for (int r = 0; r < kRows; ++r) {
                threads.emplace_back([&, r] {
                    for (int x = 0; x < kWidth; ++x) {
                        if (r > 0) {
                            ProgressCount& above = rows[static_cast<size_t>(r - 1)];
                            const int needed = std::min(x + 2, kWidth);
                            // Most pictures skip the poll, to sleep as often as can be.
                            if (above.Load() < needed &&
                                (picture % 4 != 0 || !above.PollAtLeast(needed)))
                                above.SleepUntil(std::min(needed + 3, kWidth));
                            if (above.Load() < needed) ++early;
                        }
                        rows[static_cast<size_t>(r)].Store(x + 1);
                    }
                });
            }
            for (std::thread& t : threads) t.join();
            ASSERT_EQ(early.load(), 0) << "picture " << picture;
            for (ProgressCount& row : rows) ASSERT_EQ(row.Load(), kWidth);
        }
    });
}

// Several sleepers on one count with different targets, as rows waiting for the loop filter:
// none may be woken before its target nor left asleep after it.
TEST(ProgressCount, SleepersWithDifferentTargetsEachWakeAtTheirOwn) {
    WithinDeadline("targets", [] {
        for (int round = 0; round < 300; ++round) {
            ProgressCount count;
            std::vector<int> seen(4, -1);
            std::vector<std::thread> sleepers;
            for (int i = 0; i < 4; ++i) {
                sleepers.emplace_back([&, i] {
                    const int target = 1 + (i * 7 + round) % 10;
                    if (round % 2 == 0)
                        count.WaitAtLeast(target);
                    else
                        count.SleepUntil(target);
                    seen[static_cast<size_t>(i)] = count.Load() - target;
                });
            }
            for (int v = 1; v <= 10; ++v) {
                if (round % 3 == 0) std::this_thread::yield();
                count.Store(v);
            }
            for (std::thread& t : sleepers) t.join();
            for (int i = 0; i < 4; ++i) ASSERT_GE(seen[static_cast<size_t>(i)], 0) << round;
        }
    });
}
