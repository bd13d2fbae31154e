#include "CliRunner.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

std::string CliPath()
{
    return std::string(KELO_BINARY_DIR) + "/cli/kelobsl-cli";
}

CliRun RunCli(const std::vector<std::string>& args, const CliRunOptions& options)
{
    CliRun run;
    // Everything the child needs is made before the fork, and the pipe is
    // close-on-exec: tests may run several updates from threads at once.
    std::vector<std::string> copy = options.wrapper;
    copy.push_back(CliPath());
    copy.insert(copy.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    pid_t pid = -1;
    if (options.terminal) {
        winsize size{};
        size.ws_row = 40;
        size.ws_col = 120;
        pid = ::forkpty(&pipeFds[0], nullptr, nullptr, &size);
        if (pid == 0) {
            ::execv(copy[0].c_str(), argv.data());
            ::_exit(127);
        }
        if (pid < 0)
            return run;
        ::fcntl(pipeFds[0], F_SETFD, FD_CLOEXEC);
    } else {
        if (::pipe2(pipeFds, O_CLOEXEC) != 0)
            return run;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(pipeFds[1], STDOUT_FILENO);
            ::dup2(pipeFds[1], STDERR_FILENO);
            int devnull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            ::dup2(devnull, STDIN_FILENO);  // no terminal: questions take the safe answer
            ::execv(copy[0].c_str(), argv.data());
            ::_exit(127);
        }
        ::close(pipeFds[1]);
    }

    const int64_t start = NowMs();
    int64_t triggerAt = -1;
    std::size_t nextInterrupt = 0;
    bool finished = false;
    bool answered = !options.terminal || options.askText.empty();
    for (;;) {
        pollfd pfd{pipeFds[0], POLLIN, 0};
        if (::poll(&pfd, 1, 20) > 0) {
            char buffer[4096];
            ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
            if (n > 0)
                run.out.append(buffer, static_cast<std::size_t>(n));
            else
                finished = true;  // a pseudo-terminal ends with EIO once the program is gone
        }
        if (!answered && run.out.find(options.askText) != std::string::npos) {
            const std::string typed = options.answer + "\r";
            answered = ::write(pipeFds[0], typed.data(), typed.size()) == static_cast<ssize_t>(typed.size());
        }
        if (triggerAt < 0 && !options.interruptAfterText.empty() &&
            run.out.find(options.interruptAfterText) != std::string::npos)
            triggerAt = NowMs();
        if (triggerAt >= 0 && nextInterrupt < options.interruptDelaysMs.size() &&
            NowMs() - triggerAt >= options.interruptDelaysMs[nextInterrupt]) {
            ::kill(pid, SIGINT);
            ++nextInterrupt;
        }
        if (finished)
            break;
        if (NowMs() - start > options.timeoutMs) {
            ::kill(pid, SIGKILL);
            run.out += "\n[killed: timed out]\n";
            break;
        }
    }
    ::close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    run.wallMs = static_cast<int>(NowMs() - start);
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}
