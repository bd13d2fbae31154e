// A log in a temporary file that tests can search.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

#include "KeloLog.h"

class TempLog {
public:
    explicit TempLog(const char* name, uint32_t level = 30)
    {
        path_ = std::string(::testing::TempDir()) + name + std::to_string(::getpid()) + ".log";
        log_ = std::make_unique<KeloLog>(path_.c_str(), level, true);
    }
    ~TempLog() { std::remove(path_.c_str()); }
    KeloLog* get() { return log_.get(); }
    std::string Text() const
    {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool Has(const std::string& text) const { return Text().find(text) != std::string::npos; }

private:
    std::string path_;
    std::unique_ptr<KeloLog> log_;
};

inline std::string TempPath(const char* name)
{
    return std::string(::testing::TempDir()) + name + std::to_string(::getpid()) + ".txt";
}
