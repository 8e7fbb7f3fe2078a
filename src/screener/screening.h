#pragma once

#include "analysis/buy_signals.h"
#include "screener/kabu_list.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The pure parts of the screening run: code checks, keys, the progress text and the 21
// cells of a result row. Row texts are UTF-8: they are copied from the quote board as shown.

constexpr int ResultColumnCount = 21;
using TResultRow = std::array<std::string, ResultColumnCount>;

//! The code text of a list entry as an integer: leading blanks and a sign are allowed,
//! nothing may follow the digits. Throws TDataError otherwise (an empty entry has no text).
std::int32_t ParseCodeText(std::string_view text);

//! Numeric codes the run screens: 1000 to 9999, and 67585.
bool IsScreenableCode(std::int32_t code);

//! What a run makes of a list entry's code text.
struct TEntryCode
{
    std::string Code;        // as the key carries it: "1301", "67585", "130A"; empty: the run stops
    std::int32_t Number = 0; // a numeric code's value, also where the run stops; 0 for letters
};

//! A code of today's form with letters (after leading blanks; letters taken in upper case)
//! is screened as it is; any other text is ParseCodeText's number, screened when
//! IsScreenableCode holds. Throws TDataError for a text of neither form ("13OA", "").
TEntryCode EntryCode(std::string_view codeText);

//! The stock key of a screened code: the code and the OpenedSuffixOf the list's suffix, where
//! the suffix-less markets (".f", ".m", ".h") get the two blanks of a key without a market.
std::string ScreeningKey(std::string_view code, std::string_view suffix);

//! The keys of the entries a run reaches, in list order: up to, not including, the first
//! entry the run stops at (an empty entry, a code text of neither form, a numeric code it
//! does not screen).
std::vector<std::string> ScreeningKeys(const std::vector<TKabuListEntry>& entries);

//! "%3.0f%% [%4.0d/%4.0d]" of i * 100 / count, i and count.
std::string ProgressText(int index, int count);

// Why a screened stock is listed.
enum class THitLevel
{
    None = 0,
    Purchase = 1, // the back-test has a purchase
    Rsi = 2       // the RSI condition held
};

// The quote board as shown after the quote pass, UTF-8.
struct TBoardTexts
{
    std::string KabuNo; // code and name
    std::string KabuKa; // current price
    std::string Change; // change and rate
    std::string Open;
    std::string High;
    std::string Low;
    std::string Volume;
    std::string Tani; // shares per unit
};

struct TRowInputs
{
    TBoardTexts Board;
    std::string MarketName;    // the list entry's market as column 2 shows it
    THitLevel HitLevel = THitLevel::None;
    std::int32_t SignalResult = 0; // FindBuySignals' result
    TBuySignalResult BackTest;
};

//! The 21 cells of a listed stock. Throws TDataError when a board figure does not convert.
TResultRow BuildResultRow(const TRowInputs& inputs);

//! The number a board label shows: ExtractNumeric, then a 32-bit integer; throws TDataError.
std::int32_t BoardNumber(std::string_view text);
