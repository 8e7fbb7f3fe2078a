#include "sources/rate_limit.h"

#include <algorithm>
#include <thread>

TFetchClock::TTime TSteadyClock::Now()
{
    return std::chrono::steady_clock::now();
}

bool TSteadyClock::SleepUntil(TTime time, const volatile std::sig_atomic_t* stop)
{
    for (;;) {
        if (stop && *stop)
            return false;
        const TTime now = Now();
        if (now >= time)
            return true;
        std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(time - now, std::chrono::milliseconds(100)));
    }
}

TRateLimiter::TRateLimiter(int perWindow, std::chrono::milliseconds window, TFetchClock& clock)
    : PerWindow(std::max(perWindow, 1)), Window(window), Clock(clock)
{
}

bool TRateLimiter::Take(const volatile std::sig_atomic_t* stop)
{
    for (;;) {
        const TFetchClock::TTime now = Clock.Now();
        while (!Sent.empty() && Sent.front() + Window <= now)
            Sent.pop_front();
        if (static_cast<int>(Sent.size()) < PerWindow) {
            if (stop && *stop)
                return false;
            Sent.push_back(now);
            return true;
        }
        if (!Clock.SleepUntil(Sent.front() + Window, stop))
            return false;
    }
}

std::chrono::milliseconds TRateLimiter::TimeFor(long requests) const
{
    // The window's free places go at once; then one window per PerWindow requests.
    const long free = PerWindow - static_cast<long>(Sent.size());
    const long waiting = std::max(0L, requests - std::max(0L, free));
    return Window * ((waiting + PerWindow - 1) / PerWindow);
}
