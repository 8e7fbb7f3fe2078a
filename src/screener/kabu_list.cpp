#include "screener/kabu_list.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

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
        const TMarketName* row = MarketOfListName(market);
        TKabuListEntry& entry = list.Entries.emplace_back();
        if (!row)
        {
            entry.Empty = true;
            continue;
        }
        entry.CodeText = code;
        entry.SecondField = second;
        entry.Suffix = row->KeySuffix;
        entry.MarketName = row->Shown;
    }
    return list;
}

TKabuList ReadKabuList(std::string_view sector, const std::string& fileName)
{
    std::ifstream file(fileName, std::ios::binary);
    if (!file)
        throw std::runtime_error("銘柄リスト " + fileName + " を開けません");
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad())
        throw std::runtime_error("銘柄リスト " + fileName + " を読めません");
    return ParseKabuList(bytes, sector);
}
