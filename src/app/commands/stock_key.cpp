#include "app/commands/stock_key.h"

#include "common/exact_format.h"
#include "data/stock_code.h"

namespace {

// Whether the text is a code of today's form, in half-width characters: a full-width letter
// becomes "?" here and fails as any other character does.
bool IsLetterCodeText(const QString& text)
{
    return IsLetterCode(text.toLatin1().toStdString());
}

} // namespace

TCodeCheck CheckKabuCode(const QString& text, bool allowFiveDigits)
{
    // Four characters, so it passes the length check of the period buttons too.
    if (IsLetterCodeText(text))
        return TCodeCheck::Ok;
    for (const QChar c : text)
        if (c.unicode() < u'0' || c.unicode() > u'9')
            return TCodeCheck::NotHalfWidthDigits;
    const auto length = text.size();
    if (length == 4 || (allowFiveDigits && length == 5))
        return TCodeCheck::Ok;
    return TCodeCheck::WrongLength;
}

std::string MarketSuffix(int index)
{
    if (index >= 0 && static_cast<std::size_t>(index) < LookupMarkets.size())
        return std::string(LookupMarkets[static_cast<std::size_t>(index)].Suffix);
    return std::string(NoMarketSuffix);
}

std::string MakeKabuKey(const QString& checkedCode, int marketIndex)
{
    if (IsLetterCodeText(checkedCode))
        return UpperCaseCode(checkedCode.toLatin1().toStdString()) + MarketSuffix(marketIndex);
    const auto digits = static_cast<int>(checkedCode.size());
    return FormatD(checkedCode.toInt(), 0, digits) + MarketSuffix(marketIndex);
}

QString CodeCheckMessage(TCodeCheck check)
{
    switch (check)
    {
    case TCodeCheck::NotHalfWidthDigits:
        return QStringLiteral("銘柄番号は半角数字で入力してください。");
    case TCodeCheck::WrongLength:
        return QStringLiteral("銘柄番号は４桁で入力してください。");
    case TCodeCheck::Ok:
        break;
    }
    return {};
}
