#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

// The market and sector names of the stock list, written once for the program's list reader,
// its result list and the service's stock master, list writer and master rules.

//! The markets of MarketNames, in its order: the eleven old names, today's segments, and 東証
//! for the issues outside them (ETFs, REITs and the like).
enum class TMarketId
{
    TokyoFirst,
    TokyoSecond,
    OsakaFirst,
    OsakaSecond,
    Jasdaq,
    Sapporo,
    Fukuoka,
    Mothers,
    NagoyaFirst,
    NagoyaSecond,
    Hercules,
    Prime,
    Standard,
    Growth,
    NagoyaPremier,
    NagoyaMain,
    NagoyaNext,
    SapporoAmbitious,
    FukuokaQBoard,
    Tokyo,
};

//! The suffix of a key without a market: two blanks.
constexpr std::string_view NoMarketSuffix = "  ";

//! A market with a column per use.
struct TMarketName
{
    TMarketId Market;
    std::string_view ListName;     // the list file's market field, Shift_JIS
    std::string_view MasterName;   // the same name in the service's stock master, UTF-8
    std::string_view KeySuffix;    // the list entry's key suffix; the suffixes the service accepts
    std::string_view OpenedSuffix; // the suffix the program asks with for a screened or opened row
    std::string_view Shown;        // the result list's market column, UTF-8
};

