#include "common/temp_file.h"

#include <gtest/gtest.h>

#include <sys/inotify.h>
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

// Regression: the key file's temporary file was made with the user's usual mode (0644) and
// only then narrowed; a reader who opened it in between could read the key written later.
TEST(TTempFile, APrivateFileIsTheOwnersAloneFromItsFirstMoment)
{
    const std::filesystem::path folder = FreshFolder("temp_file_private");
    const std::filesystem::path target = folder / "jquants-api-key";
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_ATTRIB), 0);
    const mode_t previous = ::umask(022);
    WriteFileReplacing(target, "secret\n", TFileAccess::Private);
    ::umask(previous);

    // Created 0600 by mkostemp; any change of its mode after that shows as IN_ATTRIB.
    alignas(inotify_event) char buffer[4096];
    int created = 0;
    int modeChanges = 0;
    for (ssize_t got; (got = ::read(watch, buffer, sizeof buffer)) > 0;)
        for (ssize_t at = 0; at < got;)
        {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            created += (event->mask & IN_CREATE) ? 1 : 0;
            modeChanges += (event->mask & IN_ATTRIB) ? 1 : 0;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    ::close(watch);
    EXPECT_EQ(created, 1);
    EXPECT_EQ(modeChanges, 0);
    EXPECT_EQ(std::filesystem::status(target).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(Read(target), "secret\n");
}

} // namespace
