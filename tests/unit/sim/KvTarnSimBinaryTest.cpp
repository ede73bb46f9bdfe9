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

#include <cctype>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "SimProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
using kvsim::testing::SimProcess;

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Waits until the log file holds `count` lines containing text (false after 5 s).
bool awaitLog(const std::string& path, const std::string& text, int count = 1) {
  const auto until = Clock::now() + std::chrono::seconds(5);
  while (Clock::now() < until) {
    std::istringstream lines(fileText(path));
    int seen = 0;
    for (std::string line; std::getline(lines, line);) seen += line.find(text) != std::string::npos ? 1 : 0;
    if (seen >= count) return true;
    usleep(5000);
  }
  return false;
}

// The program's port on the device, raw at 9600 baud, held open.
class Port {
 public:
  explicit Port(const std::string& device) : fd_(open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    if (fd_ < 0) return;
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    tcsetattr(fd_, TCSANOW, &t);
    tcflush(fd_, TCIFLUSH);
  }
  ~Port() {
    if (fd_ >= 0) close(fd_);
  }
  bool isOpen() const { return fd_ >= 0; }

  // Sends a frame and returns what arrives until an FD or until `ms` milliseconds pass.
  std::vector<std::uint8_t> ask(const std::vector<std::uint8_t>& frame, int ms) {
    std::vector<std::uint8_t> got;
    if (write(fd_, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) return got;
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < until && (got.empty() || got.back() != 0xFD)) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      std::uint8_t buf[256];
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n > 0) got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

 private:
  int fd_;
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
  const std::string device = sim.nextLine();
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
  EXPECT_EQ(sim.nextLine(), "");
  EXPECT_EQ(sim.terminate(), 64);
}

TEST(KvTarnSimBinary, RefusesASubModelItCannotServeAsAUsageError) {
  SimProcess sim({"--sub-model", "FE00"});
  ASSERT_TRUE(sim.started());
  EXPECT_EQ(sim.nextLine(), "");
  const std::string err = sim.errorText();
  EXPECT_EQ(sim.terminate(), 64);
  const std::string first = err.substr(0, err.find('\n'));
  EXPECT_EQ(first.rfind("kv-tarn-sim: ", 0), 0u) << err;
  EXPECT_NE(first.find("FE00"), std::string::npos) << err;
  EXPECT_NE(err.find("\n\nUsage: kv-tarn-sim"), std::string::npos) << err;
}

TEST(KvTarnSimBinary, Sigusr1TogglesSilenceAndSigusr2SpoilsTheNextMonitorAnswer) {
  const std::string logPath =
      ::testing::TempDir() + "kv-tarn-sim-signals-" + std::to_string(getpid()) + ".log";
  SimProcess sim({"--log", logPath});
  ASSERT_TRUE(sim.started());
  const std::string device = sim.nextLine();
  ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;
  Port port(device);
  ASSERT_TRUE(port.isOpen());
  const std::vector<std::uint8_t> e0 = {0xFE, 0xFE, 0xEE, 0xEF, 0xE0, 0x26, 0x51, 0x00, 0x00, 0xFD};
  // Monitor channel 4 (the signal detector): E8, identity, code 03, value "04".
  const std::vector<std::uint8_t> monitor = {0xFE, 0xFE, 0xEE, 0xEF, 0xE8, 0x26, 0x51,
                                             0x01, 0x00, 0x03, '0',  '4',  0xFD};
  const auto isE1 = [](const std::vector<std::uint8_t>& a) { return a.size() >= 67 && a[4] == 0xE1; };

  ASSERT_TRUE(isE1(port.ask(e0, 1000)));
  sim.signal(SIGUSR1);
  ASSERT_TRUE(awaitLog(logPath, "SILENT on"));
  EXPECT_TRUE(port.ask(e0, 300).empty());
  EXPECT_TRUE(port.ask(monitor, 300).empty());
  sim.signal(SIGUSR1);
  ASSERT_TRUE(awaitLog(logPath, "SILENT off"));
  EXPECT_TRUE(isE1(port.ask(e0, 1000)));

  sim.signal(SIGUSR2);
  ASSERT_TRUE(awaitLog(logPath, "SPOIL next monitor answer"));
  const auto spoiled = port.ask(monitor, 1000);
  ASSERT_EQ(spoiled.size(), 13u);
  EXPECT_EQ(spoiled[9], 0x03);
  EXPECT_FALSE(std::isxdigit(spoiled[10]) && std::isxdigit(spoiled[11]));
  const auto good = port.ask(monitor, 1000);
  ASSERT_EQ(good.size(), 13u);
  EXPECT_TRUE(std::isxdigit(good[10]) && std::isxdigit(good[11]));

  EXPECT_EQ(sim.terminate(), 0);
  // The requests made while silent were received and logged all the same.
  EXPECT_TRUE(awaitLog(logPath, "RX  9600 FE FE EE EF E0 26 51 00 00 FD", 3));
  EXPECT_TRUE(awaitLog(logPath, "SPOIL monitor answer: value bytes not hex"));
  std::remove(logPath.c_str());
}

}  // namespace
