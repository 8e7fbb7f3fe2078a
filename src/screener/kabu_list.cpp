#include "screener/kabu_list.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

struct MarketRow
{
    std::string_view Name;   // the list's market field, Shift_JIS
    std::string_view Suffix; // the key's market suffix
    std::string_view Shown;  // column 2 of a result row, UTF-8
};

// The old names' digits are full-width; "Q-Board" is half-width. Each old name shows the
// name of its exchange; the segment names of today show themselves.
constexpr MarketRow Markets[] = {
    {"\x93\x8c\x8f\xd8\x82\x50\x95\x94", ".t", "\xe6\x9d\xb1\xe8\xa8\xbc"},             // 東証１部: 東証
    {"\x93\x8c\x8f\xd8\x82\x51\x95\x94", ".t", "\xe6\x9d\xb1\xe8\xa8\xbc"},             // 東証２部: 東証
    {"\x91\xe5\x8d\xe3\x82\x50\x95\x94", ".o", "\xe5\xa4\xa7\xe9\x98\xaa"},             // 大阪１部: 大阪
    {"\x91\xe5\x8d\xe3\x82\x51\x95\x94", ".o", "\xe5\xa4\xa7\xe9\x98\xaa"},             // 大阪２部: 大阪
    {"JASDAQ", ".q", "JASDAQ"},                                                         // JASDAQ
    {"\x8e\x44\x8f\xd8", ".s", "\xe6\x9c\xad\xe8\xa8\xbc"},                             // 札証
    {"\x95\x9f\x8f\xd8", ".f", "\xe7\xa6\x8f\xe8\xa8\xbc"},                             // 福証
    {"\x83\x7d\x83\x55\x81\x5b\x83\x59", ".m", "\xe3\x83\x9e\xe3\x82\xb6\xe3\x83\xbc\xe3\x82\xba"}, // マザーズ
    {"\x96\xbc\x8f\xd8\x82\x50\x95\x94", ".n", "\xe5\x90\x8d\xe8\xa8\xbc"},             // 名証１部: 名証
    {"\x96\xbc\x8f\xd8\x82\x51\x95\x94", ".n", "\xe5\x90\x8d\xe8\xa8\xbc"},             // 名証２部: 名証
    {"\x83\x77\x83\x89\x83\x4e\x83\x8c\x83\x58", ".h",
     "\xe3\x83\x98\xe3\x83\xa9\xe3\x82\xaf\xe3\x83\xac\xe3\x82\xb9"}, // ヘラクレス
    {"\x83\x76\x83\x89\x83\x43\x83\x80", ".t", "\xe3\x83\x97\xe3\x83\xa9\xe3\x82\xa4\xe3\x83\xa0"}, // プライム
    {"\x83\x58\x83\x5e\x83\x93\x83\x5f\x81\x5b\x83\x68", ".t",
     "\xe3\x82\xb9\xe3\x82\xbf\xe3\x83\xb3\xe3\x83\x80\xe3\x83\xbc\xe3\x83\x89"}, // スタンダード
    {"\x83\x4f\x83\x8d\x81\x5b\x83\x58", ".t", "\xe3\x82\xb0\xe3\x83\xad\xe3\x83\xbc\xe3\x82\xb9"}, // グロース
    {"\x96\xbc\x8f\xd8\x83\x76\x83\x8c\x83\x7e\x83\x41", ".n",
     "\xe5\x90\x8d\xe8\xa8\xbc\xe3\x83\x97\xe3\x83\xac\xe3\x83\x9f\xe3\x82\xa2"}, // 名証プレミア
    {"\x96\xbc\x8f\xd8\x83\x81\x83\x43\x83\x93", ".n",
     "\xe5\x90\x8d\xe8\xa8\xbc\xe3\x83\xa1\xe3\x82\xa4\xe3\x83\xb3"}, // 名証メイン
    {"\x96\xbc\x8f\xd8\x83\x6c\x83\x4e\x83\x58\x83\x67", ".n",
     "\xe5\x90\x8d\xe8\xa8\xbc\xe3\x83\x8d\xe3\x82\xaf\xe3\x82\xb9\xe3\x83\x88"}, // 名証ネクスト
    {"\x8e\x44\x8f\xd8\x83\x41\x83\x93\x83\x72\x83\x56\x83\x83\x83\x58", ".s",
     "\xe6\x9c\xad\xe8\xa8\xbc\xe3\x82\xa2\xe3\x83\xb3\xe3\x83\x93\xe3\x82\xb7\xe3\x83\xa3\xe3\x82\xb9"}, // 札証アンビシャス
    {"\x95\x9f\x8f\xd8" "Q-Board", ".f", "\xe7\xa6\x8f\xe8\xa8\xbc" "Q-Board"}, // 福証Q-Board
    {"\x93\x8c\x8f\xd8", ".t", "\xe6\x9d\xb1\xe8\xa8\xbc"}, // 東証: ETFs, REITs and others outside the segments
};

const MarketRow* MarketOf(std::string_view market)
{
    for (const MarketRow& row : Markets)
        if (row.Name == market)
            return &row;
    return nullptr;
}

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
    const MarketRow* row = MarketOf(market);
    return row ? row->Suffix : std::string_view();
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
        const MarketRow* row = MarketOf(market);
        TKabuListEntry& entry = list.Entries.emplace_back();
        if (!row)
        {
            entry.Empty = true;
            continue;
        }
        entry.CodeText = code;
        entry.SecondField = second;
        entry.Suffix = row->Suffix;
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
