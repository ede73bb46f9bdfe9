// kv-tarn-sim --bench: the real binary's virtual bench over TCP, reached by a small SCPI
// client of the test's own, with each of its faults.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "SimProcess.h"
#include "sim/SimCli.h"

namespace {

using kvsim::testing::SimProcess;
using Clock = std::chrono::steady_clock;

// A SCPI client on a TCP connection to 127.0.0.1.
class ScpiClient {
 public:
  explicit ScpiClient(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~ScpiClient() {
    if (fd_ >= 0) close(fd_);
  }
  bool connected() const { return fd_ >= 0; }
  void send(const std::string& line) {
    const std::string l = line + "\n";
    ::send(fd_, l.data(), l.size(), MSG_NOSIGNAL);
  }
  // The next answer line; empty after waitMs without one. closed tells whether the bench
  // closed the connection.
  std::string line(int waitMs = 3000) {
    const auto until = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
      const std::size_t lf = buffer_.find('\n');
      if (lf != std::string::npos) {
        std::string l = buffer_.substr(0, lf);
        buffer_.erase(0, lf + 1);
        return l;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      if (left <= 0 || closed_) return {};
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char buf[512];
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) {
        closed_ = true;
      } else {
        buffer_.append(buf, static_cast<std::size_t>(n));
      }
    }
  }
  std::string ask(const std::string& query) {
    send(query);
    return line();
  }
  bool closed() const { return closed_; }

