#include "SimProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

SimProcess::~SimProcess()
{
    Stop();
}

bool SimProcess::Start(const std::vector<std::string>& args, std::string* error, int timeoutMs)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        Stop(1000);
        return false;
    };
    if (pid_ > 0)
        return fail("already running");
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return fail("pipe failed");
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(binary_.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::execv(binary_.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    if (pid_ < 0) {
        ::close(out[0]);
        return fail("fork failed");
    }

    std::string text;
    const int64_t deadline = NowMs() + timeoutMs;
    while (text.find('\n') == std::string::npos) {
        int left = static_cast<int>(deadline - NowMs());
        if (left <= 0)
            break;
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, left) <= 0)
            continue;
        char buffer[256];
        ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    std::size_t end = text.find('\n');
    if (end == std::string::npos || text.rfind("ready ", 0) != 0)
        return fail("no ready line from " + binary_ + ": '" + text + "'");
    path_ = text.substr(6, end - 6);
    return true;
}

int SimProcess::Wait(int timeoutMs)
{
    if (pid_ <= 0)
        return -1;
    const int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno == ECHILD)) {
            pid_ = -1;
            if (r < 0)
                return -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (NowMs() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int SimProcess::Stop(int timeoutMs)
{
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, SIGTERM);
    int status = Wait(timeoutMs);
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        status = Wait(timeoutMs);
    }
    return status;
}
