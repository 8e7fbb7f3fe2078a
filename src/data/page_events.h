#pragma once

#include <functional>

// The two callbacks a page read takes from the window: the scrapers call the first at their
// event points, the transfers both. Apart from the transport, so a scraper needs no libcurl.

//! Lets the window handle its pending events; the form passes QCoreApplication::processEvents.
//! May be empty (tests, fuzzers).
using TProcessEvents = std::function<void()>;

//! True once a transfer under way is to be given up: the form answers true after the user
//! asked to close the window. May be empty.
using TCancelled = std::function<bool()>;
