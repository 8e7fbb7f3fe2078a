#include "data/text_codec.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace {

// An iconv descriptor, opened once per thread and direction: a screening run converts some
// twenty labels per stock, and opening one per label cost more than the conversions.
class IconvHandle
{
public:
    IconvHandle(const char* to, const char* from) : Handle(iconv_open(to, from))
    {
        if (Handle == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error("iconv で CP932 と UTF-8 の間を変換できません");
    }
    ~IconvHandle() { iconv_close(Handle); }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;

    // Converts `input`; on an invalid or unconvertible sequence appends `substitute`,
    // skips one input unit of `skip` bytes and goes on.
    std::string Convert(std::string_view input, std::string_view substitute, std::size_t (*skip)(std::string_view))
    {
        iconv(Handle, nullptr, nullptr, nullptr, nullptr); // the initial state
        std::string output;
        output.reserve(input.size() * 2);
        char buffer[1024];
        std::size_t offset = 0;
        while (offset < input.size())
        {
            char* in = const_cast<char*>(input.data() + offset); // iconv's signature is not const
            std::size_t inLeft = input.size() - offset;
            char* out = buffer;
            std::size_t outLeft = sizeof buffer;
            const std::size_t result = iconv(Handle, &in, &inLeft, &out, &outLeft);
            output.append(buffer, sizeof buffer - outLeft);
            offset = input.size() - inLeft;
            if (result != static_cast<std::size_t>(-1))
                continue;
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL (a truncated sequence at the end): substitute and move on.
            output += substitute;
            offset += skip(input.substr(offset));
            iconv(Handle, nullptr, nullptr, nullptr, nullptr);
        }
        return output;
    }

private:
    iconv_t Handle;
};

std::size_t SkipByte(std::string_view) { return 1; }

std::size_t SkipUtf8Char(std::string_view rest)
{
    const auto lead = static_cast<unsigned char>(rest.front());
    std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    std::size_t n = 1;
    while (n < length && n < rest.size() && (static_cast<unsigned char>(rest[n]) & 0xC0) == 0x80)
        ++n;
    return n;
}

} // namespace

std::string Cp932ToUtf8(std::string_view bytes)
{
    thread_local IconvHandle handle("UTF-8", "CP932");
    return handle.Convert(bytes, "\xEF\xBF\xBD", SkipByte);
}

std::string Utf8ToCp932(std::string_view text)
{
    thread_local IconvHandle handle("CP932", "UTF-8");
    return handle.Convert(text, "?", SkipUtf8Char);
}
