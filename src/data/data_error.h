#pragma once

#include <stdexcept>

// A page, cache file or figure that the program cannot use: the command ends and the
// form's guard shows the data-error box. Expected outcomes (no quote, no history) are
// return values instead.
class TDataError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};
