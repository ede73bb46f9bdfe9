#pragma once
// The real kv-tarn-sim binary started by a test: its standard output read line by line,
// its standard error kept, ended by a signal.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace kvsim::testing {

class SimProcess {
 public:
  using Clock = std::chrono::steady_clock;

  explicit SimProcess(std::vector<std::string> args) {
    int fds[2];
    int errFds[2];
    if (pipe(fds) != 0) return;
    if (pipe(errFds) != 0) {
      close(fds[0]);
      close(fds[1]);
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_adddup2(&actions, errFds[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, errFds[0]);
    args.insert(args.begin(), KV_TARN_SIM_PATH);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, KV_TARN_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    close(errFds[1]);
    out_ = fds[0];
    err_ = errFds[0];
  }
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }

  // The next line the simulator prints (empty after 5 s without one).
  std::string nextLine() {
    std::string line;
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < until) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char c;
      if (read(out_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return {};
  }

  // Sends SIGTERM and returns the exit status (-1 when it did not exit normally in time).
  int terminate() {
    kill(pid_, SIGTERM);
    const auto until = Clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (Clock::now() < until) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(10000);
    }
    return -1;
  }

  // Everything the simulator wrote to stderr, once it has exited (read until the pipe closes, 5 s at most).
  std::string errorText() {
    std::string text;
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < until) {
      pollfd p{err_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[512];
      const ssize_t n = read(err_, buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
  }

  void signal(int sig) { kill(pid_, sig); }
  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
};

}  // namespace kvsim::testing
