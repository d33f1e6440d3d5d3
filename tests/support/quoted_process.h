#pragma once
// quillon-quoted as a child process listening on a free loopback port, for
// tests that talk to the demo quote service.

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace quillon::testing {

// The service as a child process listening on a free loopback port; with a
// `fileLimit` the child may hold that many descriptors at most.
class Quoted {
  public:
    explicit Quoted(std::vector<std::string> args, rlim_t fileLimit = 0) {
        args.insert(args.begin(), {QUILLON_QUOTED_PATH, "--listen", "127.0.0.1:0"});
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            rlimit limit{};
            if (fileLimit > 0 && getrlimit(RLIMIT_NOFILE, &limit) == 0) {
                limit.rlim_cur = fileLimit;
                setrlimit(RLIMIT_NOFILE, &limit);
            }
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv;
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        output_ = out[0];
        port_ = ReadPort();
    }
    ~Quoted() {
        Stop();
        if (output_ >= 0) close(output_);
    }

    int Port() const { return port_; }
    pid_t Pid() const { return pid_; }

    // SIGTERM, then the exit status; -1 when it does not stop within 5 s.
    int Stop() {
        if (pid_ <= 0) return -1;
        kill(pid_, SIGTERM);
        int status = 0;
        pid_t done = 0;
        for (int i = 0; i < 500 && (done = waitpid(pid_, &status, WNOHANG)) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (done != pid_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        pid_ = 0;
        return done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    // The port of the line "listening on 127.0.0.1:PORT", read within 10 s.
    int ReadPort() {
        std::string line;
        pollfd p{output_, POLLIN, 0};
        char c = 0;
        while (poll(&p, 1, 10000) == 1 && read(output_, &c, 1) == 1 && c != '\n')
            line += c;
        const auto colon = line.rfind(':');
        if (!line.starts_with("listening on 127.0.0.1:") || colon == std::string::npos) return 0;
        return std::stoi(line.substr(colon + 1));
    }

    pid_t pid_ = -1;
    int output_ = -1;
    int port_ = 0;
};

}  // namespace quillon::testing
