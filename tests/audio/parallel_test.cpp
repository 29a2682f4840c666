// The one helper that splits work over the cores, and its fallback: where no
// thread can be started, the work runs on the calling thread with the same
// results.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "audio/Parallel.h"
#include "audio/SampleFormat.h"
#include "support/NoThreads.h"

namespace notavox {
namespace {

using testing::NoThreads;

// Runs `parts` parts and records which thread ran each, and how often.
struct PartLog {
    std::mutex mutex;
    std::vector<int> runs;
    std::vector<std::thread::id> who;
    explicit PartLog(size_t parts) : runs(parts, 0), who(parts) {}
    void run(size_t parts) {
        RunInParts(parts, [this](size_t i) {
            std::lock_guard<std::mutex> lock(mutex);
            ++runs[i];
            who[i] = std::this_thread::get_id();
        });
    }
};

TEST(RunInParts, EveryPartRunsOnceWithOrWithoutThreads) {
    for (int allowed : {-1, 0, 2}) {
        std::unique_ptr<NoThreads> limit;
        if (allowed >= 0) limit = std::make_unique<NoThreads>(allowed);
        PartLog log(6);
        log.run(6);
        for (size_t i = 0; i < 6; ++i) EXPECT_EQ(log.runs[i], 1) << "part " << i << ", allowed " << allowed;
        EXPECT_EQ(log.who[0], std::this_thread::get_id()) << "part 0 is the caller's";
        int onCaller = 0;
        for (auto id : log.who) onCaller += id == std::this_thread::get_id();
        // Unlimited: one part on the caller; two threads: the other three
        // parts on the caller; none: all six.
        EXPECT_EQ(onCaller, allowed < 0 ? 1 : allowed == 2 ? 4 : 6) << "allowed " << allowed;
    }
}

TEST(RunInParts, AnExceptionIsPassedOnWhenEveryPartHasEnded) {
    for (int allowed : {-1, 0}) {
        std::unique_ptr<NoThreads> limit;
        if (allowed >= 0) limit = std::make_unique<NoThreads>(allowed);
        std::atomic<int> ran{0};
        EXPECT_THROW(RunInParts(4,
                                [&](size_t i) {
                                    if (i == 1) throw std::runtime_error("part 1");
                                    ++ran;
                                }),
                     std::runtime_error);
        EXPECT_EQ(ran.load(), 3) << "allowed " << allowed;
    }
}

// Items are shared out one by one; each runs once, on a part below the
// number of workers and of items.
TEST(RunItems, EveryItemRunsOnceOnAPartOfItsOwnCount) {
    for (int allowed : {-1, 0, 1}) {
        std::unique_ptr<NoThreads> limit;
        if (allowed >= 0) limit = std::make_unique<NoThreads>(allowed);
        for (size_t items : {size_t(0), size_t(2), size_t(40)}) {
            std::vector<std::atomic<int>> runs(items);
            std::atomic<size_t> highestPart{0};
            RunItems(items, 3, [&](size_t i, size_t part) {
                ++runs[i];
                size_t seen = highestPart.load();
                while (part > seen && !highestPart.compare_exchange_weak(seen, part)) {
                }
            });
            for (size_t i = 0; i < items; ++i) EXPECT_EQ(runs[i].load(), 1) << "item " << i << " of " << items;
            if (items > 0) {
                EXPECT_LT(highestPart.load(), std::min<size_t>(3, items)) << items;
            }
        }
    }
    // Without threads the caller takes the items in order, and none after
    // one that threw.
    NoThreads none;
    std::vector<size_t> order;
    EXPECT_THROW(RunItems(10, 2,
                          [&](size_t i, size_t) {
                              order.push_back(i);
                              if (i == 4) throw std::runtime_error("item 4");
                          }),
                 std::runtime_error);
    EXPECT_EQ(order, (std::vector<size_t>{0, 1, 2, 3, 4}));
}

// A group starts its threads once and runs round after round on them, also
// after a round that threw; parts without a thread run on the caller.
TEST(PartGroup, RoundsRunOnTheThreadsStartedOnce) {
    NoThreads limit(1);
    PartGroup group(3);
    EXPECT_EQ(group.parts(), 3u);
    for (int round = 0; round < 4; ++round) {
        std::vector<std::atomic<int>> runs(25);
        std::atomic<int> offCaller{0};  // parts 0 and 2 run on the caller
        const auto caller = std::this_thread::get_id();
        auto item = [&](size_t i, size_t part) {
            ++runs[i];
            if (part != 1 && std::this_thread::get_id() != caller) ++offCaller;
            if (round == 2 && i == 7) throw std::runtime_error("item 7");
        };
        if (round == 2) {
            EXPECT_THROW(group.runItems(runs.size(), item), std::runtime_error);
            continue;
        }
        group.runItems(runs.size(), item);
        for (size_t i = 0; i < runs.size(); ++i) EXPECT_EQ(runs[i].load(), 1) << "round " << round << ", item " << i;
        EXPECT_EQ(offCaller.load(), 0);
    }
    EXPECT_EQ(NoThreads::startedCount(), 1);
}

TEST(WorkerGroup, StartsWhatItCanAndReportsIt) {
    std::atomic<int> ran{0};
    {
        NoThreads limit(1);
        WorkerGroup group;
        EXPECT_EQ(group.start(3, [&] { ++ran; }), 1u);
        group.join();
    }
    EXPECT_EQ(ran.load(), 1);
    {
        NoThreads none;
        WorkerGroup group;
        EXPECT_EQ(group.start(2, [&] { ++ran; }), 0u);
        std::thread t;
        EXPECT_FALSE(StartThread(t, [&] { ++ran; }));
        EXPECT_FALSE(t.joinable());
    }
    EXPECT_EQ(ran.load(), 1);
    EXPECT_GE(CoreCount(), 1u);
}

TEST(RunInParts, LargeFormatConversionWithoutThreadsGivesTheSameBytes) {
    // Over four million frames: the conversion is split into parts.
    const size_t n = size_t(4400000) * 4;
    auto make = [n] {
        SampleBlock b = allocateBlock(n);
        uint32_t x = 7;
        for (size_t i = 0; i < n; ++i) b[i] = uint8_t((x = x * 1103515245u + 12345u) >> 24);
        AudioDocument d;
        d.replace(std::move(b), int32_t(n), 44100, true, true);
        return d;
    };
    AudioDocument threaded = make();
    AudioDocument single = make();
    const SampleFormatTarget t{true, true, 48000};
    ASSERT_EQ(ConvertSampleFormat(threaded, t), FormatResult::Converted);
    {
        NoThreads none;
        ASSERT_EQ(ConvertSampleFormat(single, t), FormatResult::Converted);
        EXPECT_EQ(NoThreads::startedCount(), 0);
    }
    ASSERT_EQ(single.byteCount, threaded.byteCount);
    EXPECT_EQ(0, std::memcmp(single.sampleData.get(), threaded.sampleData.get(), size_t(single.byteCount)));
}

}  // namespace
}  // namespace notavox
