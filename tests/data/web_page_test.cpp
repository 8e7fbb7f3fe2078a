#include "data/web_page.h"
#include "common/service_contract.h"

#include "data/cache_file.h"
#include "data/data_error.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <thread>

namespace {

using namespace std::chrono_literals;

class GetWebPageTest : public TWorkFolderTest
{
protected:
    void TearDown() override
    {
        SetReceiveTimeout(35000ms);
        SetTransferDeadline(120s);
        TWorkFolderTest::TearDown();
    }

    TLoopbackServer Server;
    int EventCalls = 0;
    TProcessEvents CountEvents = [this] { ++EventCalls; };
};

// Sets and unsets environment variables for one test and restores them afterwards.
class TEnvironment
{
public:
    ~TEnvironment()
    {
        for (const auto& [name, value] : Saved)
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
    }
    void Set(const std::string& name, const std::string& value)
    {
        Save(name);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    void Unset(const std::string& name)
    {
        Save(name);
        ::unsetenv(name.c_str());
    }

private:
    void Save(const std::string& name)
    {
        if (Saved.count(name) == 0)
        {
            const char* value = std::getenv(name.c_str());
            Saved[name] = value ? std::optional<std::string>(value) : std::nullopt;
        }
    }
    std::map<std::string, std::optional<std::string>> Saved;
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
    const auto stop = Server.StopBeforeLeaving();

    EXPECT_EQ(GetWebPage(address + "/page", "dat/page.00", CountEvents), 20000);
    EXPECT_EQ(ReadFileBytes("dat/page.00"), body);
    EXPECT_GE(EventCalls, 2); // before connecting, and after at least one chunk
    EXPECT_EQ(DatFiles(), std::vector<std::string>{"page.00"});
}

TEST_F(GetWebPageTest, KeepsItsConnectionAndAFetchFromAnEventPointGetsItsOwn)
{
    Server.Routes().set_keep_alive_max_count(100);
    Server.Routes().Get("/page", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("ok", "text/html");
    });
    const std::string address = Server.Start();

    ASSERT_EQ(GetWebPage(address + "/page", "dat/a.00", {}), 2);
    ASSERT_EQ(GetWebPage(address + "/page", "dat/b.00", {}), 2);
    // A command started from an event point of a fetch under way (after its first chunk)
    // fetches as well.
    int events = 0;
    int nested = -1;
    ASSERT_EQ(GetWebPage(address + "/page", "dat/c.00",
                         [&] {
                             if (++events == 2)
                                 nested = GetWebPage(address + "/page", "dat/d.00", {});
                         }),
              2);
    EXPECT_EQ(nested, 2);
    const auto log = Server.Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[1].RemotePort, log[0].RemotePort) << "the second page came over the first one's connection";
    EXPECT_NE(log[3].RemotePort, log[2].RemotePort) << "the nested fetch had a connection of its own";
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

// Whatever answered was stored as today's page: a 404 or 500 page, or another program on the
// service's port, then read "no data" for every stock until midnight without asking again.
TEST_F(GetWebPageTest, OnlyASuccessIsStoredAndAnErrorPageLeavesTheOldFile)
{
    const std::string page = "<html>today's page</html>";
    std::atomic<int> status{200};
    Server.Routes().Get("/page", [&](const httplib::Request&, httplib::Response& response) {
        response.status = status;
        if (status == 301)
            response.set_header("Location", "/elsewhere");
        response.set_content(status == 503 ? std::string() : page, "text/html");
    });
    const std::string address = Server.Start();
    const auto stop = Server.StopBeforeLeaving();

    const struct
    {
        const char* Name;
        int Status;
        std::int32_t Expected;
    } rows[] = {
        {"not found, with an HTML page", 404, 0},
        {"server error, with an HTML page", 500, 0},
        {"unavailable, without a body", 503, 0},
        {"a redirect is not followed and not stored", 301, 0},
        {"a success other than 200", 203, static_cast<std::int32_t>(page.size())},
        {"the right answer later the same day", 200, static_cast<std::int32_t>(page.size())},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        status = row.Status;
        WriteFileBytes("dat/page.00", "yesterday's page");
        MakeYesterdays("dat/page.00");

        EXPECT_EQ(GetWebPage(address + "/page", "dat/page.00", {}), row.Expected);
        EXPECT_EQ(ReadFileBytes("dat/page.00"), row.Expected > 0 ? page : "yesterday's page");
        EXPECT_EQ(IsCacheFresh("dat/page.00"), row.Expected > 0);
        EXPECT_EQ(DatFiles(), std::vector<std::string>{"page.00"});
    }
}

// Each case must leave an existing cache file exactly as it was: writing the cache file
// directly used to leave a cut-off or empty page there, read as today's until midnight.
TEST_F(GetWebPageTest, NothingCompleteLeavesTheOldFileUntouched)
{
    SetReceiveTimeout(300ms);
    SetTransferDeadline(1s);
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
    Server.Routes().Get("/trickle", [](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("text/html", [](std::size_t offset, httplib::DataSink& sink) {
            if (offset >= 40) // 4 s in all, each byte well within the receive time-out
            {
                sink.done();
                return true;
            }
            std::this_thread::sleep_for(100ms);
            return sink.write("x", 1);
        });
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
        {"a byte now and then past the transfer's deadline", address + "/trickle"},
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
        EXPECT_EQ(DatFiles(), std::vector<std::string>{"page.00"});
    }
}

// The cache file is made once the service has answered. It used to be opened at the first
// body byte, so an empty answer with dat/ missing said "no data" instead of the data error;
// a service that cannot be reached is still no data, dat/ or not.
TEST_F(GetWebPageTest, MissingCacheFolderIsTheDataErrorOnceTheServiceAnswers)
{
    Server.Routes().Get("/page", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("<html></html>", "text/html");
    });
    Server.Routes().Get("/empty", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("", "text/html");
    });
    const std::string address = Server.Start();
    std::filesystem::remove_all("dat");

