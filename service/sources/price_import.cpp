#include "sources/price_import.h"

#include "market/price_history.h"
#include "market/stock_master.h"

#include "market/data_version.h"

#include "common/temp_file.h"
#include "common/terminal_text.h"

#include <algorithm>
#include <map>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace {

std::vector<TStock> ReadMaster(const std::filesystem::path& path)
{
    try
    {
        return ParseStockMaster(ReadDataFile(path));
    }
    catch (const TMasterError& error)
    {
        throw std::runtime_error(path.string() + ": " + error.what());
    }
}

//! The master file again: its leading comment lines, then one line per stock.
std::string MasterText(const std::string& oldText, const std::vector<TStock>& stocks)
{
    std::string text;
    std::istringstream lines(oldText);
    std::string line;
    while (std::getline(lines, line) && !line.empty() && line.front() == '#')
        text += line + '\n';
    for (const TStock& stock : stocks)
        text += StockMasterLine(stock) + '\n';
    return text;
}

//! The folder's list; a folder of real data says so in its header, not that it is the sample.
std::string ListBytes(const std::filesystem::path& dataDir, const std::vector<TStock>& stocks)
{
    return IsRealDataFolder(dataDir) ? KabuListBytes(stocks, "the stock list of real data") : KabuListBytes(stocks);
}

} // namespace

void MakeKabuList(const std::filesystem::path& dataDir)
{
    WriteFileReplacing(dataDir / "KabuList.dat", ListBytes(dataDir, SortedByCode(ReadMaster(dataDir / "stocks.csv"))));
}

std::optional<std::string> ImportCodeOfFile(std::string_view fileName)
{
    constexpr std::string_view Extension = ".csv";
    if (fileName.size() <= Extension.size() || fileName.substr(fileName.size() - Extension.size()) != Extension)
        return std::nullopt;
    std::string_view stem = fileName.substr(0, fileName.size() - Extension.size());
    const std::size_t dot = stem.find('.');
    if (dot != std::string_view::npos)
    {
        // A market suffix as finance sites add it: 7203.T
        const std::string_view suffix = stem.substr(dot + 1);
        const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
        const bool letters = !suffix.empty() && suffix.size() <= 2 && std::all_of(suffix.begin(), suffix.end(), letter);
        if (!letters)
            return std::nullopt;
        stem = stem.substr(0, dot);
    }
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if ((stem.size() == 4 || stem.size() == 5) && std::all_of(stem.begin(), stem.end(), digit))
        return std::string(stem);
    // Today's codes: the 2nd and 4th place may hold a letter, never B, E, I, O, Q, V or Z.
    constexpr std::string_view CodeLetters = "ACDFGHJKLMNPRSTUWXY";
    std::string code(stem);
    for (char& c : code)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    const auto digitOrLetter = [&](char c) { return digit(c) || CodeLetters.find(c) != std::string_view::npos; };
    if (code.size() == 4 && digit(code[0]) && digitOrLetter(code[1]) && digit(code[2]) && digitOrLetter(code[3]))
        return code;
    return std::nullopt;
}

namespace {

void ReportLine(std::ostream& report, const std::string& text)
{
    report << TerminalText(text) << '\n';
}

std::string DaysText(const TPriceBars& bars)
{
    return std::to_string(bars.size()) + " 日分 (" + FormatDate(bars.front().Date) + " 〜 " +
           FormatDate(bars.back().Date) + ")";
}

//! `held` with the days of `imported` put in, a day of both taken from `imported`.
TPriceBars MergedByDate(const TPriceBars& held, const TPriceBars& imported, std::size_t& replaced)
{
    std::map<TDate, TPriceBar> days;
    for (const TPriceBar& bar : held)
        days[bar.Date] = bar;
    replaced = 0;
    for (const TPriceBar& bar : imported)
    {
        replaced += days.count(bar.Date);
        days[bar.Date] = bar;
    }
    TPriceBars merged;
    merged.reserve(days.size());
    for (const auto& [date, bar] : days)
        merged.push_back(bar);
    return merged;
}

} // namespace

