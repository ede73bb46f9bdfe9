#include "Process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>

extern char** environ;

namespace tarnset::e2e {

namespace {

constexpr int kPollSliceMs = 50;

int decodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Starts the command with stdin from /dev/null and stdout/stderr into two pipes whose
// read ends (non-blocking) are returned. -1 when fork or the pipes fail; a program that
// cannot be executed exits with 127.
pid_t spawn(const Command& c, int& outFd, int& errFd) {
  outFd = errFd = -1;
  if (c.argv.empty()) return -1;
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return -1;
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    return -1;
  }
  const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

  // Everything the child needs is prepared before fork: between fork and exec only
  // async-signal-safe calls are allowed (the caller may have threads).
  std::vector<char*> argv;
  for (const std::string& a : c.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : c.env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const char* cwd = c.cwd.empty() ? nullptr : c.cwd.c_str();
  const pid_t parent = ::getpid();

  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    // The kernel ends the child when the test dies, so no program outlives a crashed test.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    if (devNull >= 0) ::dup2(devNull, 0);
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    if (cwd != nullptr && ::chdir(cwd) != 0) ::_exit(127);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  if (devNull >= 0) ::close(devNull);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (pid < 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    return -1;
  }
  ::setpgid(pid, pid);  // also here, so that a kill right after spawn reaches the group
  ::fcntl(outPipe[0], F_SETFL, ::fcntl(outPipe[0], F_GETFL) | O_NONBLOCK);
  ::fcntl(errPipe[0], F_SETFL, ::fcntl(errPipe[0], F_GETFL) | O_NONBLOCK);
  outFd = outPipe[0];
  errFd = errPipe[0];
  return pid;
}

// Reads what is there; closes the descriptor (and sets it to -1) at end of file.
void drain(int& fd, std::string& into) {
  if (fd < 0) return;
  char buf[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      into.append(buf, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      ::close(fd);
      fd = -1;
    }
    return;
  }
}

// Waits until one of the descriptors is readable or timeoutMs passed, then drains both.
void pumpPipes(int& outFd, int& errFd, std::string& out, std::string& err, int timeoutMs) {
  pollfd p[2];
  nfds_t n = 0;
  if (outFd >= 0) p[n++] = pollfd{outFd, POLLIN, 0};
  if (errFd >= 0) p[n++] = pollfd{errFd, POLLIN, 0};
  if (n == 0) {
    if (timeoutMs > 0) {
      timespec ts{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000L};
      ::nanosleep(&ts, nullptr);
    }
    return;
  }
  ::poll(p, n, timeoutMs);
  drain(outFd, out);
  drain(errFd, err);
}

}  // namespace

double monotonicSeconds() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

RunResult run(const Command& command, double timeoutSeconds) {
  RunResult r;
  int outFd = -1, errFd = -1;
  const double start = monotonicSeconds();
  const pid_t pid = spawn(command, outFd, errFd);
  if (pid < 0) {
    r.err = "cannot start " + (command.argv.empty() ? std::string("(nothing)") : command.argv[0]);
    return r;
  }
  const double deadline = start + timeoutSeconds;
  std::optional<int> code;
  double exitedAt = 0;
  for (;;) {
    pumpPipes(outFd, errFd, r.out, r.err, kPollSliceMs);
    if (!code) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        code = decodeStatus(status);
        exitedAt = monotonicSeconds();
        r.seconds = exitedAt - start;
      }
    }
    // Done when the process has ended and its pipes are closed; a descendant that keeps
    // them open gets one more second.
    if (code && ((outFd < 0 && errFd < 0) || monotonicSeconds() > exitedAt + 1.0)) break;
    if (!code && monotonicSeconds() > deadline) {
      ::killpg(pid, SIGKILL);
      int status = 0;
      ::waitpid(pid, &status, 0);
      r.timedOut = true;
      code = decodeStatus(status);
      r.seconds = monotonicSeconds() - start;
      pumpPipes(outFd, errFd, r.out, r.err, 0);
      break;
    }
  }
  if (outFd >= 0) ::close(outFd);
  if (errFd >= 0) ::close(errFd);
  r.exitCode = *code;
  return r;
}

Background::Background(const Command& command) {
  pid_ = spawn(command, outFd_, errFd_);
}

Background::~Background() {
  stop();
  if (outFd_ >= 0) ::close(outFd_);
  if (errFd_ >= 0) ::close(errFd_);
}

void Background::reap(int options) {
  if (pid_ <= 0 || exitCode_) return;
  int status = 0;
  if (::waitpid(pid_, &status, options) == pid_) exitCode_ = decodeStatus(status);
}

void Background::pump(int timeoutMs) {
  pumpPipes(outFd_, errFd_, out_, err_, timeoutMs);
}

bool Background::running() {
  reap(WNOHANG);
  return pid_ > 0 && !exitCode_;
}

std::optional<std::string> Background::readLine(double timeoutSeconds) {
  const double deadline = monotonicSeconds() + timeoutSeconds;
  for (;;) {
    const std::size_t nl = out_.find('\n');
    if (nl != std::string::npos) {
      std::string line = out_.substr(0, nl);
      out_.erase(0, nl + 1);
      return line;
    }
    if (outFd_ < 0 || monotonicSeconds() > deadline) return std::nullopt;
    pump(kPollSliceMs);
  }
}

std::optional<int> Background::waitExit(double timeoutSeconds) {
  const double deadline = monotonicSeconds() + timeoutSeconds;
  for (;;) {
    pump(0);
    reap(WNOHANG);
    if (exitCode_ || pid_ <= 0) return exitCode_;
    if (monotonicSeconds() > deadline) return std::nullopt;
    pump(10);  // sleeps when both pipes are closed already
  }
}

void Background::signal(int sig) {
  if (running()) ::kill(pid_, sig);
}

int Background::stop(double graceSeconds) {
  if (pid_ <= 0) return -1;
  if (running()) {
    ::killpg(pid_, SIGTERM);
    if (!waitExit(graceSeconds)) {
      ::killpg(pid_, SIGKILL);
      reap(0);
    }
  }
  pump(0);
  return exitCode_.value_or(-1);
}

std::string Background::takeOut() {
  pump(0);
  std::string s;
  s.swap(out_);
  return s;
}

std::string Background::takeErr() {
  pump(0);
  std::string s;
  s.swap(err_);
  return s;
}

std::vector<std::string> environmentWith(const std::vector<std::string>& set,
                                         const std::vector<std::string>& remove) {
  std::map<std::string, std::string> vars;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const std::string entry = *e;
    const auto eq = entry.find('=');
    if (eq == std::string::npos) continue;
    vars[entry.substr(0, eq)] = entry;
  }
  for (const std::string& name : remove) vars.erase(name);
  for (const std::string& entry : set) vars[entry.substr(0, entry.find('='))] = entry;
  std::vector<std::string> out;
  for (auto& [name, entry] : vars) out.push_back(entry);
  return out;
}

std::string findProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t from = 0;
  while (from <= dirs.size()) {
    const std::size_t colon = dirs.find(':', from);
    const std::string dir = dirs.substr(from, colon == std::string::npos ? std::string::npos : colon - from);
    if (!dir.empty()) {
      const std::string candidate = dir + "/" + name;
      if (::access(candidate.c_str(), X_OK) == 0 && std::filesystem::is_regular_file(candidate))
        return candidate;
    }
    if (colon == std::string::npos) break;
    from = colon + 1;
  }
  return {};
}

}  // namespace tarnset::e2e
