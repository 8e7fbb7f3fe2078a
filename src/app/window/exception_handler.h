#pragma once

#include <exception>
#include <functional>

// The last stop for an exception that escapes an event handler outside a command: the
// application object hands it here. The window installs its data-error box when first shown.

using TExceptionHandler = std::function<void(const std::exception_ptr&)>;

//! Installs `handler` for `owner`; an empty one lets the exception go on (the program ends).
void SetUnhandledExceptionHandler(TExceptionHandler handler, const void* owner = nullptr);

//! Removes the handler when `owner` installed the one in place (a window going away).
void DropUnhandledExceptionHandler(const void* owner);

//! The handler installed; empty before the window is shown.
const TExceptionHandler& UnhandledExceptionHandler();
