#pragma once

#include <chrono>
#include <csignal>
#include <deque>

// At most N requests in any window of the source's minute, one at a time. The clock is
// injected so the rule can be checked without waiting minutes.

class TFetchClock
{
public:
    using TTime = std::chrono::steady_clock::time_point;
    virtual ~TFetchClock() = default;
    virtual TTime Now() = 0;
    //! Waits until `time`; false when `*stop` was set first.
    virtual bool SleepUntil(TTime time, const volatile std::sig_atomic_t* stop) = 0;
};

//! The steady clock, sleeping in short steps so a stop request is seen within a tenth of a second.
class TSteadyClock : public TFetchClock
{
public:
    TTime Now() override;
    bool SleepUntil(TTime time, const volatile std::sig_atomic_t* stop) override;
};

class TRateLimiter
{
public:
    TRateLimiter(int perWindow, std::chrono::milliseconds window, TFetchClock& clock);

    //! Waits until one more request fits the window and counts it as sent now. False when a
    //! stop came first (nothing counted).
    bool Take(const volatile std::sig_atomic_t* stop);

    //! How long `requests` more take at the rate, counting what the window already holds.
    std::chrono::milliseconds TimeFor(long requests) const;

private:
    int PerWindow;
    std::chrono::milliseconds Window;
    TFetchClock& Clock;
    std::deque<TFetchClock::TTime> Sent; // within the last window, oldest first
};
