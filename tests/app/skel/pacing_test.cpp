#include <gtest/gtest.h>

#include <vector>

#include "app/skel/sdl/platform.h"

namespace kv {
namespace {

// Runs the loop's pacing with a timer read once per millisecond from `start`
// for `span` ms (one loop pass per reading) and returns when frames came.
std::vector<uint32> Schedule(int32 rate, uint32 start, uint32 span, uint32 lastFrameTime) {
    FramePacing p{};
    std::vector<uint32> frames;
    for (uint32 t = 0; t <= span; ++t) {
        PacingSetRate(&p, rate);
        if (PacingFrameDue(&p, &lastFrameTime, start + t)) frames.push_back(start + t);
    }
    return frames;
}

std::vector<uint32> Gaps(const std::vector<uint32>& frames) {
    std::vector<uint32> g;
    for (std::size_t i = 1; i < frames.size(); ++i) g.push_back(frames[i] - frames[i - 1]);
    return g;
}

TEST(Pacing, HundredFramesASecondAreTenMillisecondsApart) {
    const std::vector<uint32> frames = Schedule(100, 5000, 1000, 5000);
    ASSERT_EQ(frames.size(), 99u);
    EXPECT_EQ(frames.front(), 5011u);  // due once the timer has passed the period
    for (uint32 g : Gaps(frames)) EXPECT_EQ(g, 10u);
}

TEST(Pacing, ThirtyFramesASecondCarryTheFraction) {
    FramePacing p{};
    PacingSetRate(&p, 30);
    EXPECT_EQ(p.framePeriod, 33u);
    EXPECT_NEAR(p.frameFraction, 1.0f / 3.0f, 1e-6f);

    const std::vector<uint32> frames = Schedule(30, 0, 3000, 0);
    ASSERT_EQ(frames.size(), 90u);
    const std::vector<uint32> gaps = Gaps(frames);
    for (std::size_t i = 0; i < gaps.size(); ++i) {
        // Every third frame comes a millisecond later: 33, 33, 34, ...
        EXPECT_EQ(gaps[i], i % 3 == 2 ? 34u : 33u) << "gap " << i;
    }
}

TEST(Pacing, ZeroMeansEveryPassIsAFrame) {
    FramePacing p{};
    PacingSetRate(&p, 0);
    uint32 last = 100;
    for (uint32 now : {101u, 101u, 101u, 102u, 250u}) EXPECT_TRUE(PacingFrameDue(&p, &last, now));
    EXPECT_EQ(last, 100u);
    // Only a timer that has not moved past the last frame holds it back.
    EXPECT_FALSE(PacingFrameDue(&p, &last, 100));
}

TEST(Pacing, ALateFrameIsFollowedByCatchUpFrames) {
    FramePacing p{};
    PacingSetRate(&p, 100);
    uint32 last = 0;
    // 55 ms without a pass: five frames are owed, and they come at once.
    int32 due = 0;
    while (PacingFrameDue(&p, &last, 55)) ++due;
    EXPECT_EQ(due, 5);
    EXPECT_EQ(last, 50u);
    EXPECT_FALSE(PacingFrameDue(&p, &last, 60));
    EXPECT_TRUE(PacingFrameDue(&p, &last, 61));
}

TEST(Pacing, ThePeriodIsFixedOnceUntilTheRateGoesToZero) {
    FramePacing p{};
    PacingSetRate(&p, 100);
    PacingSetRate(&p, 50);
    EXPECT_EQ(p.framePeriod, 10u);
    PacingSetRate(&p, 0);
    EXPECT_EQ(p.framePeriod, 0u);
    PacingSetRate(&p, 50);
    EXPECT_EQ(p.framePeriod, 20u);
    EXPECT_EQ(p.frameFraction, 0.0f);
}

TEST(Pacing, TheScheduleRunsEvenlyAcrossTheTimersWrap) {
    const uint32 start = 0xFFFFFF00u;
    const std::vector<uint32> frames = Schedule(100, start, 600, start);
    ASSERT_EQ(frames.size(), 59u);
    for (uint32 g : Gaps(frames)) EXPECT_EQ(g, 10u);
}

}  // namespace
}  // namespace kv