// The old names' digits are full-width; "Q-Board" is half-width. Each old name shows the name
// of its exchange; the segment names of today show themselves.
// Fukuoka, Mothers, Hercules and Q-Board differ on purpose: the list gives them a suffix of
// their own (.f, .m, .h), but a screening run and an opened row ask for their stocks with the
// key without a market (NoMarketSuffix).
inline constexpr std::array<TMarketName, 20> MarketNames{{
    // 東証１部, shown 東証
    {TMarketId::TokyoFirst, "\x93\x8c\x8f\xd8\x82\x50\x95\x94", "\xe6\x9d\xb1\xe8\xa8\xbc\xef\xbc\x91\xe9\x83\xa8",
     ".t", ".t", "\xe6\x9d\xb1\xe8\xa8\xbc"},
    // 東証２部, shown 東証
    {TMarketId::TokyoSecond, "\x93\x8c\x8f\xd8\x82\x51\x95\x94", "\xe6\x9d\xb1\xe8\xa8\xbc\xef\xbc\x92\xe9\x83\xa8",
     ".t", ".t", "\xe6\x9d\xb1\xe8\xa8\xbc"},
    // 大阪１部, shown 大阪
    {TMarketId::OsakaFirst, "\x91\xe5\x8d\xe3\x82\x50\x95\x94", "\xe5\xa4\xa7\xe9\x98\xaa\xef\xbc\x91\xe9\x83\xa8",
     ".o", ".o", "\xe5\xa4\xa7\xe9\x98\xaa"},
    // 大阪２部, shown 大阪
    {TMarketId::OsakaSecond, "\x91\xe5\x8d\xe3\x82\x51\x95\x94", "\xe5\xa4\xa7\xe9\x98\xaa\xef\xbc\x92\xe9\x83\xa8",
     ".o", ".o", "\xe5\xa4\xa7\xe9\x98\xaa"},
    // JASDAQ
    {TMarketId::Jasdaq, "JASDAQ", "JASDAQ", ".q", ".q", "JASDAQ"},
    // 札証
    {TMarketId::Sapporo, "\x8e\x44\x8f\xd8", "\xe6\x9c\xad\xe8\xa8\xbc", ".s", ".s", "\xe6\x9c\xad\xe8\xa8\xbc"},
    // 福証
    {TMarketId::Fukuoka, "\x95\x9f\x8f\xd8", "\xe7\xa6\x8f\xe8\xa8\xbc", ".f", NoMarketSuffix,
     "\xe7\xa6\x8f\xe8\xa8\xbc"},
    // マザーズ
    {TMarketId::Mothers, "\x83\x7d\x83\x55\x81\x5b\x83\x59", "\xe3\x83\x9e\xe3\x82\xb6\xe3\x83\xbc\xe3\x82\xba", ".m",
     NoMarketSuffix, "\xe3\x83\x9e\xe3\x82\xb6\xe3\x83\xbc\xe3\x82\xba"},
    // 名証１部, shown 名証
    {TMarketId::NagoyaFirst, "\x96\xbc\x8f\xd8\x82\x50\x95\x94", "\xe5\x90\x8d\xe8\xa8\xbc\xef\xbc\x91\xe9\x83\xa8",
     ".n", ".n", "\xe5\x90\x8d\xe8\xa8\xbc"},
    // 名証２部, shown 名証
    {TMarketId::NagoyaSecond, "\x96\xbc\x8f\xd8\x82\x51\x95\x94", "\xe5\x90\x8d\xe8\xa8\xbc\xef\xbc\x92\xe9\x83\xa8",
     ".n", ".n", "\xe5\x90\x8d\xe8\xa8\xbc"},
    // ヘラクレス
    {TMarketId::Hercules, "\x83\x77\x83\x89\x83\x4e\x83\x8c\x83\x58",
     "\xe3\x83\x98\xe3\x83\xa9\xe3\x82\xaf\xe3\x83\xac\xe3\x82\xb9", ".h", NoMarketSuffix,
     "\xe3\x83\x98\xe3\x83\xa9\xe3\x82\xaf\xe3\x83\xac\xe3\x82\xb9"},
    // プライム
    {TMarketId::Prime, "\x83\x76\x83\x89\x83\x43\x83\x80", "\xe3\x83\x97\xe3\x83\xa9\xe3\x82\xa4\xe3\x83\xa0", ".t",
     ".t", "\xe3\x83\x97\xe3\x83\xa9\xe3\x82\xa4\xe3\x83\xa0"},
    // スタンダード
    {TMarketId::Standard, "\x83\x58\x83\x5e\x83\x93\x83\x5f\x81\x5b\x83\x68",
     "\xe3\x82\xb9\xe3\x82\xbf\xe3\x83\xb3\xe3\x83\x80\xe3\x83\xbc\xe3\x83\x89", ".t", ".t",
     "\xe3\x82\xb9\xe3\x82\xbf\xe3\x83\xb3\xe3\x83\x80\xe3\x83\xbc\xe3\x83\x89"},
    // グロース
    {TMarketId::Growth, "\x83\x4f\x83\x8d\x81\x5b\x83\x58", "\xe3\x82\xb0\xe3\x83\xad\xe3\x83\xbc\xe3\x82\xb9", ".t",
     ".t", "\xe3\x82\xb0\xe3\x83\xad\xe3\x83\xbc\xe3\x82\xb9"},
    // 名証プレミア
    {TMarketId::NagoyaPremier, "\x96\xbc\x8f\xd8\x83\x76\x83\x8c\x83\x7e\x83\x41",
     "\xe5\x90\x8d\xe8\xa8\xbc\xe3\x83\x97\xe3\x83\xac\xe3\x83\x9f\xe3\x82\xa2", ".n", ".n",
     "\xe5\x90\x8d\xe8\xa8\xbc\xe3\x83\x97\xe3\x83\xac\xe3\x83\x9f\xe3\x82\xa2"},
    // 名証メイン
    {TMarketId::NagoyaMain, "\x96\xbc\x8f\xd8\x83\x81\x83\x43\x83\x93",
     "\xe5\x90\x8d\xe8\xa8\xbc\xe3\x83\xa1\xe3\x82\xa4\xe3\x83\xb3", ".n", ".n",
     "\xe5\x90\x8d\xe8\xa8\xbc\xe3\x83\xa1\xe3\x82\xa4\xe3\x83\xb3"},
    // 名証ネクスト
    {TMarketId::NagoyaNext, "\x96\xbc\x8f\xd8\x83\x6c\x83\x4e\x83\x58\x83\x67",
     "\xe5\x90\x8d\xe8\xa8\xbc\xe3\x83\x8d\xe3\x82\xaf\xe3\x82\xb9\xe3\x83\x88", ".n", ".n",
     "\xe5\x90\x8d\xe8\xa8\xbc\xe3\x83\x8d\xe3\x82\xaf\xe3\x82\xb9\xe3\x83\x88"},
    // 札証アンビシャス
    {TMarketId::SapporoAmbitious, "\x8e\x44\x8f\xd8\x83\x41\x83\x93\x83\x72\x83\x56\x83\x83\x83\x58",
     "\xe6\x9c\xad\xe8\xa8\xbc\xe3\x82\xa2\xe3\x83\xb3\xe3\x83\x93\xe3\x82\xb7\xe3\x83\xa3\xe3\x82\xb9", ".s", ".s",
     "\xe6\x9c\xad\xe8\xa8\xbc\xe3\x82\xa2\xe3\x83\xb3\xe3\x83\x93\xe3\x82\xb7\xe3\x83\xa3\xe3\x82\xb9"},
    // 福証Q-Board
    {TMarketId::FukuokaQBoard, "\x95\x9f\x8f\xd8Q-Board", "\xe7\xa6\x8f\xe8\xa8\xbcQ-Board", ".f", NoMarketSuffix,
     "\xe7\xa6\x8f\xe8\xa8\xbcQ-Board"},
    // 東証
    {TMarketId::Tokyo, "\x93\x8c\x8f\xd8", "\xe6\x9d\xb1\xe8\xa8\xbc", ".t", ".t", "\xe6\x9d\xb1\xe8\xa8\xbc"},
}};

