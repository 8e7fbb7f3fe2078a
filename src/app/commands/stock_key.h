#pragma once

#include "common/market_names.h"

#include <QString>

#include <array>
#include <string>
#include <string_view>

enum class TCodeCheck
{
    Ok,
    NotHalfWidthDigits, // a character other than "0".."9", outside a code of today's form
    WrongLength         // not 4 (or, where allowed, 5) characters
};

//! Checks the text of the code box: a code of today's form ("130A", letters in either case)
//! passes; otherwise half-width digits only, then 4 characters (or 5 when `allowFiveDigits`).
//! An empty text passes the digit test and fails the length test.
TCodeCheck CheckKabuCode(const QString& text, bool allowFiveDigits);

//! The items of the lookup's market box (ShijouBox) in their order: the caption, and the
//! suffix of the key a lookup asks with; "その他" asks without a market.
struct TLookupMarket
{
    std::string_view Caption; // UTF-8
    std::string_view Suffix;
};
inline constexpr std::array<TLookupMarket, 6> LookupMarkets{{
    {"東証", MarketNameOf(TMarketId::Tokyo).OpenedSuffix},
    {"大証", MarketNameOf(TMarketId::OsakaFirst).OpenedSuffix},
    {"店頭", MarketNameOf(TMarketId::Jasdaq).OpenedSuffix},
    {"名証", MarketNameOf(TMarketId::NagoyaFirst).OpenedSuffix},
    {"札証", MarketNameOf(TMarketId::Sapporo).OpenedSuffix},
    {"その他", NoMarketSuffix},
}};

//! Market suffix of the ShijouBox item at `index`; two blanks for "その他" and for none (-1).
std::string MarketSuffix(int index);

//! The stock key: the checked code zero-padded to its own length (a code with letters in
//! upper case), then the market suffix.
std::string MakeKabuKey(const QString& checkedCode, int marketIndex);

//! The message the code check gives, or an empty text when it passed.
QString CodeCheckMessage(TCodeCheck check);
