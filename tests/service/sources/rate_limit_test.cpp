// The rate limit on a clock the test moves: when each request may go, what the server sees of
// them, and how long the requests left take.
#include "sources/rate_limit.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace std::chrono_literals;

// Time moves only when the limiter sleeps or the test says so, so every wait is seen exactly.
class TManualClock : public TFetchClock
{
public:
    TTime Now() override { return Current; }
    bool SleepUntil(TTime time, const volatile std::sig_atomic_t* stop) override
    {
        if (stop && *stop)
            return false;
        Current = std::max(Current, time);
        return true;
    }
    TTime Current{};
};

constexpr std::chrono::milliseconds Margin = 250ms; // a quarter second a minute

TEST(RateLimitTest, RequestsGoWhenTheirWindowHasRoomAndNotBefore)
{
    struct TRow
    {
        int Rate;
        std::vector<std::chrono::milliseconds> Sends; // when each request goes, from the start
    };
    const std::vector<TRow> rows = {
        {1, {0ms, 60s + Margin, 2 * (60s + Margin)}},
        {2, {0ms, 0ms, 60s + Margin, 60s + Margin, 2 * (60s + Margin)}},
        {5, {0ms, 0ms, 0ms, 0ms, 0ms, 60s + Margin}},
    };
    for (const TRow& row : rows)
    {
        TManualClock clock;
        const TFetchClock::TTime start = clock.Current;
        TRateLimiter limiter(row.Rate, 60s, clock);
        for (size_t i = 0; i < row.Sends.size(); ++i)
        {
            ASSERT_TRUE(limiter.Take(nullptr));
            limiter.Answered();
            EXPECT_EQ(clock.Current - start, row.Sends[i]) << "rate " << row.Rate << ", request " << i;
        }
    }

    // A request answered late frees its place late: the window slides, it is not a fixed minute.
    TManualClock clock;
    const TFetchClock::TTime start = clock.Current;
    TRateLimiter limiter(2, 60s, clock);
    ASSERT_TRUE(limiter.Take(nullptr));
    clock.Current += 30s;
    limiter.Answered();
    ASSERT_TRUE(limiter.Take(nullptr));
    limiter.Answered();
    ASSERT_TRUE(limiter.Take(nullptr));
    EXPECT_EQ(clock.Current - start, 90s + Margin) << "counted from the first answer, not its sending";

    volatile std::sig_atomic_t stop = 1;
    EXPECT_FALSE(limiter.Take(&stop)) << "a stop ends the wait";
}

// At --rate 10 the server saw 11 requests within one minute: places were counted from the
// sending, and a request that travelled faster than the one ten before it arrived early.
TEST(RateLimitTest, TheServerNeverSeesMoreThanTheRateWithinAMinuteWhateverTheTravel)
{
    const std::vector<std::chrono::milliseconds> travel = {40ms, 5ms,  30ms, 0ms,  45ms, 10ms,
                                                           25ms, 15ms, 35ms, 20ms, 1ms};
    constexpr int Rate = 10;
    TManualClock clock;
    TRateLimiter limiter(Rate, 60s, clock);
    std::vector<TFetchClock::TTime> seen; // when the server saw each request
    for (size_t i = 0; i < 60; ++i)
    {
        ASSERT_TRUE(limiter.Take(nullptr));
        const std::chrono::milliseconds way = travel[i % travel.size()];
        seen.push_back(clock.Current + way);
        clock.Current += 2 * way + 3ms; // there, the server's work, and back
        limiter.Answered();
    }
    for (size_t i = 0; i + Rate < seen.size(); ++i)
        EXPECT_GT(seen[i + Rate] - seen[i], 60s) << "requests " << i << " to " << i + Rate << " in one minute";
}

TEST(RateLimitTest, TheTimeLeftIsThatOfTheWaitsTheLimiterWillMake)
{
    struct TRow
    {
        const char* Name;
        int Rate;
        long Requests;
        std::chrono::milliseconds AnswerTime;
        std::chrono::milliseconds Takes;
    };
    const TRow rows[] = {
        {"none", 5, 0, 0ms, 0ms},
        {"a window's worth goes at once", 5, 5, 0ms, 0ms},
        // Requests that do not fill whole windows wait for one window, not for a share of one.
        {"one past the window", 5, 6, 0ms, 60s + Margin},
        {"two past the window", 5, 7, 0ms, 60s + Margin},
        {"two windows and one", 5, 11, 0ms, 2 * (60s + Margin)},
        {"288 at the free plan's rate", 5, 288, 0ms, 57 * (60s + Margin)},
        // The window counts from the answers: the sixth waits for the first answer's minute.
        {"answers of two seconds", 5, 6, 2s, 2s + 60s + Margin + 2s},
        {"a fast plan is bound by its answers", 500, 300, 100ms, 30s},
        {"past a window of a fast plan", 500, 501, 100ms, 100ms + 60s + Margin + 100ms},
    };
    for (const TRow& row : rows)
    {
        SCOPED_TRACE(row.Name);
        TManualClock clock;
        TRateLimiter limiter(row.Rate, 60s, clock);
        EXPECT_EQ(limiter.TimeFor(row.Requests, row.AnswerTime), row.Takes);
        // The limiter itself waits as long.
        const TFetchClock::TTime start = clock.Current;
        for (long i = 0; i < row.Requests; ++i)
        {
            ASSERT_TRUE(limiter.Take(nullptr));
            clock.Current += row.AnswerTime;
            limiter.Answered();
        }
        EXPECT_EQ(clock.Current - start, row.Takes);
    }

    // What the window holds already counts: two sent of a rate of two, the next waits.
    TManualClock clock;
    TRateLimiter limiter(2, 60s, clock);
    ASSERT_TRUE(limiter.Take(nullptr));
    limiter.Answered();
    clock.Current += 20s;
    ASSERT_TRUE(limiter.Take(nullptr));
    limiter.Answered();
    EXPECT_EQ(limiter.TimeFor(1, 0ms), 40s + Margin);
    EXPECT_EQ(limiter.TimeFor(3, 0ms), 60s + 40s + 2 * Margin);
}

} // namespace
