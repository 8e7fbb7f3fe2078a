#include "market/text_convert.h"

#include <cerrno>
#include <iconv.h>
#include <memory>

namespace {

std::string Convert(const char* to, std::string_view text)
{
    iconv_t cd = iconv_open(to, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw TConvertError(std::string("iconv に ") + to + " への変換がありません");
    const std::unique_ptr<void, int (*)(iconv_t)> closer(cd, iconv_close);

    std::string out(text.size() * 2 + 16, '\0');
    std::string in(text);
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0)
    {
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1))
        {
            if (errno == E2BIG)
            {
                const std::size_t used = out.size() - outLeft;
                out.resize(out.size() * 2);
                outPtr = out.data() + used;
                outLeft = out.size() - used;
                continue;
            }
            throw TConvertError("\"" + std::string(text) + "\" は " + to + " に変換できません");
        }
    }
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace

std::string Utf8ToEucJp(std::string_view text)
{
    return Convert("EUC-JP", text);
}

std::string Utf8ToShiftJis(std::string_view text)
{
    return Convert("CP932", text);
}

bool IsPlainEucJp(std::string_view euc)
{
    for (std::size_t i = 0; i < euc.size(); ++i)
    {
        const auto lead = static_cast<unsigned char>(euc[i]);
        if (lead < 0x80)
            continue;
        if (lead < 0xa1 || lead > 0xfe || i + 1 >= euc.size())
            return false;
        const auto trail = static_cast<unsigned char>(euc[i + 1]);
        if (trail < 0xa1 || trail > 0xfe)
            return false;
        ++i;
    }
    return true;
}

std::vector<std::string_view> TextLines(std::string_view text)
{
    if (text.substr(0, 3) == "\xef\xbb\xbf")
        text.remove_prefix(3);
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size())
    {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}
