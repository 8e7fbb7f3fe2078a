#include "market/text_convert.h"

std::string Utf8ToEucJp(std::string_view text)
{
    return ConvertText(text, TTextEncoding::Utf8, TTextEncoding::EucJp);
}

std::string Utf8ToShiftJis(std::string_view text)
{
    return ConvertText(text, TTextEncoding::Utf8, TTextEncoding::Cp932);
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