    EXPECT_THROW(GetWebPage(address + "/page", "dat/page.00", {}), TDataError);
    EXPECT_THROW(GetWebPage(address + "/empty", "dat/page.00", {}), TDataError);
    EXPECT_EQ(GetWebPage(address + "/missing", "dat/page.00", {}), 0) << "an error page is no answer";
    const std::string unreachable = "http://127.0.0.1:" + std::to_string(ClosedLoopbackPort());
    EXPECT_EQ(GetWebPage(unreachable + "/page", "dat/page.00", {}), 0);
    EXPECT_FALSE(std::filesystem::exists("dat"));
}

// The temporary file was opened with fopen("wb") under a fixed name: a link planted there
// made the download write through it into any file the user may write.
TEST_F(GetWebPageTest, TheTemporaryFileNeverFollowsALink)
{
    Server.Routes().Get("/page", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("today's page", "text/html");
    });
    const std::string address = Server.Start();
    const std::filesystem::path victim = Folder / "victim";
    const struct
    {
        const char* Name;
        const char* Planted;
        bool Link;
    } rows[] = {
        {"a link under the old temporary name", "dat/page.00.part", true},
        {"the cache file itself a link", "dat/page.00", true},
        {"a temporary file left by a crash", "dat/page.00.part", false},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        std::filesystem::remove_all("dat");
        std::filesystem::create_directory("dat");
        WriteFileBytes(victim, "precious");
        if (row.Link)
            std::filesystem::create_symlink(victim, row.Planted);
        else
            WriteFileBytes(row.Planted, "half a");

        EXPECT_EQ(GetWebPage(address + "/page", "dat/page.00", {}), 12);
        EXPECT_EQ(ReadFileBytes(victim), "precious");
        EXPECT_FALSE(std::filesystem::is_symlink("dat/page.00"));
        EXPECT_EQ(ReadFileBytes("dat/page.00"), "today's page");
        const std::size_t expectedFiles = std::string_view(row.Planted) == "dat/page.00" ? 1 : 2;
        EXPECT_EQ(DatFiles().size(), expectedFiles) << "no temporary file left";
    }
}

