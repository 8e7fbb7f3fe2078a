#include "data/text_codec.h"

#include <gtest/gtest.h>

namespace {

TEST(TextCodec, DecodesShiftJisIncludingHalfWidthKatakana)
{
    EXPECT_EQ(Cp932ToUtf8("\x95\x5c\x8e\xa6"), "表示");
    EXPECT_EQ(Cp932ToUtf8("\xb6\xde\xd7\xbd"), "ｶﾞﾗｽ");
    EXPECT_EQ(Cp932ToUtf8("\x81\x40"), "\xE3\x80\x80"); // ideographic space
    EXPECT_EQ(Cp932ToUtf8("<b>x</b>"), "<b>x</b>");
}

TEST(TextCodec, BadBytesBecomeReplacementCharacters)
{
    EXPECT_EQ(Cp932ToUtf8("a\xff" "b"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(Cp932ToUtf8("\x82"), "\xEF\xBF\xBD"); // lead byte cut off at the end
}

TEST(TextCodec, EncodesBothFormsOfTheWaveDashAndMinus)
{
    EXPECT_EQ(Utf8ToCp932("全て"), "\x91\x53\x82\xc4");
    EXPECT_EQ(Utf8ToCp932("水産･農林業"), "\x90\x85\x8e\x59\xa5\x94\x5f\x97\xd1\x8b\xc6");
    EXPECT_EQ(Utf8ToCp932("\xEF\xBD\x9E"), "\x81\x60"); // U+FF5E
    EXPECT_EQ(Utf8ToCp932("\xE2\x80\x94x"), "\x81\x5cx");
    EXPECT_EQ(Utf8ToCp932("\xF0\x9F\x98\x80"), "?"); // no CP932 form
}

} // namespace
