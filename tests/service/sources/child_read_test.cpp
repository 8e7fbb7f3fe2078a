#include "sources/child_read.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <thread>

namespace {

using namespace std::chrono_literals;

TChildReadLimits SmallLimits()
{
    TChildReadLimits limits;
    limits.MaxCells = 100;
    limits.MaxCellBytes = 1000;
    limits.MemoryBytes = 64 * 1024 * 1024;
    limits.CpuSeconds = 1;
    limits.Deadline = 3s;
    return limits;
}

std::size_t OpenFiles()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

bool NoChildLeft()
{
    return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

const TSheetCells SomeCells = {
    {"\xe3\x82\xb3\xe3\x83\xbc\xe3\x83\x89", "", "x"}, // コード, an empty cell between
    {},
    {std::string("a\0b", 3)},
};

TEST(CellsReadInChild, ReturnsTheCellsOrTheChildsOwnRefusal)
{
    const std::size_t filesBefore = OpenFiles();
    EXPECT_EQ(CellsReadInChild([] { return SomeCells; }, SmallLimits()), SomeCells);
    EXPECT_EQ(CellsReadInChild([] { return TSheetCells{}; }, SmallLimits()), TSheetCells{});
    try
    {
        CellsReadInChild([]() -> TSheetCells { throw TChildRefusal("no sheet here"); }, SmallLimits());
        ADD_FAILURE() << "the child's refusal was lost";
    }
    catch (const TChildReadFailure& failure)
    {
        ADD_FAILURE() << "a clean refusal reported as a failure: " << failure.what();
    }
    catch (const TChildRefusal& refused)
    {
        EXPECT_STREQ(refused.what(), "no sheet here");
    }
    EXPECT_EQ(OpenFiles(), filesBefore);
    EXPECT_TRUE(NoChildLeft());
}

TEST(CellsReadInChild, AChildThatEndsBadlyIsARefusalAndIsReaped)
{
    TChildReadLimits spinning = SmallLimits();
    spinning.Deadline = 10s; // the processor time ends it first, also on a busy machine
    TChildReadLimits waiting = SmallLimits();
    waiting.Deadline = 300ms;
    const struct
    {
        const char* name;
        std::function<TSheetCells()> read;
        TChildReadLimits limits;
        const char* says;
    } rows[] = {
        {"killed by a signal",
         []() -> TSheetCells {
             std::raise(SIGSEGV);
             return SomeCells;
         },
         SmallLimits(), "\xe3\x82\xb7\xe3\x82\xb0\xe3\x83\x8a\xe3\x83\xab 11"}, // シグナル 11
        {"an exit of its own", []() -> TSheetCells { ::_exit(3); }, SmallLimits(),
         "\xe7\xb5\x82\xe4\xba\x86\xe3\x82\xb3\xe3\x83\xbc\xe3\x83\x89 3"}, // 終了コード 3
        {"an exception that is no refusal", []() -> TSheetCells { throw std::runtime_error("x"); }, SmallLimits(),
         "\xe7\xb5\x82\xe4\xba\x86"}, // 終了
        {"more memory than allowed",
         []() -> TSheetCells {
             std::vector<char> ballast(256 * 1024 * 1024, 'x');
             // Handed to the kernel, so the allocation cannot be optimised away.
             [[maybe_unused]] const ssize_t written = ::write(-1, ballast.data(), ballast.size());
             return {};
         },
         SmallLimits(), "\xe7\xb5\x82\xe4\xba\x86"},
        {"more cells than allowed", [] { return TSheetCells(200, {"x"}); }, SmallLimits(),
         "\xe5\xa3\x8a\xe3\x82\x8c"}, // 壊れ
        {"processor time without end",
         []() -> TSheetCells {
             for (volatile unsigned spin = 0;;)
                 spin = spin + 1;
         },
         spinning, "\xe3\x82\xb7\xe3\x82\xb0\xe3\x83\x8a\xe3\x83\xab"}, // シグナル
        {"a wait without end",
         []() -> TSheetCells {
             for (;;)
                 ::pause();
         },
         waiting, "\xe7\xa7\x92"}, // 秒
    };
    const std::size_t filesBefore = OpenFiles();
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        const auto start = std::chrono::steady_clock::now();
        try
        {
            CellsReadInChild(row.read, row.limits);
            ADD_FAILURE() << "read as if whole";
        }
        catch (const TChildReadFailure& failure)
        {
            EXPECT_NE(std::string(failure.what()).find(row.says), std::string::npos) << failure.what();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, row.limits.Deadline + 1s) << "the deadline holds";
        EXPECT_TRUE(NoChildLeft());
    }
    EXPECT_EQ(OpenFiles(), filesBefore);
}

TEST(CellsOfChildAnswer, TakesNoLengthOnTrust)
{
    const std::string whole = ChildAnswerOf(SomeCells);
    ASSERT_EQ(CellsOfChildAnswer(whole, SmallLimits()), SomeCells);

    const auto withCount = [&](std::size_t at, std::uint32_t count) {
        std::string answer = whole;
        std::memcpy(answer.data() + at, &count, sizeof count);
        return answer;
    };
    TChildReadLimits fewBytes = SmallLimits();
    fewBytes.MaxCellBytes = 12;
    const struct
    {
        const char* name;
        std::string answer;
        TChildReadLimits limits;
    } rows[] = {
        {"nothing", "", SmallLimits()},
        {"an unknown kind", "X" + whole.substr(1), SmallLimits()},
        {"cut short", whole.substr(0, whole.size() - 1), SmallLimits()},
        {"bytes after the end", whole + "x", SmallLimits()},
        {"a row count beyond the bytes", withCount(1, 0xffffffff), SmallLimits()},
        {"a cell count beyond the bytes", withCount(5, 0x7fffffff), SmallLimits()},
        {"a cell length beyond the bytes", withCount(9, 0xfffffff0), SmallLimits()},
        {"more text than allowed", whole, fewBytes},
        {"a refusal cut short", ChildAnswerOf({}, "no sheet").substr(0, 7), SmallLimits()},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_THROW(CellsOfChildAnswer(row.answer, row.limits), TChildReadFailure);
    }
}

} // namespace