//! The row of `market`.
constexpr const TMarketName& MarketNameOf(TMarketId market)
{
    return MarketNames[static_cast<std::size_t>(market)];
}

//! The row whose ListName is `listName`; null for a market the list does not know.
const TMarketName* MarketOfListName(std::string_view listName);

//! The row whose MasterName is `masterName`; null for a market the master does not know.
const TMarketName* MarketOfMasterName(std::string_view masterName);

//! The OpenedSuffix of a KeySuffix; a suffix of no market as it is.
std::string_view OpenedSuffixOf(std::string_view keySuffix);

//! The OpenedSuffix of a result row's Shown market name; none for an unknown name. Markets that
//! share a shown name share their opened suffix.
std::optional<std::string_view> KeySuffixOfMarketName(std::string_view shown);

//! A sector of the stock list: its name (UTF-8) and the exchange's 33-sector code.
struct TSectorName
{
    std::string_view Name;
    std::string_view S33Code;
};

//! The 34 sectors in the order the program lists them; 投信 (funds and the like, code 9999) last.
inline constexpr std::array<TSectorName, 34> SectorNames{{
    {"\xe6\xb0\xb4\xe7\x94\xa3\xef\xbd\xa5\xe8\xbe\xb2\xe6\x9e\x97\xe6\xa5\xad", "0050"}, // 水産･農林業
    {"\xe9\x89\xb1\xe6\xa5\xad", "1050"},                                                 // 鉱業
    {"\xe5\xbb\xba\xe8\xa8\xad\xe6\xa5\xad", "2050"},                                     // 建設業
    {"\xe9\xa3\x9f\xe6\x96\x99\xe5\x93\x81", "3050"},                                     // 食料品
    {"\xe7\xb9\x8a\xe7\xb6\xad\xe8\xa3\xbd\xe5\x93\x81", "3100"},                         // 繊維製品
    {"\xe3\x83\x91\xe3\x83\xab\xe3\x83\x97\xe3\x83\xbb\xe7\xb4\x99", "3150"},             // パルプ・紙
    {"\xe5\x8c\x96\xe5\xad\xa6", "3200"},                                                 // 化学
    {"\xe5\x8c\xbb\xe8\x96\xac\xe5\x93\x81", "3250"},                                     // 医薬品
    {"\xe7\x9f\xb3\xe6\xb2\xb9\xe7\x9f\xb3\xe7\x82\xad\xe8\xa3\xbd\xe5\x93\x81", "3300"}, // 石油石炭製品
    {"\xe3\x82\xb4\xe3\x83\xa0\xe8\xa3\xbd\xe5\x93\x81", "3350"},                         // ゴム製品
    {"\xef\xbd\xb6\xef\xbe\x9e\xef\xbe\x97\xef\xbd\xbd\xe5\x9c\x9f\xe7\x9f\xb3\xe8\xa3\xbd\xe5\x93\x81",
     "3400"},                                                                             // ｶﾞﾗｽ土石製品
    {"\xe9\x89\x84\xe9\x8b\xbc", "3450"},                                                 // 鉄鋼
    {"\xe9\x9d\x9e\xe9\x89\x84\xe9\x87\x91\xe5\xb1\x9e", "3500"},                         // 非鉄金属
    {"\xe9\x87\x91\xe5\xb1\x9e\xe8\xa3\xbd\xe5\x93\x81", "3550"},                         // 金属製品
    {"\xe6\xa9\x9f\xe6\xa2\xb0", "3600"},                                                 // 機械
    {"\xe9\x9b\xbb\xe6\xb0\x97\xe6\xa9\x9f\xe5\x99\xa8", "3650"},                         // 電気機器
    {"\xe8\xbc\xb8\xe9\x80\x81\xe7\x94\xa8\xe6\xa9\x9f\xe5\x99\xa8", "3700"},             // 輸送用機器
    {"\xe7\xb2\xbe\xe5\xaf\x86\xe6\xa9\x9f\xe5\x99\xa8", "3750"},                         // 精密機器
    {"\xe3\x81\x9d\xe3\x81\xae\xe4\xbb\x96\xe8\xa3\xbd\xe5\x93\x81", "3800"},             // その他製品
    {"\xe5\x8d\xb8\xe5\xa3\xb2\xe6\xa5\xad", "6050"},                                     // 卸売業
    {"\xe5\xb0\x8f\xe5\xa3\xb2\xe6\xa5\xad", "6100"},                                     // 小売業
    {"\xe9\x8a\x80\xe8\xa1\x8c\xe6\xa5\xad", "7050"},                                     // 銀行業
    {"\xe8\xa8\xbc\xe5\x88\xb8\xe5\x95\x86\xe5\x93\x81\xe5\x85\x88\xe7\x89\xa9", "7100"}, // 証券商品先物
    {"\xe4\xbf\x9d\xe9\x99\xba\xe6\xa5\xad", "7150"},                                     // 保険業
    {"\xe3\x81\x9d\xe3\x81\xae\xe4\xbb\x96\xe9\x87\x91\xe8\x9e\x8d\xe6\xa5\xad", "7200"}, // その他金融業
    {"\xe4\xb8\x8d\xe5\x8b\x95\xe7\x94\xa3\xe6\xa5\xad", "8050"},                         // 不動産業
    {"\xe9\x99\xb8\xe9\x81\x8b\xe6\xa5\xad", "5050"},                                     // 陸運業
    {"\xe6\xb5\xb7\xe9\x81\x8b\xe6\xa5\xad", "5100"},                                     // 海運業
    {"\xe7\xa9\xba\xe9\x81\x8b\xe6\xa5\xad", "5150"},                                     // 空運業
    {"\xe5\x80\x89\xe5\xba\xab\xe9\x81\x8b\xe8\xbc\xb8\xe9\x96\xa2\xe9\x80\xa3", "5200"}, // 倉庫運輸関連
    {"\xe9\x80\x9a\xe4\xbf\xa1\xe6\xa5\xad", "5250"},                                     // 通信業
    {"\xe9\x9b\xbb\xe6\xb0\x97\xef\xbd\xa5\xe3\x82\xac\xe3\x82\xb9\xe6\xa5\xad", "4050"}, // 電気･ガス業
    {"\xe3\x82\xb5\xe3\x83\xbc\xe3\x83\x93\xe3\x82\xb9\xe6\xa5\xad", "9050"},             // サービス業
    {"\xe6\x8a\x95\xe4\xbf\xa1", "9999"},                                                 // 投信
}};
