#include "data/text_codec.h"

#include "common/japanese_text.h"

std::string Cp932ToUtf8(std::string_view bytes)
{
    return ConvertText(bytes, TTextEncoding::Cp932, TTextEncoding::Utf8, "\xEF\xBF\xBD");
}

std::string Utf8ToCp932(std::string_view text)
{
    return ConvertText(text, TTextEncoding::Utf8, TTextEncoding::Cp932, "?");
}