// A body was kept up to 2 GiB, so a service sending without end filled dat/; later up to
// 8 MiB, about 40 GB for a list of 5,000 stocks, though no scraper reads past 50,001 bytes.
TEST_F(GetWebPageTest, APageOverSixtyFourKibibytesIsAFailedFetch)
{
    const auto chunked = [](std::size_t size) {
        return [size](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("text/html", [size](std::size_t offset, httplib::DataSink& sink) {
                if (offset >= size)
                {
                    sink.done();
                    return true;
                }
                const std::string chunk(std::min<std::size_t>(65536, size - offset), 'x');
                return sink.write(chunk.data(), chunk.size());
            });
        };
    };
    const std::size_t limit = 65536;
    Server.Routes().Get("/limit", chunked(limit));
    Server.Routes().Get("/over", chunked(limit + 1));
    Server.Routes().Get("/declared", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(std::string(65537, 'x'), "text/html");
    });
    const std::string address = Server.Start();

    const struct
    {
        const char* Name;
        const char* Path;
        std::int32_t Expected;
    } rows[] = {
        {"a page of the limit is stored", "/limit", static_cast<std::int32_t>(limit)},
        {"a byte more, sent in chunks", "/over", 0},
        {"a byte more, announced by its length", "/declared", 0},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        WriteFileBytes("dat/page.00", "yesterday's page");
        EXPECT_EQ(GetWebPage(address + row.Path, "dat/page.00", {}), row.Expected);
        if (row.Expected == 0)
            EXPECT_EQ(ReadFileBytes("dat/page.00"), "yesterday's page");
        else
            EXPECT_EQ(std::filesystem::file_size("dat/page.00"), limit);
        EXPECT_EQ(DatFiles(), std::vector<std::string>{"page.00"});
    }
}

// A service sending a byte now and then kept a transfer, and the program, alive for good:
// only a transfer without any byte for 35 s was given up.
TEST_F(GetWebPageTest, ACancelledTransferEndsAtOnceAndLeavesNothing)
{
    Server.Routes().Get("/trickle", [](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("text/html", [](std::size_t offset, httplib::DataSink& sink) {
            if (offset >= 100) // 20 s in all, unless the client goes away
            {
                sink.done();
                return true;
            }
            std::this_thread::sleep_for(200ms);
            return sink.write("x", 1);
        });
    });
    const std::string address = Server.Start();
    WriteFileBytes("dat/page.00", "yesterday's page");

    int chunks = 0;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(GetWebPage(address + "/trickle", "dat/page.00", [&] { ++chunks; }, [&] { return chunks > 3; }), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_EQ(ReadFileBytes("dat/page.00"), "yesterday's page");
    EXPECT_EQ(DatFiles(), std::vector<std::string>{"page.00"});

    // Asked to stop before it began, the transfer makes no request at all.
    const std::size_t requests = Server.Log().size();
    EXPECT_EQ(GetWebPage(address + "/trickle", "dat/page.00", {}, [] { return true; }), 0);
    EXPECT_EQ(Server.Log().size(), requests);
}

// Regression: whose service answered was checked once, at start; when the user's service
// stopped and another user's program took the port, its pages were read as the service's.
TEST_F(GetWebPageTest, OnceTheServiceHasAnOwnerAnotherUsersPeerIsNoAnswer)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to answer as another user";
    constexpr unsigned Nobody = 65534;
    const unsigned me = ::geteuid();
    const struct
    {
        const char* Name;
        std::optional<unsigned> Owner;
        unsigned Peer;
        std::int32_t Stored;
    } rows[] = {
        {"no owner set: an address the user gave", std::nullopt, Nobody, 2},
        {"the owner's", me, me, 2},
        {"another user's", me, Nobody, 0},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Name);
        TLoopbackServer server;
        server.Routes().Get("/page", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("ok", "text/html");
        });
        const std::string address = server.Start(row.Peer);
        SetServiceOwner(row.Owner);
        WriteFileBytes("dat/page.00", "yesterday's page");
        EXPECT_EQ(GetWebPage(address + "/page", "dat/page.00", {}), row.Stored);
        EXPECT_EQ(ReadFileBytes("dat/page.00"), row.Stored ? "ok" : "yesterday's page");
        EXPECT_EQ(server.Log().size(), row.Stored ? 1u : 0u) << "nothing is asked of a foreign peer";
        SetServiceOwner(std::nullopt);
    }
}

