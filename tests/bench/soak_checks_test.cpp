#include "soak_checks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace soak {
namespace {

// Every power of every meter, seen slightly off (the host's rounding), is traced back to
// that meter; nothing in between two powers, and no zero, passes as a sent value.
TEST(SoakValues, EachPowerBelongsToOneMeter)
{
    for (int m = 0; m < kMaxMeters; ++m) {
        for (double p : MeterPowers(m)) {
            EXPECT_EQ(p, std::round(p));
            EXPECT_GE(p, 10000);
            EXPECT_LT(p, 100000);
            for (double off : {0.99, 1.0, 1.01}) {
                const Match got = Classify(p * off, 0, kMaxMeters);
                EXPECT_EQ(got.meter, m) << p * off;
                EXPECT_EQ(got.origin, m == 0 ? Origin::Recorded : Origin::OtherMeter);
            }
            EXPECT_EQ(Classify(p * 1.03, 0, kMaxMeters).origin, Origin::Unknown) << p;
        }
    }
    EXPECT_EQ(Classify(0, 0, 4).origin, Origin::Zero);
    // A meter beyond the run's count is not one of its meters.
    EXPECT_EQ(Classify(MeterPowers(5)[0], 0, 4).origin, Origin::Unknown);
}

TEST(SoakPlan, DeparturesRotateAndAlternateTheWayBack)
{
    struct Case {
        int meters;
        std::vector<Departure> expected;
    };
    const std::vector<Case> cases = {
        {4,
         {{0, true},
          {1, false},
          {0, false},
          {2, false},
          {0, true},
          {3, false},
          {0, false},
          {1, true}}},
        {2, {{0, true}, {1, false}, {0, false}, {1, true}}},
        {1, {{0, true}, {0, false}, {0, true}}},
    };
    for (const Case& c : cases) {
        for (size_t e = 0; e < c.expected.size(); ++e) {
            const Departure d = DepartureAt(int(e), c.meters);
            EXPECT_EQ(d.meter, c.expected[e].meter) << c.meters << " meters, departure " << e;
            EXPECT_EQ(d.otherPort, c.expected[e].otherPort)
                << c.meters << " meters, departure " << e;
        }
    }
}

TEST(SoakPlan, NextFreePortWrapsAndSkipsTaken)
{
    EXPECT_EQ(NextFreePort({1, 2, 3, 4}, 1, 8), 5);
    EXPECT_EQ(NextFreePort({1, 2, 5, 8}, 5, 8), 6);
    EXPECT_EQ(NextFreePort({2, 3, 7, 8}, 8, 8), 1);
    EXPECT_EQ(NextFreePort({1, 2}, 2, 2), -1);
}

std::vector<Row> Numbers(int64_t from, int64_t to)  // rows numbered from..to-1
{
    std::vector<Row> rows;
    for (int64_t n = from; n < to; ++n)
        rows.push_back({n, 10000});
    return rows;
}

TEST(SoakChecks, RowsInsideAnAbsenceAreFound)
{
    struct Case {
        const char* what;
        std::vector<Row> rows;
        Absence absence;
        std::vector<int64_t> inside;
    };
    std::vector<Row> gapLeft = Numbers(0, 40);  // rows stop after the stale allowance
    for (const Row& r : Numbers(60, 100))
        gapLeft.push_back(r);
    std::vector<int64_t> allAfter;
    for (int64_t n = 46; n < 100; ++n)
        allAfter.push_back(n);
    const std::vector<Case> cases = {
        {"a row on every tick",
         Numbers(0, 100),
         {30, 60},
         {46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57}},
        {"the gap left in the numbers", gapLeft, {30, 60}, {}},
        {"never back: every later row", Numbers(0, 100), {30, -1}, allAfter},
        {"back within the allowance", Numbers(0, 100), {30, 40}, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RowsInAbsence(c.rows, c.absence, 99), c.inside) << c.what;
}

TEST(SoakChecks, NumberingAcrossFiles)
{
    struct Case {
        const char* what;
        std::vector<int64_t> numbers;
        int64_t firstDisorder, skipped;
    };
    const std::vector<Case> cases = {
        {"consecutive", {0, 1, 2, 3}, -1, 0},
        {"gaps skipped", {0, 1, 5, 6, 10}, -1, 6},
        {"a repeated number", {0, 1, 1, 2}, 2, 0},
        {"the next file restarts", {0, 1, 2, 0, 1}, 3, 0},
    };
    for (const Case& c : cases) {
        std::vector<Row> rows;
        for (int64_t n : c.numbers)
            rows.push_back({n, 1});
        const Numbering got = CheckNumbering(rows);
        EXPECT_EQ(got.firstDisorder, c.firstDisorder) << c.what;
        EXPECT_EQ(got.skipped, c.skipped) << c.what;
    }
}

TEST(SoakChecks, MedianAndLargest)
{
    EXPECT_EQ(Median({}), 0);
    EXPECT_EQ(Median({3.0, 1.0, 2.0}), 2.0);
    EXPECT_EQ(Largest({3.0, 7.5, 2.0}), 7.5);
}

}  // namespace
}  // namespace soak
