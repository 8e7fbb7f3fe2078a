#include "data/web_page.h"

#include "data/data_error.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

class GetWebPageTest : public TWorkFolderTest
{
protected:
    void TearDown() override
    {
        SetReceiveTimeout(35000ms);
        TWorkFolderTest::TearDown();
    }

    TLoopbackServer Server;
    int EventCalls = 0;
    TProcessEvents CountEvents = [this] { ++EventCalls; };
};

std::string PatternBody(std::size_t size)
{
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        body[i] = static_cast<char>((i * 7 + i / 251) & 0xff); // every byte value, NULs too
    return body;
}

TEST_F(GetWebPageTest, ManySmallChunksLandByteForByte)
{
    const std::string body = PatternBody(20000);
    Server.Routes().Get("/page", [&](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("text/html", [&](std::size_t offset,
                                                               httplib::DataSink& sink) {
            if (offset < body.size())
                sink.write(body.data() + offset, std::min<std::size_t>(97, body.size() - offset));
            else
                sink.done();
            return true;
        });
    });
    const std::string address = Server.Start();

    EXPECT_EQ(GetWebPage(address + "/page", "dat/page.00", CountEvents), 20000);
    EXPECT_EQ(ReadFileBytes("dat/page.00"), body);
    EXPECT_GE(EventCalls, 2); // before connecting, and after at least one chunk
    EXPECT_FALSE(std::filesystem::exists("dat/page.00.part"));
}

TEST_F(GetWebPageTest, RequestCarriesTheAgentBytesAndNoCacheHeaders)
{
    Server.Routes().Get("/page", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("ok", "text/html");
    });
    const std::string address = Server.Start();

    ASSERT_EQ(GetWebPage(address + "/page", "dat/page.00", {}), 2);
    const auto log = Server.Log();
    ASSERT_EQ(log.size(), 1u);
    const auto agent = log[0].Headers.find("User-Agent");
    ASSERT_NE(agent, log[0].Headers.end());
    EXPECT_EQ(agent->second, "Microsoft Internet\x81\x40"
                             "Explorer");
    for (const char* name : {"Cache-Control", "Pragma", "Accept-Encoding"})
    {
        SCOPED_TRACE(name);
        EXPECT_EQ(log[0].Headers.count(name), 0u);
    }
}

TEST_F(GetWebPageTest, NotFoundPageIsStoredAndCounted)
{
    const std::string body = "<html>not here</html>";
    Server.Routes().Get("/page", [&](const httplib::Request&, httplib::Response& response) {
        response.status = 404;
        response.set_content(body, "text/html");
    });
    const std::string address = Server.Start();

    EXPECT_EQ(GetWebPage(address + "/page", "dat/page.00", {}), static_cast<int>(body.size()));
    EXPECT_EQ(ReadFileBytes("dat/page.00"), body);
}

// Each case must leave an existing cache file exactly as it was: writing the cache file
// directly used to leave a cut-off or empty page there, read as today's until midnight.
TEST_F(GetWebPageTest, NothingCompleteLeavesTheOldFileUntouched)
{
    SetReceiveTimeout(300ms);
    Server.Routes().Get("/dropped", [](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(
            20000, "text/html", [](std::size_t, std::size_t, httplib::DataSink& sink) {
                sink.write("<html>half a page", 17);
                return false; // closes the connection with 19,983 bytes missing
            });
    });
    Server.Routes().Get("/empty", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("", "text/html");
    });
    Server.Routes().Get("/stalled", [](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(
            100, "text/html", [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                if (offset == 0)
                    return sink.write("<html>", 6);
                std::this_thread::sleep_for(
                    2s); // nothing more for a while, then the connection closes
                return false;
            });
    });
    const std::string address = Server.Start();
    const std::string unreachable = "http://127.0.0.1:" + std::to_string(ClosedLoopbackPort());

    const struct
    {
        const char* Name;
        std::string Url;
    } rows[] = {
        {"connection dropped mid-body", address + "/dropped"},
        {"empty body", address + "/empty"},
        {"no byte for longer than the receive time-out", address + "/stalled"},
        {"closed port", unreachable + "/page"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        WriteFileBytes("dat/page.00", "yesterday's page");
        MakeYesterdays("dat/page.00");
        const auto stamp = std::filesystem::last_write_time("dat/page.00");
        const auto started = std::chrono::steady_clock::now();

        EXPECT_EQ(GetWebPage(row.Url, "dat/page.00", {}), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
        EXPECT_EQ(ReadFileBytes("dat/page.00"), "yesterday's page");
        EXPECT_EQ(std::filesystem::last_write_time("dat/page.00"), stamp);
        EXPECT_FALSE(std::filesystem::exists("dat/page.00.part"));
    }
}

TEST_F(GetWebPageTest, MissingCacheFolderThrows)
{
    Server.Routes().Get("/page", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("<html></html>", "text/html");
    });
    const std::string address = Server.Start();
    std::filesystem::remove_all("dat");

    EXPECT_THROW(GetWebPage(address + "/page", "dat/page.00", {}), TDataError);
}

TEST(FinanceServiceAddress, IsTheLoopbackServiceUnlessSet)
{
    EXPECT_EQ(FinanceServiceAddress(), "http://127.0.0.1:18650");
}

} // namespace
