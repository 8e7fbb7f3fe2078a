#include "sources/listing_file.h"

#include "market/data_version.h"
#include "service_test_support.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <cstdlib>

namespace {

std::filesystem::path TestData(const char* name)
{
    return std::filesystem::path(ORVANTA_SERVICE_TEST_DATA) / name;
}

const std::string Kyokuyo = "\xe6\xa5\xb5\xe6\xb4\x8b"; // 極洋
const std::string PrimeDomestic = "\xe3\x83\x97\xe3\x83\xa9\xe3\x82\xa4\xe3\x83\xa0\xef\xbc\x88\xe5\x86\x85"
                                  "\xe5\x9b\xbd\xe6\xa0\xaa\xe5\xbc\x8f\xef\xbc\x89"; // プライム（内国株式）
const std::string Fisheries =
    "\xe6\xb0\xb4\xe7\x94\xa3\xe3\x83\xbb\xe8\xbe\xb2\xe6\x9e\x97\xe6\xa5\xad"; // 水産・農林業

TEST(ReadListingFile, ReadsNumberAndTextCellsOfXlsAndXlsx)
{
    const std::vector<TListingRow> xls = ReadListingFile(TestData("listing.xls"));
    ASSERT_EQ(xls.size(), 9u);
    // A numeric code cell reads as its digits, a letter code from its text cell.
    EXPECT_EQ(xls[0], (TListingRow{"20260130", "1301", Kyokuyo, PrimeDomestic, "50", Fisheries}));
    EXPECT_EQ(xls[1].Code, "130A");
    EXPECT_EQ(xls[1].Name, "\xe9\xab\x99\xe5\xb3\xb6\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88"); // 髙島テスト, as written
    EXPECT_EQ(xls[2].S33Code, "-");
    EXPECT_EQ(xls[7].Code, "25935");

    const std::vector<TListingRow> xlsx = ReadListingFile(TestData("listing.xlsx"));
    ASSERT_EQ(xlsx.size(), 4u) << "the note row without a code is no stock";
    EXPECT_EQ(xlsx[0].Code, "1301");
    EXPECT_EQ(xlsx[0].S33Code, "50");
    EXPECT_EQ(xlsx[1].Name,
              "\xe6\x97\xa7\xe3\x82\xb8\xe3\x83\xa3\xe3\x82\xb9\xe3\x83\x80\xe3\x83\x83\xe3\x82\xaf") // 旧ジャスダック
        << "an inline string";
    EXPECT_EQ(xlsx[2].Name, "\xe3\x83\x88\xe3\x83\xa8\xe3\x82\xbf\xe8\x87\xaa\xe5\x8b\x95\xe8\xbb\x8a") // トヨタ自動車
        << "runs joined, the phonetic guide left out";
}

TEST(ListingRowsFromCsv, TellsUtf8FromCp932)
{
    const std::string utf8 =
        "\xe6\x97\xa5\xe4\xbb\x98,\xe3\x82\xb3\xe3\x83\xbc\xe3\x83\x89,\xe9\x8a\x98\xe6\x9f\x84\xe5\x90\x8d,"
        "\xe5\xb8\x82\xe5\xa0\xb4\xe3\x83\xbb\xe5\x95\x86\xe5\x93\x81\xe5\x8c\xba\xe5\x88\x86,"
        "33\xe6\xa5\xad\xe7\xa8\xae\xe3\x82\xb3\xe3\x83\xbc\xe3\x83\x89,"
        "33\xe6\xa5\xad\xe7\xa8\xae\xe5\x8c\xba\xe5\x88\x86\r\n"
        "20260130,1301," +
        Kyokuyo + "," + PrimeDomestic + ",50," + Fisheries +
        "\r\n"
        "20260130,130A,\"A, \"\"B\"\"\"," +
        PrimeDomestic + ",3050,x\r\n";
    const std::string cp932 =
        "\x93\xfa\x95\x74,\x83\x52\x81\x5b\x83\x68,\x96\xc1\x95\xbf\x96\xbc,"
        "\x8e\x73\x8f\xea\x81\x45\x8f\xa4\x95\x69\x8b\xe6\x95\xaa,"
        "33\x8b\xc6\x8e\xed\x83\x52\x81\x5b\x83\x68,33\x8b\xc6\x8e\xed\x8b\xe6\x95\xaa\r\n"
        "20260130,1301,\x8b\xc9\x97\x6d,"
        "\x83\x76\x83\x89\x83\x43\x83\x80\x81\x69\x93\xe0\x8d\x91\x8a\x94\x8e\xae\x81\x6a,50,"
        "\x90\x85\x8e\x59\x81\x45\x94\x5f\x97\xd1\x8b\xc6\r\n"
        "20260130,130A,\"A, \"\"B\"\"\","
        "\x83\x76\x83\x89\x83\x43\x83\x80\x81\x69\x93\xe0\x8d\x91\x8a\x94\x8e\xae\x81\x6a,3050,x\r\n";
    const struct
    {
        const char* name;
        std::string bytes;
    } rows[] = {
        {"UTF-8", utf8},
        {"UTF-8 with a byte order mark", "\xef\xbb\xbf" + utf8},
        {"CP932", cp932},
        {"LF line ends",
         [&] {
             std::string s = utf8;
             s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
             return s;
         }()},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        const std::vector<TListingRow> listing = ListingRowsFromCsv(row.bytes);
        ASSERT_EQ(listing.size(), 2u);
        EXPECT_EQ(listing[0], (TListingRow{"20260130", "1301", Kyokuyo, PrimeDomestic, "50", Fisheries}));
        EXPECT_EQ(listing[1].Name, "A, \"B\"") << "quoted field";
    }
}

// 日付,コード,銘柄名,市場・商品区分,33業種コード,33業種区分, UTF-8.
const std::string Captions = "\xe6\x97\xa5\xe4\xbb\x98,\xe3\x82\xb3\xe3\x83\xbc\xe3\x83\x89,"
                             "\xe9\x8a\x98\xe6\x9f\x84\xe5\x90\x8d,"
                             "\xe5\xb8\x82\xe5\xa0\xb4\xe3\x83\xbb\xe5\x95\x86\xe5\x93\x81\xe5\x8c\xba\xe5\x88\x86,"
                             "33\xe6\xa5\xad\xe7\xa8\xae\xe3\x82\xb3\xe3\x83\xbc\xe3\x83\x89,"
                             "33\xe6\xa5\xad\xe7\xa8\xae\xe5\x8c\xba\xe5\x88\x86\r\n";

//! A UTF-8 listing line of 1301 with `name` written as it is (quotes and all).
std::string ListingLine(const std::string& code, const std::string& name)
{
    return "20260130," + code + "," + name + "," + PrimeDomestic + ",50," + Fisheries + "\r\n";
}

TEST(ListingRowsFromCsv, QuotedNamesKeepTheirQuotesAndCommas)
{
    const struct
    {
        const char* name;
        std::string field;
        std::string read;
    } rows[] = {
        {"a doubled quote inside", "\"A\"\"B\"", "A\"B"},
        {"doubled quotes at both ends", "\"\"\"AB\"\"\"", "\"AB\""},
        {"nothing but a doubled quote", "\"\"\"\"", "\""},
        {"a comma", "\"A,B\"", "A,B"},
        {"an empty quoted name", "\"\"", ""},
        {"a line end", "\"A\r\nB\"", "A\r\nB"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        const std::vector<TListingRow> listing =
            ListingRowsFromCsv(Captions + ListingLine("1301", row.field) + ListingLine("1332", "N"));
        ASSERT_EQ(listing.size(), 2u);
        EXPECT_EQ(listing[0], (TListingRow{"20260130", "1301", row.read, PrimeDomestic, "50", Fisheries}))
            << "the fields after the name are its own";
        EXPECT_EQ(listing[1].Code, "1332") << "the next line is a line of its own";
    }
}

TEST(ReadListingFile, RefusesWhatIsNoListing)
{
    const std::filesystem::path folder = FreshFolder("listing_bad");
    const struct
    {
        const char* name;
        const char* file;
        std::string bytes;
    } rows[] = {
        {"CSV without the captions", "a.csv", "1301,A,B\r\n"},
        {"random bytes as .xlsx", "b.xlsx", "PK\x03\x04 not really"},
        {"a truncated archive", "c.xlsx", ReadBytes(TestData("listing.xlsx")).substr(0, 900)},
        {"an .xls that is text", "d.xls", "not a workbook"},
        {"another extension", "e.txt", "x"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        WriteBytes(folder / row.file, row.bytes);
        EXPECT_THROW(ReadListingFile(folder / row.file), TListingError);
    }
    EXPECT_THROW(ReadListingFile(folder / "missing.csv"), TListingError);
}

int RunListing(const std::filesystem::path& data, const std::filesystem::path& file,
               const std::filesystem::path& report)
{
    const std::string command = "'" ORVANTA_SERVICE_BINARY "' --data '" + data.string() + "' --listing '" +
                                file.string() + "' > '" + report.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ServiceProgram, ListingMakesTheFolderRealAndReportsChanges)
{
    const std::filesystem::path root = FreshFolder("listing_program");
    const std::filesystem::path data = root / "data";
    std::filesystem::create_directories(data);
    std::filesystem::copy_file(SampleDataFolder() / "stocks.csv", data / "stocks.csv");

    ASSERT_EQ(RunListing(data, TestData("listing.xls"), root / "report1.txt"), 0) << ReadBytes(root / "report1.txt");
    const std::string report = ReadBytes(root / "report1.txt");
    // Seven served (two of them funds), PRO Market and investment securities skipped; the
    // sample master before is replaced, not compared.
    EXPECT_NE(report.find("9 行、配信する銘柄 7\n"), std::string::npos) << report;
    EXPECT_NE(report.find("追加 7、変更 0、削除 0、"), std::string::npos) << report;
    EXPECT_NE(report.find("除外 2 (PRO Market 1、ほかの市場や知らない業種・コード 1、"), std::string::npos) << report;
    EXPECT_NE(report.find("(5 文字のコード): 1\n"), std::string::npos) << report;
    EXPECT_TRUE(IsRealDataFolder(data));
    const std::string version = ReadDataVersion(data);
    EXPECT_NE(version, "0");

    const std::vector<TStock> stocks = ParseStockMaster(ReadBytes(data / "stocks.csv"));
    ASSERT_EQ(stocks.size(), 7u);
    EXPECT_EQ(stocks[2], (TStock{"130A", "\xe9\xab\x98\xe5\xb3\xb6\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88", // 高島テスト
                                 "\xe3\x82\xb0\xe3\x83\xad\xe3\x83\xbc\xe3\x82\xb9",                     // グロース
                                 "\xe9\x80\x9a\xe4\xbf\xa1\xe6\xa5\xad"}));                              // 通信業
    const std::string list = ReadBytes(data / "KabuList.dat");
    EXPECT_NE(list.find("2593,\x88\xc9\x93\xa1\x89\x80 \x81\x95 Co,"), std::string::npos) << "伊藤園 ＆ Co";
    EXPECT_NE(list.find("1306,"), std::string::npos);
    EXPECT_EQ(list.find("25935"), std::string::npos);

    // The older file over it: 1301 moves from プライム to 東証１部, three come, six go.
    ASSERT_EQ(RunListing(data, TestData("listing.xlsx"), root / "report2.txt"), 0) << ReadBytes(root / "report2.txt");
    EXPECT_NE(ReadBytes(root / "report2.txt").find("追加 3、変更 1、削除 6、変更なし 0\n"), std::string::npos)
        << ReadBytes(root / "report2.txt");
    const std::string version2 = ReadDataVersion(data);
    EXPECT_NE(version2, version);

    // A file that is no listing changes nothing and fails.
    const std::string master = ReadBytes(data / "stocks.csv");
    WriteBytes(root / "bad.csv", "1301,A,B\r\n");
    EXPECT_EQ(RunListing(data, root / "bad.csv", root / "report3.txt"), 1);
    EXPECT_EQ(ReadBytes(data / "stocks.csv"), master);
    EXPECT_EQ(ReadDataVersion(data), version2);
}

// The .xls library reads out of bounds on this crafted file (found by the fuzzer): it is read in
// a child process, so the file is refused, named, and nothing of the data changes.
TEST(ServiceProgram, ACraftedXlsIsRefusedByNameAndChangesNothing)
{
    const std::filesystem::path root = FreshFolder("listing_crafted_xls");
    const std::filesystem::path data = root / "data";
    std::filesystem::create_directories(data);
    std::filesystem::copy_file(SampleDataFolder() / "stocks.csv", data / "stocks.csv");
    const std::string master = ReadBytes(data / "stocks.csv");

    EXPECT_EQ(RunListing(data, TestData("crafted.xls"), root / "report.txt"), 1);
    EXPECT_NE(ReadBytes(root / "report.txt").find(TestData("crafted.xls").string() + ": "), std::string::npos)
        << ReadBytes(root / "report.txt");
    EXPECT_EQ(ReadBytes(data / "stocks.csv"), master);
    EXPECT_FALSE(IsRealDataFolder(data));
}

// A UTF-8 listing without a byte order mark and with one stray byte was read whole as CP932
// and refused for want of its captions, which it had.
TEST(ServiceProgram, AListingWithAByteThatIsNoTextSaysWhere)
{
    const std::filesystem::path root = FreshFolder("listing_stray_byte");
    const std::filesystem::path data = root / "data";
    std::filesystem::create_directories(data);
    const struct
    {
        const char* name;
        std::string bytes;
        int status;
        std::string said;
    } rows[] = {
        {"a stray byte in a UTF-8 name", Captions + ListingLine("1301", "N") + ListingLine("1332", "\xe6\xa5\xb5\xff"),
         1,
         "3 \xe8\xa1\x8c\xe7\x9b\xae\xe3\x81\xae 18 \xe3\x83\x90\xe3\x82\xa4\xe3\x83\x88\xe7\x9b\xae (0xFF)"}, // 3 行目の 18 バイト目
        {"a cut character at the end", Captions + ListingLine("1301", "N") + "\xe6\xa5", 1,
         "3 \xe8\xa1\x8c\xe7\x9b\xae\xe3\x81\xae 1 \xe3\x83\x90\xe3\x82\xa4\xe3\x83\x88\xe7\x9b\xae (0xE6)"}, // 3 行目の 1 バイト目
        // A CP932 file keeps being read; a byte neither encoding has becomes 〓 in its name.
        {"CP932 with a byte of neither",
         "\x93\xfa\x95\x74,\x83\x52\x81\x5b\x83\x68,\x96\xc1\x95\xbf\x96\xbc,"
         "\x8e\x73\x8f\xea\x81\x45\x8f\xa4\x95\x69\x8b\xe6\x95\xaa,"
         "33\x8b\xc6\x8e\xed\x83\x52\x81\x5b\x83\x68,33\x8b\xc6\x8e\xed\x8b\xe6\x95\xaa\r\n"
         "20260130,1301,\x8b\xc9\xff,"
         "\x83\x76\x83\x89\x83\x43\x83\x80\x81\x69\x93\xe0\x8d\x91\x8a\x94\x8e\xae\x81\x6a,50,"
         "\x90\x85\x8e\x59\x81\x45\x94\x5f\x97\xd1\x8b\xc6\r\n",
         0, "1 \xe8\xa1\x8c"}, // 1 行
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        WriteBytes(root / "listing.csv", row.bytes);
        EXPECT_EQ(RunListing(data, root / "listing.csv", root / "report.txt"), row.status);
        const std::string report = ReadBytes(root / "report.txt");
        EXPECT_NE(report.find(row.said), std::string::npos) << report;
        if (row.status != 0)
        {
            EXPECT_NE(report.find((root / "listing.csv").string()), std::string::npos) << report;
        }
    }
    EXPECT_NE(ReadBytes(data / "stocks.csv").find("1301,\xe6\xa5\xb5\xe3\x80\x93,"), std::string::npos) << "極〓";
}

//! An .xlsx of the given parts, each deflated as a spreadsheet program writes them.
std::string XlsxOf(const std::vector<std::pair<std::string, std::string>>& parts, const std::filesystem::path& file)
{
    int error = 0;
    zip_t* archive = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return {};
    for (const auto& [name, bytes] : parts)
    {
        zip_source_t* source = zip_source_buffer(archive, bytes.data(), bytes.size(), 0);
        if (!source || zip_file_add(archive, name.c_str(), source, ZIP_FL_OVERWRITE) < 0)
            zip_source_free(source);
    }
    zip_close(archive);
    return ReadBytes(file);
}

std::string Repeated(const std::string& piece, std::size_t times)
{
    std::string text;
    text.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        text += piece;
    return text;
}

// A few kilobytes of .xlsx took a gigabyte: a part inflated to its stated size at once, every
// tag became a node, and a long shared string was copied into every cell naming it. The
// reader now stops at its bounds and names the file.
TEST(ReadListingFile, RefusesAnXlsxThatWouldOutgrowItsBounds)
{
    const std::filesystem::path folder = FreshFolder("listing_bombs");
    const std::string sheetHead = "<worksheet><sheetData>";
    const std::string sheetTail = "</sheetData></worksheet>";
    const std::string header = "<row><c t=\"inlineStr\"><is><t>\xe3\x82\xb3\xe3\x83\xbc\xe3\x83\x89</t></is></c>"
                               "<c t=\"inlineStr\"><is><t>\xe9\x8a\x98\xe6\x9f\x84\xe5\x90\x8d</t></is></c>"
                               "<c t=\"inlineStr\"><is><t>\xe5\xb8\x82\xe5\xa0\xb4\xe3\x83\xbb\xe5\x95\x86"
                               "\xe5\x93\x81\xe5\x8c\xba\xe5\x88\x86</t></is></c></row>";
    const std::string stockRow = "<row><c><v>1301</v></c><c t=\"s\"><v>0</v></c></row>";
    const struct
    {
        const char* name;
        std::vector<std::pair<std::string, std::string>> parts;
        bool refused;
    } rows[] = {
        {"a listing of a few rows",
         {{"xl/worksheets/sheet1.xml", sheetHead + header + stockRow + sheetTail},
          {"xl/sharedStrings.xml", "<sst><si><t>N</t></si></sst>"}},
         false},
        {"a sheet that inflates past its bound",
         {{"xl/worksheets/sheet1.xml", sheetHead + header + Repeated("<row/>", 4'000'000) + sheetTail}},
         true},
        {"a sheet of more tags than a listing has",
         {{"xl/worksheets/sheet1.xml",
           sheetHead + header + "<row>" + Repeated("<c/>", 2'500'000) + "</row>" + sheetTail}},
         true},
        {"a long shared string in every cell",
         {{"xl/worksheets/sheet1.xml", sheetHead + header + Repeated(stockRow, 1'000) + sheetTail},
          {"xl/sharedStrings.xml", "<sst><si><t>" + std::string(40'000, 'N') + "</t></si></sst>"}},
         true},
        {"cells far to the right in every row",
         {{"xl/worksheets/sheet1.xml",
           sheetHead + header + Repeated("<row><c r=\"BL1\"/></row>", 20'000) + sheetTail}},
         true},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        const std::filesystem::path file = folder / "listing.xlsx";
        ASSERT_FALSE(XlsxOf(row.parts, file).empty());
        try
        {
            const std::vector<TListingRow> listing = ReadListingFile(file);
            EXPECT_FALSE(row.refused) << "read " << listing.size() << " rows";
        }
        catch (const TListingError& error)
        {
            EXPECT_TRUE(row.refused) << error.what();
            EXPECT_NE(std::string(error.what()).find(file.string()), std::string::npos) << error.what();
        }
    }
}

} // namespace
