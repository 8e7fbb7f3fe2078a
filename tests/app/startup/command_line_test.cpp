#include "app/startup/command_line.h"

#include <gtest/gtest.h>

namespace {

TCommandLine Parse(std::initializer_list<const char*> arguments)
{
    QStringList list{QStringLiteral("/usr/bin/orvanta")};
    for (const char* argument : arguments)
        list.append(QString::fromUtf8(argument));
    return ParseCommandLine(list);
}

TEST(ParseCommandLine, ReadsTheOptionsInEitherSpelling)
{
    const TCommandLine none = Parse({});
    EXPECT_FALSE(none.Exit.has_value());
    EXPECT_FALSE(none.WorkDir.has_value());
    EXPECT_FALSE(none.ServiceUrl.has_value());

    const TCommandLine both = Parse({"--workdir", "/tmp/w", "--service=http://10.0.0.2:80"});
    ASSERT_FALSE(both.Exit.has_value()) << both.Exit->Text.toStdString();
    EXPECT_EQ(both.WorkDir.value_or(QString()), QStringLiteral("/tmp/w"));
    EXPECT_EQ(both.ServiceUrl.value_or(QString()), QStringLiteral("http://10.0.0.2:80"));

    EXPECT_EQ(Parse({"--connections", "0"}).Connections.value_or(-1), 0);
    EXPECT_EQ(Parse({"--connections=8"}).Connections.value_or(-1), 8);
    EXPECT_FALSE(none.Connections.has_value());

    // The address is checked by the start-up rules, which name its source; not here.
    EXPECT_EQ(Parse({"--service", "ftp://x"}).ServiceUrl.value_or(QString()), QStringLiteral("ftp://x"));
}

TEST(ParseCommandLine, HelpVersionAndMistakesEndTheProgramAtOnce)
{
    struct Row
    {
        const char* name;
        std::initializer_list<const char*> arguments;
        int status;
        const char* text; // a part of the text printed
    };
    const Row rows[] = {
        {"--help", {"--help"}, 0, "--service <url>"},
        {"-h", {"-h", "--workdir", "x"}, 0, "--workdir <dir>"},
        {"help names the program", {"--help"}, 0, "使い方: orvanta [options]"},
        {"--version", {"--version"}, 0, "orvanta 1.6a\n"},
        {"-v", {"-v"}, 0, "orvanta 1.6a\n"},
        {"an unknown option",
         {"--screen-all"},
         UsageStatus,
         "orvanta: 不明なオプション screen-all（orvanta --help を参照）\n"},
        {"a Qt option is not ours", {"-platform", "xcb"}, UsageStatus, "orvanta: "},
        {"a value missing", {"--workdir"}, UsageStatus, "--workdir の値がありません"},
        {"a value where none is taken", {"--rsi30=yes"}, UsageStatus, "--rsi30 は値を取りません"},
        {"help in Japanese", {"--help"}, 0, "\nオプション:\n"},
        {"an argument", {"7203"}, UsageStatus, "\"7203\""},
        {"more connections than allowed", {"--connections", "9"}, UsageStatus, "--connections は 0～8 です"},
        {"connections not a number", {"--connections", "four"}, UsageStatus, "--connections は 0～8 です"},
        {"controls in an argument are shown, not obeyed",
         {"x\x1b]0;pwned\x07\n"},
         UsageStatus,
         "\"x\\x1b]0;pwned\\x07\\x0a\""},
        {"C1 controls and DEL too, Japanese kept",
         {"--screen",
          "機械\xc2\x9b"
          "2J\x7f\xc2\x85",
          "--out", "o"},
         UsageStatus,
         "業種 \"機械\\x9b2J\\x7f\\x85\" はありません"},
        {"fewer connections than none", {"--connections", "-1"}, UsageStatus, "--connections"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.name);
        const TCommandLine commandLine = Parse(row.arguments);
        ASSERT_TRUE(commandLine.Exit.has_value());
        EXPECT_EQ(commandLine.Exit->Status, row.status);
        EXPECT_TRUE(commandLine.Exit->Text.contains(QString::fromUtf8(row.text)))
            << commandLine.Exit->Text.toStdString();
    }
}

TEST(ParseCommandLine, TheConditionsOfAnUnattendedRun)
{
    EXPECT_FALSE(Parse({}).Batch.has_value()) << "the window";

    const TCommandLine all =
        Parse({"--under-100k", "--screen=ｶﾞﾗｽ土石製品", "--rsi30", "--out", "/tmp/r", "--hits-only", "--workdir", "w"});
    ASSERT_TRUE(all.Batch.has_value()) << all.Exit->Text.toStdString();
    EXPECT_EQ(all.Batch->Sector, QStringLiteral("ｶﾞﾗｽ土石製品"));
    EXPECT_EQ(all.Batch->OutDir, QStringLiteral("/tmp/r"));
    EXPECT_TRUE(all.Batch->HitsOnly && all.Batch->Under100k && all.Batch->Rsi30);
    EXPECT_EQ(all.WorkDir.value_or(QString()), QStringLiteral("w")) << "the start-up options go with it";

    const TCommandLine plain = Parse({"--screen", "投信", "--out=x"});
    ASSERT_TRUE(plain.Batch.has_value());
    EXPECT_FALSE(plain.Batch->HitsOnly || plain.Batch->Under100k || plain.Batch->Rsi30);

    // Sector names as a person types them select the selector's own spelling.
    const struct
    {
        const char* Typed;
        const char* Item;
    } spellings[] = {
        {"水産・農林業", "水産･農林業"},    // the ordinary middle dot for the half-width one
        {"ガラス土石製品", "ｶﾞﾗｽ土石製品"}, // full-width katakana for half-width
        {"ｶﾞﾗｽ土石製品", "ｶﾞﾗｽ土石製品"},
        {"電気・ガス業", "電気･ガス業"},
    };
    for (const auto& spelling : spellings)
    {
        SCOPED_TRACE(spelling.Typed);
        const TCommandLine typed = Parse({"--screen", spelling.Typed, "--out", "x"});
        ASSERT_TRUE(typed.Batch.has_value());
        EXPECT_EQ(typed.Batch->Sector, QString::fromUtf8(spelling.Item));
    }
    EXPECT_FALSE(Parse({"--screen", "水産農林業", "--out", "x"}).Batch.has_value()) << "a name missing a character";
}

} // namespace