 private:
  int fd_ = -1;
  std::string buffer_;
  bool closed_ = false;
};

// The port of the bench's address line ("bench TCPIP::127.0.0.1::PORT::SOCKET"), 0 when it is none.
int benchPort(const std::string& line) {
  const std::string head = "bench TCPIP::127.0.0.1::";
  return line.rfind(head, 0) == 0 ? std::atoi(line.c_str() + head.size()) : 0;
}

// The simulator with its bench on a free port; port() is where the bench listens.
class BenchSim : public ::testing::Test {
 protected:
  BenchSim() : sim_({"--bench", "0", "--bench-noise", "0", "--no-pacing"}) {
    pty_ = sim_.nextLine();
    port_ = benchPort(sim_.nextLine());
  }
  SimProcess sim_;
  std::string pty_;
  int port_ = 0;
};

TEST_F(BenchSim, AnswersTheGenericScpiSetOnItsPort) {
  ASSERT_EQ(pty_.rfind("/dev/pts/", 0), 0u);
  ASSERT_GT(port_, 0);
  ScpiClient c(port_);
  ASSERT_TRUE(c.connected());
  EXPECT_EQ(c.ask("*IDN?"), "Tarnset,KV-Tarn virtual bench,VB-0001,1.0");
  c.send("FREQ 450000000");
  EXPECT_EQ(c.ask("SYST:ERR?"), "0,\"No error\"");
  c.send("POW -95;OUTP ON");
  EXPECT_EQ(c.ask("SYST:ERR?"), "0,\"No error\"");
  EXPECT_EQ(c.ask("OUTP?"), "1");
  EXPECT_EQ(c.ask("MEAS:FREQ?"), "9.91E37");  // not transmitting
  c.send("FREQ 7 GHZ");
  EXPECT_EQ(c.ask("SYST:ERR?"), "-222,\"Data out of range\"");
  EXPECT_EQ(sim_.terminate(), 0);
}

TEST_F(BenchSim, ThePttFromASecondConnectionOrTheSignalKeysTheTransmitter) {
  ScpiClient meter(port_);
  ScpiClient operatorLine(port_);
  ASSERT_TRUE(meter.connected() && operatorLine.connected());
  operatorLine.send("SIM:PTT ON");
  EXPECT_EQ(operatorLine.ask("SIM:PTT?"), "1");
  usleep(500000);  // the transmitter settles
  const double hz = std::strtod(meter.ask("MEAS:FREQ?").c_str(), nullptr);
  EXPECT_NEAR(hz, 450e6, 2000.0);
  const double dbm = std::strtod(meter.ask("MEAS:POW?").c_str(), nullptr);
  EXPECT_GT(dbm, 40.0);  // some tens of watts
  sim_.signal(SIGRTMIN + 1);
  const auto until = Clock::now() + std::chrono::seconds(3);
  std::string ptt;
  while (Clock::now() < until && (ptt = meter.ask("SIM:PTT?")) != "0") usleep(10000);
  EXPECT_EQ(ptt, "0");
  EXPECT_EQ(meter.ask("MEAS:FREQ?"), "9.91E37");
}

TEST_F(BenchSim, EachFaultCanBeThrownWhileItRuns) {
  ScpiClient c(port_);
  ScpiClient operatorLine(port_);
  operatorLine.send("SIM:FAULT SILENT");
  EXPECT_EQ(operatorLine.ask("SIM:FAULT?"), "SILENT");
  c.send("*IDN?");
  EXPECT_EQ(c.line(300), "");
  operatorLine.send("SIM:FAULT NONE");
  EXPECT_EQ(operatorLine.ask("SIM:FAULT?"), "NONE");
  EXPECT_EQ(c.ask("*OPC?"), "1");  // the query asked while silent was never answered

  operatorLine.send("SIM:FAULT GARBAGE");
  EXPECT_EQ(operatorLine.ask("SIM:FAULT?"), "GARBAGE");
  const std::string garbage = c.ask("MEAS:POW?");
  EXPECT_FALSE(garbage.empty());
  EXPECT_NE(garbage.find('\x01'), std::string::npos);
  EXPECT_EQ(c.ask("*OPC?"), "1");

  c.send("SIM:FAULT ERROR");
  EXPECT_EQ(c.ask("SYST:ERR?"), "-222,\"Data out of range\"");

  operatorLine.send("SIM:FAULT DROP");
  operatorLine.ask("SIM:FAULT?");
  c.send("MEAS:POW?");
  EXPECT_EQ(c.line(), "");
  EXPECT_TRUE(c.closed());
  ScpiClient again(port_);
  EXPECT_EQ(again.ask("*OPC?"), "1");
  EXPECT_EQ(operatorLine.ask("SIM:FAULT?"), "NONE");
}

// With --log, what every connection said and was answered goes into the radio's log, in
// one order with the radio's frames; a garbled answer stays one readable line.
TEST(BenchLog, EveryMessageAndAnswerIsLoggedWithItsConnection) {
  char folder[] = "/tmp/bench-log-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string log = std::string(folder) + "/sim.log";
  SimProcess sim({"--bench", "0", "--bench-noise", "0", "--no-pacing", "--log", log});
  sim.nextLine();
  const int port = benchPort(sim.nextLine());
  ASSERT_GT(port, 0);
  {
    ScpiClient c(port);
    ScpiClient operatorLine(port);
    EXPECT_EQ(c.ask("*IDN?"), "Tarnset,KV-Tarn virtual bench,VB-0001,1.0");
    operatorLine.send("SIM:FAULT GARBAGE");
    operatorLine.ask("SIM:FAULT?");
    c.ask("MEAS:POW?");
    operatorLine.send("SIM:FAULT DROP");
    operatorLine.ask("SIM:FAULT?");
    c.send("MEAS:FREQ?");
    EXPECT_EQ(c.line(), "");
  }
  usleep(300000);  // the bench sees the other connection close
  EXPECT_EQ(sim.terminate(), 0);
  std::ifstream in(log);
  std::vector<std::string> bench;
  for (std::string line; std::getline(in, line);)
    if (line.find(" BENCH ") != std::string::npos) bench.push_back(line.substr(line.find("BENCH ")));
  const auto at = [&](const std::string& l) {
    return std::find(bench.begin(), bench.end(), l) - bench.begin();
  };
  const auto n = static_cast<std::ptrdiff_t>(bench.size());
  EXPECT_LT(at("BENCH 1 connected"), at("BENCH 1 <- *IDN?"));
  EXPECT_LT(at("BENCH 1 <- *IDN?"), at("BENCH 1 -> Tarnset,KV-Tarn virtual bench,VB-0001,1.0"));
  EXPECT_LT(at("BENCH 1 -> Tarnset,KV-Tarn virtual bench,VB-0001,1.0"), n);
  EXPECT_LT(at("BENCH 2 <- SIM:FAULT GARBAGE"), n);
  EXPECT_LT(at("BENCH 1 <- MEAS:FREQ?"), at("BENCH 1 dropped"));
  EXPECT_LT(at("BENCH 1 dropped"), n);
  EXPECT_LT(at("BENCH 2 closed by the client"), n);
  const auto garbled = std::find_if(bench.begin(), bench.end(), [](const std::string& l) {
    return l.rfind("BENCH 1 -> ", 0) == 0 && l.find("\\x01") != std::string::npos;
  });
  EXPECT_NE(garbled, bench.end()) << "the garbage answer, its control bytes written out";
  for (const std::string& l : bench)
    EXPECT_TRUE(std::all_of(l.begin(), l.end(), [](char ch) { return ch >= 0x20 && ch < 0x7F; })) << l;
  std::remove(log.c_str());
  rmdir(folder);
}

TEST(BenchCli, PortsAndNoiseAreCheckedAndABusyPortIsRefused) {
  std::string error;
  const auto cfg = kvsim::parseCommandLine({"--bench", "5025", "--bench-noise", "2.5"}, error);
  ASSERT_TRUE(cfg) << error;
  EXPECT_EQ(cfg->benchPort, 5025);
  EXPECT_DOUBLE_EQ(cfg->benchNoise, 2.5);
  EXPECT_FALSE(kvsim::parseCommandLine({"--bench", "65536"}, error));
  EXPECT_EQ(error, "--bench needs a TCP port 0..65535, not '65536'");
  EXPECT_FALSE(kvsim::parseCommandLine({"--bench", "1", "--bench-noise", "11"}, error));
  EXPECT_FALSE(kvsim::parseCommandLine({"--bench-noise", "1"}, error));
  EXPECT_EQ(error, "--bench-noise needs --bench");
  EXPECT_NE(kvsim::usageText().find("SIM:FAULT DROP"), std::string::npos);

  SimProcess first({"--bench", "0", "--no-pacing"});
  first.nextLine();
  const int port = benchPort(first.nextLine());
  ASSERT_GT(port, 0);
  SimProcess second({"--bench", std::to_string(port), "--no-pacing"});
  EXPECT_EQ(second.nextLine(), "");
  EXPECT_EQ(second.terminate(), 1);
  EXPECT_EQ(second.errorText(),
            "kv-tarn-sim: cannot listen on 127.0.0.1:" + std::to_string(port) + ": Address already in use\n");
}

}  // namespace
