#include "app/window/exception_handler.h"

#include <utility>

namespace {

struct TInstalled
{
    TExceptionHandler Handler;
    const void* Owner = nullptr;
};

TInstalled& Installed()
{
    static TInstalled installed;
    return installed;
}

} // namespace

void SetUnhandledExceptionHandler(TExceptionHandler handler, const void* owner)
{
    Installed() = {std::move(handler), owner};
}

void DropUnhandledExceptionHandler(const void* owner)
{
    if (owner != nullptr && Installed().Owner == owner)
        Installed() = {};
}

const TExceptionHandler& UnhandledExceptionHandler()
{
    return Installed().Handler;
}
