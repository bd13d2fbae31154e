#include "LocalSimProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

bool LocalSimProcess::Start(const std::vector<std::string>& args, int timeoutMs)
{
    Stop();
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        error_ = "pipe failed";
        return false;
    }
    std::string program = std::string(KELO_BINARY_DIR) + "/sim/kelosim";
    std::vector<char*> argv;
    argv.push_back(program.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    out_ = pipeFds[0];
    if (pid_ < 0) {
        error_ = "fork failed";
        return false;
    }

    std::string line;
    int waited = 0;
    while (waited < timeoutMs) {
        pollfd p{out_, POLLIN, 0};
        int n = ::poll(&p, 1, 50);
        waited += 50;
        if (n <= 0)
            continue;
        char c;
        ssize_t got = ::read(out_, &c, 1);
        if (got <= 0) {
            error_ = "kelosim ended before it was ready";
            return false;
        }
        if (c != '\n') {
            line += c;
            continue;
        }
        if (line.rfind("ready ", 0) == 0) {
            port_ = line.substr(6);
            return true;
        }
        line.clear();
    }
    error_ = "kelosim did not print its ready line";
    return false;
}

void LocalSimProcess::Stop()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            ::usleep(20000);
        }
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
    }
    pid_ = -1;
    if (out_ >= 0)
        ::close(out_);
    out_ = -1;
    port_.clear();
}
