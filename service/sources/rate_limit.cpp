#include "sources/rate_limit.h"

#include <algorithm>
#include <thread>

namespace {

// Replaying the wait request by request is exact; past this many the rest goes at the same pace.
constexpr long ReplayedAtMost = 100'000;

} // namespace

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
        while (!Sent.empty() && Sent.front() + Window + Margin() <= now)
            Sent.pop_front();
        if (static_cast<int>(Sent.size()) < PerWindow) {
            if (stop && *stop)
                return false;
            Sent.push_back(now);
            return true;
        }
        if (!Clock.SleepUntil(Sent.front() + Window + Margin(), stop))
            return false;
    }
}

void TRateLimiter::Answered()
{
    if (!Sent.empty())
        Sent.back() = std::max(Sent.back(), Clock.Now());
}

std::chrono::milliseconds TRateLimiter::TimeFor(long requests, std::chrono::milliseconds answerTime) const
{
    const TFetchClock::TTime start = Clock.Now();
    std::deque<TFetchClock::TTime> window = Sent;
    TFetchClock::TTime at = start;
    const long replayed = std::min(std::max(requests, 0L), ReplayedAtMost);
    for (long i = 0; i < replayed; ++i)
    {
        while (!window.empty() && window.front() + Window + Margin() <= at)
            window.pop_front();
        if (static_cast<int>(window.size()) >= PerWindow)
        {
            at = window.front() + Window + Margin();
            window.pop_front();
        }
        at += answerTime;
        window.push_back(at);
    }
    const auto taken = std::chrono::duration_cast<std::chrono::milliseconds>(at - start);
    return replayed == requests ? taken : taken * requests / replayed;
}
