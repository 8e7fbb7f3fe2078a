#pragma once

#include <QString>

#include <string>

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

//! Market suffix of the ShijouBox item at `index`; two blanks for "その他" and for none (-1).
std::string MarketSuffix(int index);

//! The stock key: the checked code zero-padded to its own length (a code with letters in
//! upper case), then the market suffix.
std::string MakeKabuKey(const QString& checkedCode, int marketIndex);

//! The message the code check gives, or an empty text when it passed.
QString CodeCheckMessage(TCodeCheck check);
