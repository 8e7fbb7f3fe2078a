#include "common/japanese_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr TTextEncoding Utf8 = TTextEncoding::Utf8;
constexpr TTextEncoding Cp932 = TTextEncoding::Cp932;
constexpr TTextEncoding EucJp = TTextEncoding::EucJp;

struct Row
{
    const char* name;
    std::string text;
    TTextEncoding from;
    TTextEncoding to;
    std::string converted;
};

TEST(ConvertText, ConvertsBetweenTheThreeEncodings)
{
    const Row rows[] = {
        {"CP932 kanji", "\x95\x5c\x8e\xa6", Cp932, Utf8, "表示"},
        {"CP932 half-width katakana", "\xb6\xde\xd7\xbd", Cp932, Utf8, "ｶﾞﾗｽ"},
        {"the ideographic space", "\x81\x40", Cp932, Utf8, "\xE3\x80\x80"},
        {"ASCII stays", "<b>x</b>", Cp932, Utf8, "<b>x</b>"},
        {"to CP932", "全て", Utf8, Cp932, "\x91\x53\x82\xc4"},
        {"a half-width middle dot", "水産･農林業", Utf8, Cp932, "\x90\x85\x8e\x59\xa5\x94\x5f\x97\xd1\x8b\xc6"},
        {"the full-width tilde is CP932's wave dash", "\xEF\xBD\x9E", Utf8, Cp932, "\x81\x60"},
        {"the em dash", "\xE2\x80\x94x", Utf8, Cp932, "\x81\x5cx"},
        {"to EUC-JP", "見つかりませんでした", Utf8, EucJp,
         "\xb8\xab\xa4\xc4\xa4\xab\xa4\xea\xa4\xde\xa4\xbb\xa4\xf3\xa4\xc7\xa4\xb7\xa4\xbf"},
        {"empty", "", Utf8, EucJp, ""},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ConvertText(row.text, row.from, row.to), row.converted);
        EXPECT_EQ(ConvertText(row.text, row.from, row.to, "?"), row.converted);
    }
}

TEST(ConvertText, SubstitutesEachUnitThatDoesNotConvert)
{
    const Row rows[] = {
        {"a byte that is no CP932",
         "a\xff"
         "b",
         Cp932, Utf8,
         "a\xEF\xBF\xBD"
         "b"},
        {"a lead byte cut off at the end", "\x82", Cp932, Utf8, "\xEF\xBF\xBD"},
        {"two bad bytes, two marks", "\xff\xff", Cp932, Utf8, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"a character CP932 lacks is one unit", "\xF0\x9F\x98\x80!", Utf8, Cp932, "\xEF\xBF\xBD!"},
        {"a UTF-8 sequence cut short", "\xE3\x81x", Utf8, Cp932, "\xEF\xBF\xBDx"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ConvertText(row.text, row.from, row.to, "\xEF\xBF\xBD"), row.converted);
        EXPECT_THROW(ConvertText(row.text, row.from, row.to), TConvertError);
    }
}

TEST(ConvertText, RefusesNamingTheTextAndTheTarget)
{
    // The half-width katakana "ｶ" is outside JIS X 0208 but EUC-JP carries it; "㈱" it lacks.
    EXPECT_EQ(ConvertText("\xef\xbd\xb6", Utf8, EucJp), "\x8e\xb6");
    try
    {
        ConvertText("\xe3\x88\xb1", Utf8, EucJp);
        ADD_FAILURE() << "accepted";
    }
    catch (const TConvertError& error)
    {
        EXPECT_STREQ(error.what(), "\"\xe3\x88\xb1\" は EUC-JP に変換できません");
    }
    // A refusal leaves nothing behind: the next text converts from the initial state.
    EXPECT_EQ(ConvertText("表示", Utf8, Cp932), "\x95\x5c\x8e\xa6");
}

} // namespace
