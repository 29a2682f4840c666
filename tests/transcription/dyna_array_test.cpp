#include <cstring>

#include <gtest/gtest.h>

#include "transcription/DynaArray.h"

using namespace notavox;

namespace {
struct Rec {
    int32_t a;
    int32_t b;
};
Rec& rec(void* p) { return *static_cast<Rec*>(p); }
std::vector<int32_t> values(TDynaArray& l) {
    std::vector<int32_t> v;
    for (int32_t i = 0; i < l.count(); ++i) v.push_back(rec(l.element(i)).a);
    return v;
}
void fill(TDynaArray& l, std::initializer_list<int32_t> vals) {
    for (int32_t v : vals) rec(l.Append()).a = v;
}
}  // namespace

TEST(TDynaArray, StartsEmpty) {
    void* mirror = reinterpret_cast<void*>(1);
    TDynaArray l(8, &mirror);
    EXPECT_EQ(l.count(), 0);
    EXPECT_EQ(l.cursor(), -1);
    EXPECT_EQ(l.current(), nullptr);
    EXPECT_EQ(l.capacityBytes(), 0);
    EXPECT_EQ(l.growStep(), 100);
    EXPECT_EQ(l.data(), nullptr);
    EXPECT_FALSE(l.Next());
}

TEST(TDynaArray, DeleteInsertAndRanges) {
    TDynaArray l(8, nullptr);
    fill(l, {1, 2, 3});
    l.Delete(1);
    EXPECT_EQ(values(l), (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(l.cursor(), -1);
    EXPECT_EQ(l.current(), nullptr);
    l.Delete(1);
    EXPECT_EQ(values(l), (std::vector<int32_t>{1}));
    l.Delete(5);
    l.Delete(-1);
    EXPECT_EQ(values(l), (std::vector<int32_t>{1}));

    TDynaArray m(8, nullptr);
    fill(m, {1, 2, 3});
    rec(m.Insert(3)).a = 4;
    EXPECT_EQ(values(m), (std::vector<int32_t>{1, 2, 3, 4}));
    EXPECT_EQ(m.Insert(5), nullptr);
    EXPECT_EQ(m.Insert(-1), nullptr);
    EXPECT_EQ(values(m), (std::vector<int32_t>{1, 2, 3, 4}));
    rec(m.Insert(0)).a = 0;
    rec(m.Insert(2)).a = 9;
    EXPECT_EQ(values(m), (std::vector<int32_t>{0, 1, 9, 2, 3, 4}));
    EXPECT_EQ(m.cursor(), 2);
}

TEST(TDynaArray, CapacityGrowsAndShrinksInStepsOfHundred) {
    TDynaArray l(8, nullptr);
    for (int i = 0; i < 100; ++i) l.Append();
    EXPECT_EQ(l.capacityBytes(), 800);
    l.Append();
    EXPECT_EQ(l.capacityBytes(), 1600);
    l.Delete(0);
    EXPECT_EQ(l.count(), 100);
    EXPECT_EQ(l.capacityBytes(), 800);
    while (l.count() > 1) l.Delete(0);
    EXPECT_EQ(l.capacityBytes(), 800);
    l.Delete(0);
    EXPECT_EQ(l.capacityBytes(), 0);
    EXPECT_EQ(l.data(), nullptr);
    for (int i = 0; i < 250; ++i) l.Append();
    EXPECT_EQ(l.capacityBytes(), 2400);
    l.Clear();
    EXPECT_EQ(l.count(), 0);
    EXPECT_EQ(l.capacityBytes(), 0);
}

TEST(TDynaArray, NewElementsAreZeroAndMirrored) {
    void* mirror = nullptr;
    void* shared = nullptr;
    TDynaArray l(8, &mirror);
    TDynaArray other(8, &shared);
    for (int i = 0; i < 150; ++i) {
        void* p = (i % 2) ? l.Append() : l.Insert(0);
        EXPECT_EQ(mirror, p);
        EXPECT_EQ(l.current(), p);
        EXPECT_EQ(rec(p).a, 0);
        EXPECT_EQ(rec(p).b, 0);
        rec(p) = {-1, -1};
    }
    // Memory that held records before must come back zero as well.
    while (l.count() > 0) l.Delete(l.count() - 1);
    for (int i = 0; i < 150; ++i) EXPECT_EQ(rec(l.Append()).b, 0);
    EXPECT_EQ(l.At(7), mirror);
    EXPECT_EQ(l.cursor(), 7);
    EXPECT_EQ(shared, nullptr);
}

TEST(TDynaArray, IterationAndSwap) {
    void* mirror = nullptr;
    TDynaArray l(8, &mirror);
    fill(l, {10, 20, 30});
    l.Swap(0, 2);
    l.Swap(0, 3);
    l.Swap(-1, 1);
    EXPECT_EQ(values(l), (std::vector<int32_t>{30, 20, 10}));
    std::vector<int32_t> seen;
    std::vector<int32_t> cursors;
    l.First();
    EXPECT_EQ(l.cursor(), 0);
    while (l.Next()) {
        seen.push_back(rec(mirror).a);
        cursors.push_back(l.cursor());
    }
    EXPECT_EQ(seen, (std::vector<int32_t>{30, 20, 10}));
    EXPECT_EQ(cursors, (std::vector<int32_t>{1, 2, 3}));
}

TEST(TDynaArray, BulkAppendKeepsTheCapacityRule) {
    TDynaArray l(8, nullptr);
    std::vector<Rec> src(250);
    for (int i = 0; i < 250; ++i) src[size_t(i)] = {i, -i};
    l.AppendMany(src.data(), 250);
    EXPECT_EQ(l.count(), 250);
    EXPECT_EQ(l.capacityBytes(), 2400);
    EXPECT_EQ(l.cursor(), 249);
    EXPECT_EQ(rec(l.element(123)).b, -123);
    l.Truncate(100);
    EXPECT_EQ(l.capacityBytes(), 800);
    EXPECT_EQ(l.AppendMany(src.data(), 0), nullptr);
}
