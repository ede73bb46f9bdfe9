// The real kv-tarn-sim binary on a pseudo-terminal, opened as the program opens its port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    args.insert(args.begin(), KV_TARN_SIM_PATH);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, KV_TARN_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
  }
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  // The first line the simulator prints (empty after 5 s without one).
  std::string firstLine() {
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

  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

// Opens the device raw at 9600 baud, sends E0 and returns what arrives within a second.
std::vector<std::uint8_t> identifyOver(const std::string& device) {
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return {};
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  tcsetattr(fd, TCSANOW, &t);
  tcflush(fd, TCIFLUSH);
  const std::uint8_t e0[] = {0xFE, 0xFE, 0xEE, 0xEF, 0xE0, 0x26, 0x51, 0x00, 0x00, 0xFD};
  std::vector<std::uint8_t> got;
  if (write(fd, e0, sizeof e0) == static_cast<ssize_t>(sizeof e0)) {
    const auto until = Clock::now() + std::chrono::seconds(1);
    while (Clock::now() < until && (got.empty() || got.back() != 0xFD)) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      std::uint8_t buf[256];
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n > 0) got.insert(got.end(), buf, buf + n);
    }
  }
  close(fd);
  return got;
}

TEST(KvTarnSimBinary, ServesIdentificationAcrossReopensAndExitsCleanlyOnSigterm) {
  const std::string dir = ::testing::TempDir();
  const std::string link = dir + "kv-tarn-sim-test-" + std::to_string(getpid());
  const std::string logPath = link + ".log";
  SimProcess sim({"--link", link, "--log", logPath});
  ASSERT_TRUE(sim.started());
  const std::string device = sim.firstLine();
  ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;

  for (const std::string& path : {device, link}) {
    const auto answer = identifyOver(path);
    ASSERT_GE(answer.size(), 67u) << path;
    EXPECT_EQ(std::vector<std::uint8_t>(answer.begin(), answer.begin() + 5),
              (std::vector<std::uint8_t>{0xFE, 0xFE, 0xEF, 0xEE, 0xE1}));
    EXPECT_EQ(answer.back(), 0xFD);
    usleep(30000);  // closed long enough for the simulator to see it
  }

  EXPECT_EQ(sim.terminate(), 0);
  struct stat st {};
  EXPECT_NE(lstat(link.c_str(), &st), 0) << "the symlink is removed at exit";
  std::ifstream log(logPath);
  std::stringstream text;
  text << log.rdbuf();
  EXPECT_NE(text.str().find("PORT closed"), std::string::npos);
  EXPECT_NE(text.str().find("RX  9600 FE FE EE EF E0 26 51 00 00 FD"), std::string::npos);
  EXPECT_NE(text.str().find("TX  9600 FE FE EF EE E1"), std::string::npos);
  std::remove(logPath.c_str());
}

TEST(KvTarnSimBinary, UsageErrorExitsWith64) {
  SimProcess sim({"--fault", "smoke"});
  ASSERT_TRUE(sim.started());
  EXPECT_EQ(sim.firstLine(), "");
  EXPECT_EQ(sim.terminate(), 64);
}

}  // namespace
