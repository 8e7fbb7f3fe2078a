#include "app/window/exception_handler.h"

#include <utility>

namespace {

TExceptionHandler& Installed()
{
    static TExceptionHandler handler;
    return handler;
}

} // namespace

void SetUnhandledExceptionHandler(TExceptionHandler handler)
{
    Installed() = std::move(handler);
}

const TExceptionHandler& UnhandledExceptionHandler()
{
    return Installed();
}
