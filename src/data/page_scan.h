#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Byte windows for the page walks. Positions and offsets are 1-based as in the walks:
// a search answers 0 when the marker is absent, and a position of 0 means the first byte.
// Every helper clamps to the text, so no position, however far it has run, reads outside it.

//! The at most `size` bytes of `text` from 1-based `position` (0 or less counts as 1);
//! empty when the position lies past the end.
std::string_view ByteWindow(std::string_view text, std::int64_t position, std::size_t size);

//! 1-based offset of the first `marker` in `window`, 0 when absent.
std::int64_t FindOffset(std::string_view window, std::string_view marker);

//! ASCII capitals to small letters; every other byte unchanged. Right for EUC-JP,
//! whose multibyte characters use only bytes of 0x80 and above.
std::string LowerAscii(std::string_view bytes);

//! Like LowerAscii, but both bytes of a Shift_JIS double-byte character stay as they are:
//! its trail byte may be 0x41-0x5A, and "lowering" it turns 0x83 0x4C (KI) into 0x83 0x6C (small
//! YA).
std::string LowerAsciiShiftJis(std::string_view bytes);

//! LowerAsciiShiftJis of a window, made only as far as a search needs it: a walk step finds
//! its marker within a few dozen bytes of a 3,500-byte window, and lowering the whole window
//! for every step was most of the walk's time.
class TLoweredWindow
{
public:
    explicit TLoweredWindow(std::string_view raw) : Raw(raw) {}

    //! FindOffset(LowerAsciiShiftJis(raw), marker), 1-based, 0 when absent.
    std::int64_t Find(std::string_view marker);

    //! The first `size` bytes of LowerAsciiShiftJis(raw) (all of it when shorter).
    std::string Prefix(std::size_t size);

private:
    void LowerTo(std::size_t size);

    std::string_view Raw;
    std::string Lowered; // LowerAsciiShiftJis of Raw's first Lowered.size() bytes
};

//! `text` without blanks and control characters (bytes up to 0x20) at either end.
std::string_view TrimControls(std::string_view text);
