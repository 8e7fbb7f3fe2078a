#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

// An empty folder of its own for each test, removed afterwards; the current folder and the
// XDG data folder are put back too, as the start-up changes both.
class TTempFolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* base = std::getenv("ORVANTA_TEST_TMP");
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        Root = std::filesystem::path(base ? base : "/tmp") / (std::string("startup_") + info->test_suite_name() + "_" +
                                                              info->name() + "_" + std::to_string(::getpid()));
        std::filesystem::remove_all(Root);
        std::filesystem::create_directories(Root);
        Previous = std::filesystem::current_path();
    }

    void TearDown() override
    {
        std::filesystem::current_path(Previous);
        std::error_code ignored;
        std::filesystem::remove_all(Root, ignored);
    }

    static void WriteText(const std::filesystem::path& file, const std::string& text)
    {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    }

    static std::string ReadText(const std::filesystem::path& file)
    {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::filesystem::path Root;
    std::filesystem::path Previous;
};
