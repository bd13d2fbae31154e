// Runs build/sim/kelosim as a child process for the length of a test: starts
// it with the given options, waits for its "ready <path>" line and ends it
// with SIGTERM.
#pragma once

#include <string>
#include <vector>
#include <sys/types.h>

class LocalSimProcess {
public:
    LocalSimProcess() = default;
    ~LocalSimProcess() { Stop(); }
    LocalSimProcess(const LocalSimProcess&) = delete;
    LocalSimProcess& operator=(const LocalSimProcess&) = delete;

    // False with a reason in Error() when kelosim did not get ready in time.
    bool Start(const std::vector<std::string>& args, int timeoutMs = 5000);
    void Stop();
    const std::string& PortPath() const { return port_; }
    const std::string& Error() const { return error_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string port_;
    std::string error_;
};