int ImportPriceFolder(const std::filesystem::path& from, const std::filesystem::path& dataDir, std::ostream& report,
                      const TImportOptions& options)
{
    const std::filesystem::path masterPath = dataDir / "stocks.csv";
    const std::string masterText = ReadDataFile(masterPath);
    std::vector<TStock> stocks = ReadMaster(masterPath);

    int refused = 0;
    const std::filesystem::path extra = from / "stocks.csv";
    if (std::filesystem::exists(extra))
    {
        try
        {
            for (TStock& stock : ParseStockMaster(ReadDataFile(extra)))
            {
                const auto known =
                    std::find_if(stocks.begin(), stocks.end(), [&](const TStock& s) { return s.Code == stock.Code; });
                ReportLine(report, stock.Code + (known == stocks.end() ? ": 銘柄マスターに追加しました"
                                                                       : ": 銘柄マスターを更新しました"));
                if (known == stocks.end())
                    stocks.push_back(std::move(stock));
                else
                    *known = std::move(stock);
            }
            WriteFileReplacing(masterPath, MasterText(masterText, stocks));
        }
        catch (const std::exception& error)
        {
            ReportLine(report, extra.string() + ": " + error.what() + "。銘柄は追加していません");
            ++refused;
        }
    }

    // Files by the code their names give; two files of one code cannot both be the history.
    std::map<std::string, std::vector<std::filesystem::path>> filesByCode;
    std::vector<std::string> ignored;
    for (const auto& entry : std::filesystem::directory_iterator(from))
    {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file() || name == "stocks.csv")
            continue;
        if (const std::optional<std::string> code = ImportCodeOfFile(name))
            filesByCode[*code].push_back(entry.path());
        else
            ignored.push_back(name);
    }
    std::sort(ignored.begin(), ignored.end());
    for (const std::string& name : ignored)
        ReportLine(report, (from / name).string() + ": 株価ファイルの名前 (<コード>.csv) ではないため読み込みません");

    std::filesystem::create_directories(dataDir / "prices");
    for (auto& [code, files] : filesByCode)
    {
        if (options.Interrupted && options.Interrupted())
        {
            ReportLine(report, "中断しました。ここまでのファイルは取り込み済みです");
            break;
        }
        std::sort(files.begin(), files.end());
        if (files.size() > 1)
        {
            std::string names;
            for (const std::filesystem::path& file : files)
                names += (names.empty() ? "" : ", ") + file.string();
            ReportLine(report, names + ": どれも銘柄 " + code + " のファイルです。どれも取り込みません");
            ++refused;
            continue;
        }
        const std::filesystem::path& file = files.front();
        // Captured by name, not as the structured binding, which clang before 16 cannot capture.
        const std::string& wanted = code;
        const auto stock =
            std::find_if(stocks.begin(), stocks.end(), [&wanted](const TStock& s) { return s.Code == wanted; });
        if (stock == stocks.end())
        {
            ReportLine(
                report,
                file.string() + ": 銘柄マスターに " + code +
                    " がありません。その行 (コード,名称,市場,業種) を書いた stocks.csv をフォルダーに置いてください");
            ++refused;
            continue;
        }
        const std::filesystem::path target = dataDir / "prices" / (code + ".csv");
        try
        {
            const TPriceBars imported = ParsePriceCsv(ReadDataFile(file), options.Today);
            if (options.Replace || !std::filesystem::exists(target))
            {
                WriteFileReplacing(target, PriceCsvText(imported));
                ReportLine(report, code + ": " + DaysText(imported) + " を取り込みました");
                continue;
            }
            TPriceBars held;
            try
            {
                held = ParsePriceCsv(ReadDataFile(target));
            }
            catch (const std::exception& error)
            {
                ReportLine(report, file.string() + ": 取り込み先の " + target.string() +
                                       " が読めないため取り込みません (" + error.what() +
                                       ")。--replace を付ければ置き換えます");
                ++refused;
                continue;
            }
            std::size_t replaced = 0;
            const TPriceBars merged = MergedByDate(held, imported, replaced);
            WriteFileReplacing(target, PriceCsvText(merged));
            ReportLine(report, code + ": " + DaysText(imported) + " を取り込みました (新しい日 " +
                                   std::to_string(imported.size() - replaced) + "、置き換えた日 " +
                                   std::to_string(replaced) + ")。保存は " + DaysText(merged));
        }
        catch (const std::exception& error)
        {
            ReportLine(report, file.string() + ": " + error.what() + "。取り込みません");
            ++refused;
        }
    }
    WriteFileReplacing(dataDir / "KabuList.dat", ListBytes(dataDir, stocks));
    // A serving process picks the import up without a restart.
    BumpDataVersion(dataDir);
    return refused;
}
