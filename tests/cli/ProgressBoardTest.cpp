// Several ports on one terminal: an open question keeps the screen to itself,
// and Ctrl+C ends its wait whichever thread the signal reaches.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <streambuf>
#include <string>
#include <thread>
#include <unistd.h>

#include "ProgressBoard.h"
#include "TerminalLine.h"

namespace {

using namespace std::chrono_literals;

// What the board writes to std::cout, from whichever thread.
class CapturedOutput : public std::streambuf {
public:
    CapturedOutput() : old_(std::cout.rdbuf(this)) {}
    ~CapturedOutput() override { std::cout.rdbuf(old_); }

    std::string Text()
    {
        std::lock_guard lock(mutex_);
        return text_;
    }
    bool WaitFor(const std::string& part)
    {
        std::unique_lock lock(mutex_);
        return shown_.wait_for(lock, 10s, [&] { return text_.find(part) != std::string::npos; });
    }

protected:
    int overflow(int c) override
    {
        if (c != traits_type::eof()) {
            const char one = static_cast<char>(c);
            xsputn(&one, 1);
        }
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        std::lock_guard lock(mutex_);
        text_.append(s, static_cast<std::size_t>(n));
        shown_.notify_all();
        return n;
    }

private:
    std::streambuf* old_;
    std::mutex mutex_;
    std::condition_variable shown_;
    std::string text_;
};

// Standard input from a pipe that the test types the answers into.
class TypedInput {
public:
    TypedInput()
    {
        EXPECT_EQ(::pipe(pipe_), 0);
        saved_ = ::dup(STDIN_FILENO);
        ::dup2(pipe_[0], STDIN_FILENO);
    }
    ~TypedInput()
    {
        ::dup2(saved_, STDIN_FILENO);
        ::close(saved_);
        ::close(pipe_[0]);
        ::close(pipe_[1]);
    }
    void Type(const std::string& text) { EXPECT_EQ(::write(pipe_[1], text.data(), text.size()), static_cast<ssize_t>(text.size())); }

private:
    int pipe_[2] = {-1, -1};
    int saved_ = -1;
};

void WakeOnSignal(int)
{
    WakeTerminalReader();
}

}  // namespace

TEST(ProgressBoardTest, OtherPortsWaitWhileAQuestionIsOpen)
{
    TypedInput input;
    CapturedOutput out;
    ProgressBoard board({"/dev/ttyUSB0", "/dev/ttyUSB1"}, {"ttyUSB0", "ttyUSB1"}, ProgressBoard::Mode::Plain);
    std::string answer;
    bool typed = false;
    std::thread asker([&] { typed = board.Ask("On /dev/ttyUSB0: OK or Cancel? [o/C] ", &answer); });
    ASSERT_TRUE(out.WaitFor("[o/C] "));

    board.SetStep(1, "Erasing firmware memory...");
    board.Print("\n== Firmware Error (/dev/ttyUSB1) ==\nThe erase failed.\n\n");
    board.SetDone(1, "erase failed");
    board.Emit("{\"event\":\"status\"}");
    EXPECT_EQ(out.Text(), "On /dev/ttyUSB0: OK or Cancel? [o/C] ") << "another port printed over the question";

    input.Type("o\n");
    asker.join();
    EXPECT_TRUE(typed);
    EXPECT_EQ(answer, "o");
    EXPECT_EQ(out.Text(), "On /dev/ttyUSB0: OK or Cancel? [o/C] "
                          "/dev/ttyUSB1: Erasing firmware memory...\n"
                          "\n== Firmware Error (/dev/ttyUSB1) ==\nThe erase failed.\n\n"
                          "/dev/ttyUSB1: erase failed\n"
                          "{\"event\":\"status\"}\n")
        << "what was held comes after the answer, in order";

    board.SetStep(0, "Uploading new firmware code...");
    EXPECT_NE(out.Text().find("ttyUSB0: Uploading new firmware code...\n"), std::string::npos)
        << "with the question answered, lines print at once";
}

// The signal lands on a thread that is not the one reading the terminal, as
// it may on POSIX; a press from before the question does not answer it.
TEST(ProgressBoardTest, CtrlCOnAnyThreadEndsTheQuestionsWait)
{
    PrepareTerminalWake();
    struct sigaction action {};
    struct sigaction old {};
    action.sa_handler = WakeOnSignal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &old), 0);

    TypedInput input;
    CapturedOutput out;
    ProgressBoard board({"/dev/ttyUSB0", "/dev/ttyUSB1"}, {"ttyUSB0", "ttyUSB1"}, ProgressBoard::Mode::Plain);
    ::pthread_kill(::pthread_self(), SIGUSR1);  // pressed before the question
    std::string answer;
    bool typed = true;
    std::atomic<bool> done{false};
    std::thread asker([&] {
        typed = board.Ask("OK or Cancel? [o/C] ", &answer);
        done = true;
    });
    ASSERT_TRUE(out.WaitFor("[o/C] "));
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(done) << "a press from before the question answered it";
    board.Print("held\n");

    ::pthread_kill(::pthread_self(), SIGUSR1);  // this thread is not the one reading
    const auto start = std::chrono::steady_clock::now();
    while (!done && std::chrono::steady_clock::now() - start < 5s)
        std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(done) << "Ctrl+C did not end the wait";
    if (!done)
        input.Type("\n");
    asker.join();
    EXPECT_FALSE(typed);
    EXPECT_NE(out.Text().find("Ctrl+C: answered Cancel.\nheld\n"), std::string::npos) << out.Text();
    ::sigaction(SIGUSR1, &old, nullptr);
}
