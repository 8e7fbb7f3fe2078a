#pragma once

#include "data/web_page.h"
#include "common/service_contract.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A fresh working folder with dat/ for one test; the program's cache names are relative.
class TWorkFolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* base = std::getenv("ORVANTA_TEST_TMP");
        const std::filesystem::path root = base ? base : std::filesystem::temp_directory_path();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        Folder = root / (std::string("work_") + info->test_suite_name() + "_" + info->name() + "_" +
                         std::to_string(::getpid()));
        std::filesystem::remove_all(Folder);
        std::filesystem::create_directories(Folder / "dat");
        Previous = std::filesystem::current_path();
        std::filesystem::current_path(Folder);
    }

    void TearDown() override
    {
        std::filesystem::current_path(Previous);
        std::error_code ignored;
        std::filesystem::remove_all(Folder, ignored);
    }

    std::filesystem::path Folder;
    std::filesystem::path Previous;
};

//! The names of the files in dat/, sorted.
inline std::vector<std::string> DatFiles()
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("dat"))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline std::string ReadFileBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

//! Sets the file's modification time to this time of day yesterday.
inline void MakeYesterdays(const std::filesystem::path& file)
{
    std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) -
                                               std::chrono::hours(24));
}

//! A port on 127.0.0.1 that nothing listens on: connecting is refused at once.
//! The socket stays bound (never listening) for the rest of the process, so a server of a
//! test running in parallel cannot take the port and leave the client waiting for a reply.
inline int ClosedLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// An HTTP server on 127.0.0.1 for one test, with a log of the requests it saw.
class TLoopbackServer
{
public:
    struct TRequest
    {
        std::string Target; // path and query
        httplib::Headers Headers;
        int RemotePort = 0; // the client's end of the connection
    };

    TLoopbackServer()
    {
        // Tests talk to 127.0.0.1 only, also where the environment names a proxy.
        ::setenv("no_proxy", "127.0.0.1,localhost", 1);
        ::setenv("NO_PROXY", "127.0.0.1,localhost", 1);
        // The program keeps its connection between pages; answers are not held back by
        // Nagle's rule on a connection in use.
        Server.set_tcp_nodelay(true);
        Server.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
            // The window asks the service's status before its commands: that is not a page.
            if (request.path == StatusRoute)
                return httplib::Server::HandlerResponse::Unhandled;
            const std::lock_guard lock(Mutex);
            Requests.push_back({request.target, request.headers, request.remote_port});
            return httplib::Server::HandlerResponse::Unhandled;
        });
    }

    ~TLoopbackServer() { Stop(); }

    //! Stops listening and returns once every handler has returned. A second call does nothing.
    void Stop()
    {
        CloseKeptConnection(); // else stopping waits for the idle connection to time out
        Server.stop();
        if (Thread.joinable())
            Thread.join();
    }

    // Stops the server on the way out of a scope, after `release` let go of whatever its
    // handlers wait on (a gate, a flag).
    class [[nodiscard]] TStopFirst
    {
    public:
        TStopFirst(TLoopbackServer& server, std::function<void()> release)
            : Server(server), Release(std::move(release))
        {
        }
        ~TStopFirst()
        {
            if (Release)
                Release();
            Server.Stop();
        }
        TStopFirst(const TStopFirst&) = delete;
        TStopFirst& operator=(const TStopFirst&) = delete;

    private:
        TLoopbackServer& Server;
        std::function<void()> Release;
    };

    //! Declared after the objects a test's handlers use, stops the server before they go: a
    //! handler still running then would wait on a gate or count into a variable that is gone.
    TStopFirst StopBeforeLeaving(std::function<void()> release = {}) { return {*this, std::move(release)}; }

    httplib::Server& Routes() { return Server; }

    //! Starts listening; returns the address, "http://127.0.0.1:port". With `owner`, the
    //! listening socket and every connection it accepts belong to that user, as another user's
    //! program would (the thread's file-system uid names them; needs root).
    std::string Start(std::optional<unsigned> owner = std::nullopt)
    {
        Thread = std::thread([this, owner] {
            if (owner)
                ::setfsuid(*owner);
            Port = Server.bind_to_any_port("127.0.0.1");
            Server.listen_after_bind();
        });
        // stop() before the accept loop runs would be missed and the join would hang.
        for (int i = 0; i < 5000 && !Server.is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return "http://127.0.0.1:" + std::to_string(Port.load());
    }

    std::vector<TRequest> Log() const
    {
        const std::lock_guard lock(Mutex);
        return Requests;
    }

private:
    httplib::Server Server;
    std::thread Thread;
    std::atomic<int> Port{0}; // set by the listening thread
    mutable std::mutex Mutex;
    std::vector<TRequest> Requests;
};

// A working folder and a loopback server that the program's finance-service address points
// at for the length of one test; a fixture registers its routes in AddRoutes.
class TLoopbackServiceTest : public TWorkFolderTest
{
protected:
    virtual void AddRoutes(httplib::Server& routes) = 0;

    void SetUp() override
    {
        TWorkFolderTest::SetUp();
        AddRoutes(Server.Routes());
        SetFinanceServiceAddress(Server.Start());
    }

    void TearDown() override
    {
        // The routes may use members of the fixture, which go before Server does.
        Server.Stop();
        SetFinanceServiceAddress(LoopbackServiceUrl(DefaultServicePort));
        TWorkFolderTest::TearDown();
    }

    TLoopbackServer Server;
};
