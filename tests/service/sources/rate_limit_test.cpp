// The rate limit on a clock the test moves: when each request may go.
#include "sources/rate_limit.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// Time moves only when the limiter sleeps, so every wait it asks for is seen exactly.
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

TEST(RateLimitTest, RequestsGoWhenTheirWindowHasRoomAndNotBefore)
{
    struct TRow
    {
        int Rate;
        std::vector<std::chrono::milliseconds> Sends; // when each request goes, from the start
    };
    const std::vector<TRow> rows = {
        {1, {0ms, 60000ms, 120000ms}},
        {2, {0ms, 0ms, 60000ms, 60000ms, 120000ms}},
        {5, {0ms, 0ms, 0ms, 0ms, 0ms, 60000ms}},
    };
    for (const TRow& row : rows)
    {
        TManualClock clock;
        const TFetchClock::TTime start = clock.Current;
        TRateLimiter limiter(row.Rate, 60s, clock);
        for (size_t i = 0; i < row.Sends.size(); ++i)
        {
            ASSERT_TRUE(limiter.Take(nullptr));
            EXPECT_EQ(clock.Current - start, row.Sends[i]) << "rate " << row.Rate << ", request " << i;
        }
    }

    // A request sent late frees its place late: the window slides, it is not a fixed minute.
    TManualClock clock;
    const TFetchClock::TTime start = clock.Current;
    TRateLimiter limiter(2, 60s, clock);
    ASSERT_TRUE(limiter.Take(nullptr));
    clock.Current += 30s;
    ASSERT_TRUE(limiter.Take(nullptr));
    ASSERT_TRUE(limiter.Take(nullptr));
    EXPECT_EQ(clock.Current - start, 60s);
    ASSERT_TRUE(limiter.Take(nullptr));
    EXPECT_EQ(clock.Current - start, 90s);

    volatile std::sig_atomic_t stop = 1;
    EXPECT_FALSE(limiter.Take(&stop)) << "a stop ends the wait";
}

} // namespace
