#include "common/japanese_text.h"

#include <array>
#include <cerrno>
#include <iconv.h>
#include <memory>

namespace {

constexpr std::size_t EncodingCount = 3;

const char* IconvName(TTextEncoding encoding)
{
    switch (encoding)
    {
    case TTextEncoding::Utf8:
        return "UTF-8";
    case TTextEncoding::Cp932:
        return "CP932";
    case TTextEncoding::EucJp:
        return "EUC-JP";
    }
    return "";
}

// An iconv descriptor, opened once per thread and direction: a screening run converts some
// twenty labels per stock, and opening one per label cost more than the conversions.
class TIconv
{
public:
    TIconv(TTextEncoding from, TTextEncoding to) : Handle(iconv_open(IconvName(to), IconvName(from)))
    {
        if (Handle == reinterpret_cast<iconv_t>(-1))
            throw TConvertError(std::string("iconv で ") + IconvName(from) + " から " + IconvName(to) +
                                " へ変換できません");
    }
    ~TIconv() { iconv_close(Handle); }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;

    //! Converts `input`. On a sequence that does not convert, returns false with `offset` at it
    //! and `output` holding all before it.
    bool Convert(std::string_view input, std::size_t& offset, std::string& output)
    {
        char buffer[1024];
        while (offset < input.size())
        {
            char* in = const_cast<char*>(input.data() + offset); // iconv's signature is not const
            std::size_t inLeft = input.size() - offset;
            char* out = buffer;
            std::size_t outLeft = sizeof buffer;
            const std::size_t result = iconv(Handle, &in, &inLeft, &out, &outLeft);
            output.append(buffer, sizeof buffer - outLeft);
            offset = input.size() - inLeft;
            // E2BIG only says the buffer is full; EILSEQ, or EINVAL for a sequence cut off by
            // the end, stop at the sequence.
            if (result == static_cast<std::size_t>(-1) && errno != E2BIG)
            {
                Reset();
                return false;
            }
        }
        return true;
    }

    void Reset() { iconv(Handle, nullptr, nullptr, nullptr, nullptr); }

private:
    iconv_t Handle;
};

TIconv& Converter(TTextEncoding from, TTextEncoding to)
{
    thread_local std::array<std::unique_ptr<TIconv>, EncodingCount * EncodingCount> converters;
    std::unique_ptr<TIconv>& converter =
        converters[static_cast<std::size_t>(from) * EncodingCount + static_cast<std::size_t>(to)];
    if (!converter)
        converter = std::make_unique<TIconv>(from, to);
    converter->Reset(); // the initial state, whatever an earlier conversion left
    return *converter;
}

//! The length of the unit a substitute replaces: the UTF-8 character `rest` starts with as far
//! as its continuation bytes go.
std::size_t Utf8Unit(std::string_view rest)
{
    const auto lead = static_cast<unsigned char>(rest.front());
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    std::size_t n = 1;
    while (n < length && n < rest.size() && (static_cast<unsigned char>(rest[n]) & 0xC0) == 0x80)
        ++n;
    return n;
}

} // namespace

std::string ConvertText(std::string_view text, TTextEncoding from, TTextEncoding to)
{
    std::string output;
    output.reserve(text.size() * 2);
    std::size_t offset = 0;
    if (!Converter(from, to).Convert(text, offset, output))
        throw TConvertError("\"" + std::string(text) + "\" は " + IconvName(to) + " に変換できません");
    return output;
}

std::string ConvertText(std::string_view text, TTextEncoding from, TTextEncoding to, std::string_view substitute)
{
    TIconv& converter = Converter(from, to);
    std::string output;
    output.reserve(text.size() * 2);
    std::size_t offset = 0;
    while (!converter.Convert(text, offset, output))
    {
        output += substitute;
        offset += from == TTextEncoding::Utf8 ? Utf8Unit(text.substr(offset)) : 1;
    }
    return output;
}
