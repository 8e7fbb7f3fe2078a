#pragma once

#include "app/startup/command_line.h"
#include "app/startup/startup_settings.h"
#include "app/startup/startup_status.h"

#include <QString>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class TBundledService;

//! What the start-up rules read from the outside world, gathered in one place so that tests
//! can give their own.
struct TStartupEnvironment
{
    std::filesystem::path StartFolder;   // the current folder at start
    std::filesystem::path PerUserFolder; // $XDG_DATA_HOME/orvanta
    std::filesystem::path SampleFolder;  // the installed sample market
    std::optional<std::string> ServiceUrlVariable;
    QString ProgramFolder; // searched for orvanta-service before PATH
    int DefaultPort = DefaultServicePort;
    std::chrono::milliseconds ServiceWait{5000};

    static TStartupEnvironment FromProcess();
};

//! The program's start: enters the working folder, sets the service address and, when no
//! address was given and the user's own service does not answer on the default port, starts
//! the bundled service (on another free port when the default one is taken), which it stops
//! when destroyed. Then learns the service's status and brings the working folder in step
//! with its data (TakeServiceData).
class TStartup
{
public:
    //! `warn` gets what the user should know that does not stop the start. Throws TStartupError
    //! for what does; a bad address before any folder is made.
    TStartup(const TCommandLine& commandLine, const TStartupEnvironment& environment,
             const std::function<void(const QString&)>& warn);
    ~TStartup();
    TStartup(const TStartup&) = delete;
    TStartup& operator=(const TStartup&) = delete;

    const std::filesystem::path& WorkFolder() const { return WorkFolder_; }
    //! What the service said of itself at start: sample data or not, its data folder and version.
    const TServiceStatus& ServiceStatus() const { return Status_; }
    //! The process id of the service this start started and will stop; 0 when none.
    qint64 StartedServiceId() const;

private:
    void StartService(const TStartupEnvironment& environment, const std::function<void(const QString&)>& warn);

    std::filesystem::path WorkFolder_;
    std::unique_ptr<TBundledService> Service_;
    TServiceStatus Status_;
};
