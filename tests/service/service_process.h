#pragma once

#include "http/finance_service.h"
#include "loopback_port.h"
#include "common/service_contract.h"

#include <httplib.h>

#include <chrono>
#include <csignal>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

//! orvanta-service run as a user runs it, on a free port of 127.0.0.1, stopped with SIGTERM.
class TServingProcess
{
public:
    explicit TServingProcess(std::vector<std::string> args) : Port(FreeLoopbackPort())
    {
        args.insert(args.begin(), {ORVANTA_SERVICE_BINARY, "--port", std::to_string(Port)});
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&Pid, ORVANTA_SERVICE_BINARY, nullptr, nullptr, argv.data(), environ) != 0)
            Pid = -1;
        // Bounded: five seconds for the service to answer.
        for (int i = 0; i < 250 && Pid > 0 && !Answers(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    ~TServingProcess() { Stop(); }
    TServingProcess(const TServingProcess&) = delete;
    TServingProcess& operator=(const TServingProcess&) = delete;

    //! The exit status after SIGTERM, or -1.
    int Stop()
    {
        if (Pid <= 0)
            return -1;
        ::kill(Pid, SIGTERM);
        int status = 0;
        ::waitpid(Pid, &status, 0);
        Pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    //! The body of a GET, or "" with status 0 when nothing answered.
    std::pair<int, std::string> Get(const std::string& path) const
    {
        httplib::Client client(ServiceHost, Port);
        client.set_connection_timeout(2, 0);
        client.set_read_timeout(10, 0);
        const httplib::Result result = client.Get(path);
        if (!result)
            return {0, ""};
        return {result->status, result->body};
    }

    bool Answers() const { return Get(StatusRoute).first == 200; }

    int Port;

private:
    pid_t Pid = -1;
};
