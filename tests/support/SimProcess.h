// Runs kelosim for a test: start it with arguments, read the pseudo-terminal
// path from its "ready <path>" line, stop it with SIGTERM (it then writes its
// --state and --flash-dump files) and wait for it.
//
//   SimProcess sim;
//   ASSERT_TRUE(sim.Start({"--type", "R7F", "--version", "3.51"}));
//   host.BSLConnect(sim.Path().c_str(), true, 3); ...
//   EXPECT_EQ(sim.Stop(), 0);
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

class SimProcess {
public:
#ifdef KELO_BINARY_DIR
    static std::string DefaultBinary() { return std::string(KELO_BINARY_DIR) + "/sim/kelosim"; }
    SimProcess() : SimProcess(DefaultBinary()) {}
#endif
    explicit SimProcess(std::string binary) : binary_(std::move(binary)) {}
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts the simulator and waits up to timeoutMs for its ready line.
    bool Start(const std::vector<std::string>& args, std::string* error = nullptr,
               int timeoutMs = 5000);
    const std::string& Path() const { return path_; }
    bool Running() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    // SIGTERM and wait (SIGKILL after timeoutMs). Returns the exit status,
    // 128 + signal when it was killed, -1 when nothing was running.
    int Stop(int timeoutMs = 5000);
    // Waits for an exit without asking for one (-1 on time-out).
    int Wait(int timeoutMs);

private:
    std::string binary_;
    std::string path_;
    pid_t pid_ = -1;
};
