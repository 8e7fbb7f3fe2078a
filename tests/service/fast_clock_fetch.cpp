// orvanta-service --fetch on a clock that runs faster than the steady clock, 300 times unless
// the first arguments say "--clock-factor N": the source's minute passes in a fraction of a
// second, so tests see the rate's waits and the waits after a 429 without waiting minutes.
// Built for the tests only; the shipped program has no way to shorten its minute.
#include "sources/fetch_command.h"
#include "sources/rate_limit.h"

#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

class TFastClock : public TFetchClock
{
public:
    explicit TFastClock(int factor) : Factor(factor) {}

    TTime Now() override { return Start + (std::chrono::steady_clock::now() - Start) * Factor; }

    bool SleepUntil(TTime time, const volatile std::sig_atomic_t* stop) override
    {
        for (;;)
        {
            if (stop && *stop)
                return false;
            const TTime now = Now();
            if (now >= time)
                return true;
            const auto real = (time - now) / Factor + std::chrono::microseconds(50);
            std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(real, std::chrono::milliseconds(10)));
        }
    }

private:
    const int Factor;
    const TTime Start = std::chrono::steady_clock::now();
};

} // namespace

int main(int argc, char** argv)
{
    int factor = 300;
    if (argc > 2 && std::strcmp(argv[1], "--clock-factor") == 0)
    {
        factor = std::max(1, std::atoi(argv[2]));
        argv[2] = argv[0];
        argv += 2;
        argc -= 2;
    }
    TFastClock clock(factor);
    return RunFetchCommand(argc, argv, clock);
}