TEST(IsLoopbackUrl, LoopbackAddressesAndLocalhost)
{
    const struct
    {
        const char* Url;
        bool Loopback;
    } rows[] = {
        {"http://127.0.0.1:18650/MnStock", true},
        {"http://127.255.255.254/", true},
        {"http://127.1/", true},
        {"http://2130706433/", true},
        {"http://localhost:8080/", true},
        {"http://LOCALHOST./", true},
        {"http://quotes.localhost/", true},
        {"http://[::1]:18650/", true},
        {"http://[0:0:0:0:0:0:0:1]/", true},
        {"http://[::ffff:127.0.0.1]/", true},
        {"http://[::ffff:127.0.0.1]", true},
        {"http://[::ffff:7f00:1]:18650/", true}, // the same address, written in hexadecimal
        {"127.0.0.1:18650/MnStock", true}, // no scheme: the transfer guesses http
        {"http://128.0.0.1/", false},
        {"http://126.255.255.255/", false},
        {"http://127.0.0.1.example.com/", false},
        {"http://localhost.example/", false},
        {"http://[::2]/", false},
        {"http://[::ffff:10.0.0.1]/", false}, // mapped, but not onto 127.0.0.0/8
        {"http://[::ffff:128.0.0.1]/", false},
        {"http://[::127.0.0.1]/", false}, // the old IPv4-compatible form is not loopback
        {"http://quotes.example.com/", false},
        {"no address at all", false},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.Url);
        EXPECT_EQ(IsLoopbackUrl(row.Url), row.Loopback);
    }
}

// A proxy set for the desktop (http_proxy without no_proxy) caught every request to the
// bundled service on 127.0.0.1: it saw each stock looked up and could answer for it.
class ProxyTest : public GetWebPageTest
{
protected:
    void SetUp() override
    {
        GetWebPageTest::SetUp();
        Service.Routes().Get("/page", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("the service's page", "text/html");
        });
        Proxy.Routes().Get(".*", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("the proxy's page", "text/html");
        });
        ServiceAddress = Service.Start();
        ProxyAddress = Proxy.Start();
        // The loopback servers set no_proxy for every other test; these need it gone.
        for (const char* name : {"no_proxy", "NO_PROXY", "http_proxy", "https_proxy", "all_proxy", "ALL_PROXY"})
            Environment.Unset(name);
    }

    TLoopbackServer Service;
    TLoopbackServer Proxy;
    std::string ServiceAddress;
    std::string ProxyAddress;
    TEnvironment Environment;
};

TEST_F(ProxyTest, LoopbackNeverGoesThroughAProxy)
{
    const std::string port = ServiceAddress.substr(ServiceAddress.rfind(':'));
    for (const char* variable : {"http_proxy", "all_proxy", "ALL_PROXY"})
        for (const char* host : {"127.0.0.1", "localhost"})
        {
            SCOPED_TRACE(std::string(variable) + " with " + host);
            TEnvironment proxy;
            proxy.Set(variable, ProxyAddress);
            EXPECT_EQ(GetWebPage(std::string("http://") + host + port + "/page", "dat/page.00", {}), 18);
            EXPECT_EQ(ReadFileBytes("dat/page.00"), "the service's page");
        }
    EXPECT_TRUE(Proxy.Log().empty());
}

TEST_F(ProxyTest, OtherHostsTakeTheEnvironmentsProxy)
{
    // Through an HTTP proxy libcurl resolves no name itself: the request stays on loopback.
    const std::string url = "http://quotes.orvanta.invalid/MnStock?qt=7203.t";
    ASSERT_FALSE(IsLoopbackUrl(url));
    Environment.Set("http_proxy", ProxyAddress);
    EXPECT_EQ(GetWebPage(url, "dat/page.00", {}), 16);
    EXPECT_EQ(ReadFileBytes("dat/page.00"), "the proxy's page");
    ASSERT_EQ(Proxy.Log().size(), 1u);
    EXPECT_EQ(Proxy.Log()[0].Target, url);
    EXPECT_TRUE(Service.Log().empty());
}

TEST(FinanceServiceAddress, IsTheLoopbackServiceUnlessSet)
{
    EXPECT_EQ(FinanceServiceAddress(), LoopbackServiceUrl(DefaultServicePort));
}

} // namespace
