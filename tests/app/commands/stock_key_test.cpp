#include "app/commands/stock_key.h"

#include <gtest/gtest.h>

namespace {

TEST(MakeKabuKey, EachMarketGetsItsSuffix)
{
    struct Row
    {
        const char* name;
        const char* code;
        int market;
        std::string key;
    };
    const Row rows[] = {
        {"東証", "1301", 0, "1301.t"},
        {"大証", "0001", 1, "0001.o"},
        {"店頭 five digits", "12345", 2, "12345.q"},
        {"名証", "7203", 3, "7203.n"},
        {"札証", "7203", 4, "7203.s"},
        {"その他", "1234", 5, "1234  "},
        {"none selected", "1234", -1, "1234  "},
        {"five zeros", "00001", 0, "00001.t"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(MakeKabuKey(QString::fromLatin1(row.code), row.market), row.key);
    }
}

TEST(CheckKabuCode, DigitsFirstThenLength)
{
    struct Row
    {
        const char* name;
        QString text;
        bool five;
        TCodeCheck result;
    };
    const Row rows[] = {
        {"four digits", QStringLiteral("1301"), false, TCodeCheck::Ok},
        {"five digits for the lookup", QStringLiteral("12345"), true, TCodeCheck::Ok},
        {"five digits for the period buttons", QStringLiteral("12345"), false, TCodeCheck::WrongLength},
        {"empty", QString(), true, TCodeCheck::WrongLength},
        {"three digits", QStringLiteral("123"), true, TCodeCheck::WrongLength},
        {"full-width digits", QStringLiteral("１３０１"), true, TCodeCheck::NotHalfWidthDigits},
        {"letter inside", QStringLiteral("12a4"), true, TCodeCheck::NotHalfWidthDigits},
        {"letter after", QStringLiteral("1234a"), true, TCodeCheck::NotHalfWidthDigits},
        {"blank", QStringLiteral("13 1"), true, TCodeCheck::NotHalfWidthDigits},
        {"sign", QStringLiteral("-130"), true, TCodeCheck::NotHalfWidthDigits},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(CheckKabuCode(row.text, row.five), row.result);
    }
}

} // namespace
