// The fetch's progress and end lines read on any bytes, as the window reads the child's
// descriptor; whatever reads is written back by the service's writer and reads the same.
#include "common/service_contract.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace {

void Check(bool holds)
{
    if (!holds)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    if (const std::optional<TFetchProgress> progress = ParseFetchProgress(line))
    {
        const std::optional<TFetchProgress> again = ParseFetchProgress(FetchProgressLine(*progress));
        Check(again && again->Requests == progress->Requests && again->RequestsLeft == progress->RequestsLeft &&
              again->DaysDone == progress->DaysDone && again->DaysTotal == progress->DaysTotal &&
              again->Rows == progress->Rows && again->SecondsLeft == progress->SecondsLeft &&
              again->HttpStatus == progress->HttpStatus);
    }
    if (const std::optional<TFetchEnd> end = ParseFetchEnd(line))
    {
        const std::optional<TFetchEnd> again = ParseFetchEnd(FetchEndLine(*end));
        Check(again && again->ExitStatus == end->ExitStatus && again->Days == end->Days &&
              again->Stocks == end->Stocks && again->Rows == end->Rows && again->Requests == end->Requests &&
              again->Refused == end->Refused && again->Reason == end->Reason);
    }
    return 0;
}
