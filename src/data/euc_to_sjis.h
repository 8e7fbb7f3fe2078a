#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "data/page_events.h"

// The finance service's pages are EUC-JP; the stretch holding the stock name is turned
// into Shift_JIS in place, the rest of the page stays as it came.

//! The Shift_JIS form of the JIS X 0208 character `lead` `trail` in EUC-JP: two bytes,
//! or empty when `lead` is outside 0xA1-0xFE. The trail byte is not tested.
std::string EucToSjisChar(std::uint8_t lead, std::uint8_t trail);

//! Converts in place the stretch of `text` from index `first`, at most `limit` bytes long,
//! passing over 0x02 bytes. A character straddling the limit is converted whole; one cut off
//! by the end of the text is left alone. Calls `processEvents` once per position examined.
void EucToSjisText(std::string& text, std::size_t first, std::size_t limit,
                   const TProcessEvents& processEvents);
