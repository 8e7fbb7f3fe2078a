#include "screener/kabu_list.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

struct MarketRow
{
    std::string_view Name;
    std::string_view Suffix;
};

// Shift_JIS names; the digits are full-width.
constexpr MarketRow Markets[] = {
    {"\x93\x8c\x8f\xd8\x82\x50\x95\x94", ".t"},         // 東証１部
    {"\x93\x8c\x8f\xd8\x82\x51\x95\x94", ".t"},         // 東証２部
    {"\x91\xe5\x8d\xe3\x82\x50\x95\x94", ".o"},         // 大阪１部
    {"\x91\xe5\x8d\xe3\x82\x51\x95\x94", ".o"},         // 大阪２部
    {"JASDAQ", ".q"},                                   // JASDAQ
    {"\x8e\x44\x8f\xd8", ".s"},                         // 札証
    {"\x95\x9f\x8f\xd8", ".f"},                         // 福証
    {"\x83\x7d\x83\x55\x81\x5b\x83\x59", ".m"},         // マザーズ
    {"\x96\xbc\x8f\xd8\x82\x50\x95\x94", ".n"},         // 名証１部
    {"\x96\xbc\x8f\xd8\x82\x51\x95\x94", ".n"},         // 名証２部
    {"\x83\x77\x83\x89\x83\x4e\x83\x8c\x83\x58", ".h"}, // ヘラクレス
};

// Cuts the text before the first comma and removes it with the comma; without a comma the
// field is empty and the line stays as it is.
std::string_view CutField(std::string_view& line)
{
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos)
        return {};
    const std::string_view field = line.substr(0, comma);
    line.remove_prefix(comma + 1);
    return field;
}

} // namespace

std::string_view MarketSuffixOf(std::string_view market)
{
    for (const MarketRow& row : Markets)
        if (row.Name == market)
            return row.Suffix;
    return {};
}

TKabuList ParseKabuList(std::string_view bytes, std::string_view sector)
{
    const std::size_t end = bytes.find('\x1a');
    if (end != std::string_view::npos)
        bytes = bytes.substr(0, end);

    TKabuList list;
    const bool all = sector == AllSectorsText;
    std::size_t position = 0;
    while (position < bytes.size())
    {
        std::size_t lineEnd = bytes.find('\r', position);
        std::string_view line;
        if (lineEnd == std::string_view::npos)
        {
            line = bytes.substr(position);
            position = bytes.size();
        }
        else
        {
            line = bytes.substr(position, lineEnd - position);
            position = lineEnd + 1;
            if (position < bytes.size() && bytes[position] == '\n')
                ++position;
        }

        if (!line.empty() && line.front() == ';')
            continue;
        const std::string_view code = CutField(line);
        const std::string_view second = CutField(line);
        const std::string_view market = CutField(line);
        if (!all && line != sector)
            continue;
        if (list.Entries.size() == MaxKabuListEntries)
        {
            list.Truncated = true;
            break;
        }
        const std::string_view suffix = MarketSuffixOf(market);
        TKabuListEntry& entry = list.Entries.emplace_back();
        if (suffix.empty())
        {
            entry.Empty = true;
            continue;
        }
        entry.CodeText = code;
        entry.SecondField = second;
        entry.Suffix = suffix;
    }
    return list;
}

TKabuList ReadKabuList(std::string_view sector, const std::string& fileName)
{
    std::ifstream file(fileName, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot open the stock list " + fileName);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad())
        throw std::runtime_error("cannot read the stock list " + fileName);
    return ParseKabuList(bytes, sector);
}
