#pragma once
// Starting the real programs from tests and benchmarks: a command runs in its own process
// group with its own working folder and environment, its standard output and error come
// back through pipes, and every wait has a limit. A process left running when its owner
// goes is ended with its whole group, and the kernel ends it should the owner die.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace tarnset::e2e {

struct Command {
  std::vector<std::string> argv;  // program path first
  std::string cwd;                // working folder; empty = the caller's
  std::vector<std::string> env;   // the whole environment, "NAME=value" each
};

struct RunResult {
  int exitCode = -1;      // exit status, 128 + signal number when a signal ended it
  bool timedOut = false;  // the limit was reached and the process group was killed
  std::string out;        // everything written to standard output
  std::string err;        // everything written to standard error
  double seconds = 0;     // wall time from start to exit
};

// Runs a command to its end, or kills its process group after timeoutSeconds.
RunResult run(const Command& command, double timeoutSeconds);

// A command running in the background. Its output is collected as it comes (read it with
// readLine/takeOut/takeErr); the destructor stops the process group if it still runs.
class Background {
 public:
  explicit Background(const Command& command);
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  // False when the process could not be started at all.
  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // True while the process has not ended.
  bool running();
  // The next line of standard output (without its newline); nullopt when none came in time.
  std::optional<std::string> readLine(double timeoutSeconds);
  // Waits for the process to end by itself; its exit code, nullopt when it did not end in time.
  std::optional<int> waitExit(double timeoutSeconds);
  // Sends a signal to the process alone.
  void signal(int sig);
  // Ends the process group: SIGTERM, then SIGKILL after graceSeconds. Returns the exit code.
  int stop(double graceSeconds = 3.0);
  // Output collected so far and not yet taken.
  std::string takeOut();
  std::string takeErr();

 private:
  // Reads whatever the pipes hold, waiting at most timeoutMs for something to come.
  void pump(int timeoutMs);
  void reap(int options);

  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  std::string out_;
  std::string err_;
  std::optional<int> exitCode_;
};

// This process's environment without the named variables, with the given "NAME=value"
// entries added (replacing any of the same name).
std::vector<std::string> environmentWith(const std::vector<std::string>& set,
                                         const std::vector<std::string>& remove = {});

// Full path of a program found on PATH; empty when there is none.
std::string findProgram(const std::string& name);

// Seconds of a monotonic clock.
double monotonicSeconds();

}  // namespace tarnset::e2e
