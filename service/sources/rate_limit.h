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

// A place in the window is counted from the moment a request's answer is in, not from when it
// was sent: the server has seen the request by then, however long it travelled, so the server
// never sees N + 1 within a window. The margin, a quarter second a minute, covers a server that
// counts its window inclusive or on a coarser clock, and stays under what the estimate rounds away.
class TRateLimiter
{
public:
    TRateLimiter(int perWindow, std::chrono::milliseconds window, TFetchClock& clock);

    //! Waits until one more request fits the window and counts it as sent now. False when a
    //! stop came first (nothing counted).
    bool Take(const volatile std::sig_atomic_t* stop);

    //! The answer (or failure) of the request last taken is in: its place is held from now.
    void Answered();

    //! How long `requests` more take, one after the other, each `answerTime` long, waiting as
    //! Take waits from what the window already holds: until the last one's answer is in.
    std::chrono::milliseconds TimeFor(long requests, std::chrono::milliseconds answerTime) const;

    std::chrono::milliseconds Margin() const { return Window / 240; }

private:
    int PerWindow;
    std::chrono::milliseconds Window;
    TFetchClock& Clock;
    std::deque<TFetchClock::TTime> Sent; // within the last window, oldest first
};
