#include "common/temp_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace {

std::filesystem::path FreshFolder(const std::string& name)
{
    const char* base = std::getenv("ORVANTA_TEST_TMP");
    const std::filesystem::path folder =
        std::filesystem::path(base ? base : "/tmp") / (name + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

std::string Read(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t FileCount(const std::filesystem::path& folder)
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++count;
    return count;
}

TEST(TTempFile, ReplacesTheTargetOnlyOnCommitWithTheUsersMode)
{
    const std::filesystem::path folder = FreshFolder("temp_file_commit");
    const std::filesystem::path target = folder / "page.00";
    {
        std::ofstream(target) << "old";
    }
    const mode_t previous = ::umask(027);
    {
        TTempFile temp(target);
        EXPECT_EQ(temp.Path().parent_path(), folder);
        temp.Write("new ");
        temp.Write(std::string("page\0", 5));
        EXPECT_EQ(Read(target), "old") << "untouched until the commit";
        temp.Commit();
    }
    ::umask(previous);
    EXPECT_EQ(Read(target), std::string("new page\0", 9));
    EXPECT_EQ(std::filesystem::status(target).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read);
    EXPECT_EQ(FileCount(folder), 1u);
}

TEST(TTempFile, WhatFailsLeavesNothingBehind)
{
    const std::filesystem::path folder = FreshFolder("temp_file_failures");
    {
        TTempFile abandoned(folder / "page.00");
        abandoned.Write("half a page");
    }
    EXPECT_EQ(FileCount(folder), 0u) << "a file never committed goes";

    std::filesystem::create_directories(folder / "busy" / "inside");
    {
        TTempFile blocked(folder / "busy");
        blocked.Write("page");
        EXPECT_THROW(blocked.Commit(), std::system_error); // a folder cannot be replaced by a file
    }
    EXPECT_EQ(FileCount(folder), 1u);

    EXPECT_THROW(TTempFile(folder / "missing" / "page.00"), std::system_error);
}

} // namespace
