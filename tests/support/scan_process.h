#pragma once
// quillon-scan run as a user runs it: a process in a working directory, for
// the end-to-end tests (their program defines QUILLON_SCAN_PATH).

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace quillon::testing {

struct ScanRun {
    int exitCode = -1;  // -1 when the process did not exit by itself
    std::string out;    // what it wrote on standard output
    std::string err;    // what it wrote on standard error
};

// Runs quillon-scan with `args` in `dir` and waits for it. Its output goes
// through two files in `dir`, removed afterwards so that they do not mix with
// the files the scan leaves there.
inline ScanRun RunScan(const TempDir& dir, const std::string& args = "",
                       const std::string& program = QUILLON_SCAN_PATH) {
    const std::string command =
        "cd '" + dir.Path() + "' && '" + program + "' " + args + " >stdout.log 2>stderr.log";
    const int status = std::system(command.c_str());
    ScanRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = dir.Read("stdout.log");
    run.err = dir.Read("stderr.log");
    std::remove(dir.File("stdout.log").c_str());
    std::remove(dir.File("stderr.log").c_str());
    return run;
}

// quillon-scan started in `dir` and left running: its output goes to files
// of a directory of its own.
class BackgroundScan {
  public:
    BackgroundScan(const TempDir& dir, const std::vector<std::string>& args) {
        pid_ = ::fork();
        if (pid_ == 0) {
            if (::chdir(dir.Path().c_str()) != 0) ::_exit(126);
            const int out = ::open(logs_.File("out").c_str(), O_WRONLY | O_CREAT, 0600);
            const int err = ::open(logs_.File("err").c_str(), O_WRONLY | O_CREAT, 0600);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>(QUILLON_SCAN_PATH)};
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(QUILLON_SCAN_PATH, argv.data());
            ::_exit(127);
        }
    }
    ~BackgroundScan() { Kill(); }
    BackgroundScan(const BackgroundScan&) = delete;
    BackgroundScan& operator=(const BackgroundScan&) = delete;

    pid_t Pid() const { return pid_; }
    std::string Err() const { return logs_.Read("err"); }

    // The exit status (-1 when killed), once the process has ended.
    ScanRun Wait() {
        ScanRun run;
        if (pid_ > 0) {
            int status = 0;
            ::waitpid(pid_, &status, 0);
            run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            pid_ = 0;
        }
        run.out = logs_.Read("out");
        run.err = logs_.Read("err");
        return run;
    }
    void Kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        Wait();
    }

  private:
    TempDir logs_;
    pid_t pid_ = -1;
};

// Waits up to `seconds` until `holds` is true; whether it became so.
template <typename Condition>
bool WaitUntil(Condition holds, int seconds = 20) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!holds()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Report line 14 carries the time of writing; it is blanked out so that the
// results of two scans can be compared.
inline std::string WithoutTimes(const std::string& results) {
    static const std::regex time(R"(\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d\d:\d\d [AP]M\r\n)");
    return std::regex_replace(results, time, "<time>\r\n");
}

}  // namespace quillon::testing
