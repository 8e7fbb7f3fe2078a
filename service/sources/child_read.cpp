#include "sources/child_read.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVANTA_CHILD_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ORVANTA_CHILD_SANITIZED 1
#endif
#ifdef ORVANTA_CHILD_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

// The answer: 'C', the row count, and per row its cell count and per cell its length and
// bytes; or 'E', a length and the refusal's text. Counts and lengths are host-order uint32.
constexpr char CellsKind = 'C';
constexpr char RefusalKind = 'E';
constexpr std::size_t MaxRefusalBytes = 4096;

// The child's exit codes other than 0, which follows a whole answer.
constexpr int ExitThrew = 70;
constexpr int ExitUnsent = 71;

void AppendCount(std::string& answer, std::size_t count)
{
    if (count > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("a sheet beyond the answer's counts");
    const auto value = static_cast<std::uint32_t>(count);
    answer.append(reinterpret_cast<const char*>(&value), sizeof value);
}

[[noreturn]] void Broken(const std::string& why)
{
    throw TChildReadFailure("読み取りの結果が壊れています (" + why + ")");
}

//! Reads an answer front to back; every count is checked against the bytes left before use.
class TAnswerReader
{
public:
    explicit TAnswerReader(std::string_view answer) : Rest(answer) {}

    std::string_view Take(std::size_t size)
    {
        if (size > Rest.size())
            Broken("途中で切れています");
        const std::string_view taken = Rest.substr(0, size);
        Rest.remove_prefix(size);
        return taken;
    }

    std::size_t Count()
    {
        std::uint32_t value = 0;
        std::memcpy(&value, Take(sizeof value).data(), sizeof value);
        return value;
    }

    //! A count of items that take at least a count's bytes each: more than the bytes left is no answer.
    std::size_t ItemCount()
    {
        const std::size_t count = Count();
        if (count > Rest.size() / sizeof(std::uint32_t))
            Broken("数が合いません");
        return count;
    }

    bool AtEnd() const { return Rest.empty(); }

private:
    std::string_view Rest;
};

//! The address space this process holds now, in bytes; the child's limit is counted on top of
//! it, since a sanitized build reserves terabytes of shadow memory before main().
std::optional<std::size_t> AddressSpaceInUse()
{
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    if (!(statm >> pages))
        return std::nullopt;
    return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

void LowerLimit(int resource, rlim_t soft, rlim_t hard)
{
    rlimit current{};
    if (::getrlimit(resource, &current) != 0)
        return;
    current.rlim_max = current.rlim_max == RLIM_INFINITY ? hard : std::min(current.rlim_max, hard);
    current.rlim_cur = std::min(soft, current.rlim_max);
    ::setrlimit(resource, &current);
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty())
    {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

//! The child's whole life: never returns, so nothing of it unwinds into the caller's stack.
[[noreturn]] void RunChild(int out, pid_t parent, const std::function<TSheetCells()>& read,
                           const TChildReadLimits& limits, std::optional<std::size_t> addressSpace)
{
    // A child left behind by a parent that was killed would run on until its processor time.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(ExitUnsent);
    // A fault ends the child plainly: the handlers it inherited (a fuzzer's, which would record the
    // input as its own crash) belong to the parent.
    for (const int fault : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGXCPU, SIGPIPE})
        std::signal(fault, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
#ifdef ORVANTA_CHILD_SANITIZED
    __sanitizer_set_death_callback(nullptr);
#endif
    LowerLimit(RLIMIT_CORE, 0, 0);
    const auto cpu = static_cast<rlim_t>(limits.CpuSeconds);
    LowerLimit(RLIMIT_CPU, cpu, cpu + 1);
    if (addressSpace)
        LowerLimit(RLIMIT_AS, *addressSpace + limits.MemoryBytes, *addressSpace + limits.MemoryBytes);

    std::string answer;
    try
    {
        try
        {
            answer = ChildAnswerOf(read());
        }
        catch (const TChildRefusal& refused)
        {
            answer = ChildAnswerOf({}, refused.what());
        }
    }
    catch (...)
    {
        ::_exit(ExitThrew);
    }
    ::_exit(WriteAll(out, answer) ? 0 : ExitUnsent);
}

std::string SecondsText(std::chrono::milliseconds duration)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(duration.count()) / 1000.0);
    return text;
}

enum class TPipeEnd
{
    Whole,
    Late,
    TooLong,
    Failed,
};

//! Reads the child's answer until it closes the pipe, the deadline passes or the answer grows
//! past what any answer within the limits can be.
TPipeEnd ReadAnswer(int in, std::chrono::steady_clock::time_point deadline, std::size_t maxBytes, std::string& answer)
{
    std::array<char, 64 * 1024> piece;
    for (;;)
    {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return TPipeEnd::Late;
        pollfd waiting{in, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(std::min<long long>(left, 60'000)));
        if (ready < 0 && errno != EINTR)
            return TPipeEnd::Failed;
        if (ready <= 0)
            continue;
        const ssize_t got = ::read(in, piece.data(), piece.size());
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got < 0)
            return TPipeEnd::Failed;
        if (got == 0)
            return TPipeEnd::Whole;
        if (static_cast<std::size_t>(got) > maxBytes - answer.size())
            return TPipeEnd::TooLong;
        answer.append(piece.data(), static_cast<std::size_t>(got));
    }
}

//! The child's wait status, or nothing when it cannot be had (SIGCHLD ignored reaps it unseen).
std::optional<int> ReapChild(pid_t child)
{
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
    {
        if (errno != EINTR)
            return std::nullopt;
    }
    return status;
}

} // namespace

std::string ChildAnswerOf(const TSheetCells& cells, std::string_view refusal)
{
    std::string answer;
    if (!refusal.empty())
    {
        refusal = refusal.substr(0, MaxRefusalBytes);
        answer += RefusalKind;
        AppendCount(answer, refusal.size());
        answer += refusal;
        return answer;
    }
    answer += CellsKind;
    AppendCount(answer, cells.size());
    for (const std::vector<std::string>& row : cells)
    {
        AppendCount(answer, row.size());
        for (const std::string& cell : row)
        {
            AppendCount(answer, cell.size());
            answer += cell;
        }
    }
    return answer;
}

TSheetCells CellsOfChildAnswer(std::string_view answer, const TChildReadLimits& limits)
{
    TAnswerReader reader(answer);
    const std::string_view kind = reader.Take(1);
    if (kind[0] == RefusalKind)
    {
        const std::size_t size = reader.Count();
        if (size > MaxRefusalBytes)
            Broken("長すぎます");
        const std::string text(reader.Take(size));
        if (!reader.AtEnd())
            Broken("余分なバイトがあります");
        throw TChildRefusal(text);
    }
    if (kind[0] != CellsKind)
        Broken("答えの種類が不明です");
    // Rows count as cells, as the child's grid counts them.
    std::size_t cells = 0;
    std::size_t bytes = 0;
    const std::size_t rows = reader.ItemCount();
    if (rows > limits.MaxCells)
        Broken("セルが多すぎます");
    TSheetCells sheet(rows);
    for (std::vector<std::string>& row : sheet)
    {
        const std::size_t width = reader.ItemCount();
        cells += 1 + width;
        if (cells > limits.MaxCells)
            Broken("セルが多すぎます");
        row.resize(width);
        for (std::string& cell : row)
        {
            const std::size_t size = reader.Count();
            if (size > limits.MaxCellBytes - bytes)
                Broken("文字が多すぎます");
            bytes += size;
            cell = reader.Take(size);
        }
    }
    if (!reader.AtEnd())
        Broken("余分なバイトがあります");
    return sheet;
}

TSheetCells CellsReadInChild(const std::function<TSheetCells()>& read, const TChildReadLimits& limits)
{
    // Nothing the child might send within the limits is longer; a longer answer is not awaited.
    const std::size_t maxAnswer = std::max(1 + sizeof(std::uint32_t) * (1 + limits.MaxCells) + limits.MaxCellBytes,
                                           1 + sizeof(std::uint32_t) + MaxRefusalBytes);
    const std::optional<std::size_t> addressSpace = AddressSpaceInUse();
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        throw TChildReadFailure(std::string("読み取りを始められませんでした (") + std::strerror(errno) + ")");
    const auto deadline = std::chrono::steady_clock::now() + limits.Deadline;
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0)
    {
        ::close(pipeEnds[0]);
        RunChild(pipeEnds[1], parent, read, limits, addressSpace);
    }
    const int forkError = errno;
    ::close(pipeEnds[1]);
    if (child < 0)
    {
        ::close(pipeEnds[0]);
        throw TChildReadFailure(std::string("読み取りを始められませんでした (") + std::strerror(forkError) + ")");
    }

    std::string answer;
    TPipeEnd end = TPipeEnd::Failed;
    try
    {
        end = ReadAnswer(pipeEnds[0], deadline, maxAnswer, answer);
    }
    catch (...)
    {
        // Out of memory for the answer: the child is still ended and reaped.
    }
    ::close(pipeEnds[0]);
    // The child closes its end only by exiting, so after a whole answer the wait is short.
    if (end != TPipeEnd::Whole)
        ::kill(child, SIGKILL);
    const std::optional<int> ended = ReapChild(child);

    if (end == TPipeEnd::Late)
        throw TChildReadFailure("読み取りが " + SecondsText(limits.Deadline) + " 秒で終わりませんでした");
    if (end == TPipeEnd::TooLong)
        Broken("長すぎます");
    if (end == TPipeEnd::Failed)
        throw TChildReadFailure("読み取りの結果を受け取れませんでした");
    if (!ended)
        throw TChildReadFailure("読み取りの終わりを確かめられませんでした");
    const int status = *ended;
    if (WIFSIGNALED(status))
        throw TChildReadFailure("読み取りがシグナル " + std::to_string(WTERMSIG(status)) + " で異常終了しました");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw TChildReadFailure("読み取りが終了コード " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
                                " で異常終了しました");
    return CellsOfChildAnswer(answer, limits);
}
