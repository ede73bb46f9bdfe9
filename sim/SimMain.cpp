// kv-tarn-sim: the virtual KV-Tarn on a pseudo-terminal.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "sim/BenchServer.h"
#include "sim/PtyServer.h"
#include "sim/SimCli.h"
#include "sim/VirtualTarn.h"

namespace {

constexpr int kExitUsage = 64;
constexpr int kExitFailure = 1;

volatile std::sig_atomic_t gStop = 0;
// Counted by the handlers, compared with what the serving loop has acted on: only the
// handlers write them.
volatile std::sig_atomic_t gSilenceToggles = 0;
volatile std::sig_atomic_t gSpoils = 0;
volatile std::sig_atomic_t gLates = 0;
volatile std::sig_atomic_t gPttToggles = 0;
// The write end of the pipe that wakes the serving loop (see PtyServer::setWakeFd).
int gWakeWrite = -1;

void wakeServer() {
  const int saved = errno;
  if (gWakeWrite >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(gWakeWrite, &byte, 1);  // a full pipe wakes it already
  }
  errno = saved;
}

extern "C" void onStopSignal(int) {
  gStop = 1;
  wakeServer();
}

extern "C" void onSilenceSignal(int) {
  gSilenceToggles = gSilenceToggles + 1;
  wakeServer();
}

extern "C" void onLateSignal(int) {
  gLates = gLates + 1;
  wakeServer();
}

extern "C" void onSpoilSignal(int) {
  gSpoils = gSpoils + 1;
  wakeServer();
}

extern "C" void onPttSignal(int) {
  gPttToggles = gPttToggles + 1;
  wakeServer();
}

// The wake pipe, both ends non-blocking; the read end's descriptor, -1 when there is none
// (the loop then still sees the flags at its next pass).
int openWakePipe() {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  for (int fd : fds) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  gWakeWrite = fds[1];
  return fds[0];
}

// The bench's PTT switch: a real-time signal, which neither a terminal nor the system
// sends on its own (a hang-up must still end the program).
int pttSignal() {
  return SIGRTMIN + 1;
}

void installSignalHandlers(bool bench) {
  struct sigaction sa {};
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a signal ends the current wait at once
  sa.sa_handler = onStopSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sa.sa_handler = onSilenceSignal;
  sigaction(SIGUSR1, &sa, nullptr);
  sa.sa_handler = onSpoilSignal;
  sigaction(SIGUSR2, &sa, nullptr);
  sa.sa_handler = onLateSignal;
  sigaction(SIGURG, &sa, nullptr);
  if (bench) {
    sa.sa_handler = onPttSignal;
    sigaction(pttSignal(), &sa, nullptr);
  }
  std::signal(SIGPIPE, SIG_IGN);  // a reader that went away must not end the radio
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  auto cfg = kvsim::parseCommandLine(args, error);
  if (!cfg) {
    std::cerr << "kv-tarn-sim: " << error << "\n\n" << kvsim::usageText();
    return kExitUsage;
  }
  if (cfg->version) {
    std::cout << "kv-tarn-sim " << TARNSET_VERSION << " (virtual KV-Tarn transceiver)\n";
    return 0;
  }
  if (cfg->help) {
    std::cout << kvsim::usageText();
    return 0;
  }
  if (!cfg->imagePath.empty()) {
    auto image = kvsim::loadImageFile(cfg->imagePath, error);
    if (!image) {
      std::cerr << "kv-tarn-sim: " << error << "\n";
      return kExitUsage;
    }
    cfg->options.image = std::move(*image);
  }

  std::unique_ptr<std::ofstream> logFile;
  if (!cfg->logPath.empty()) {
    logFile = std::make_unique<std::ofstream>(cfg->logPath, std::ios::trunc);
    if (!*logFile) {
      std::cerr << "kv-tarn-sim: cannot write log file '" << cfg->logPath << "'\n";
      return kExitUsage;
    }
  }

  const int wakeRead = openWakePipe();
  installSignalHandlers(cfg->benchPort.has_value());
  kvsim::VirtualTarn radio(cfg->options);
  if (logFile) {
    radio.setLogSink([&logFile](const std::string& line) { *logFile << line << std::endl; });
  }
  kvsim::PtyServer server(radio, cfg->options.pacing);
  if (!server.open()) {
    std::cerr << "kv-tarn-sim: " << server.error() << "\n";
    return kExitFailure;
  }
  if (!cfg->linkPath.empty() && !server.createLink(cfg->linkPath)) {
    std::cerr << "kv-tarn-sim: " << server.error() << "\n";
    return kExitFailure;
  }
  std::unique_ptr<kvsim::VirtualBench> bench;
  std::unique_ptr<kvsim::BenchServer> benchServer;
  if (cfg->benchPort) {
    bench =
        std::make_unique<kvsim::VirtualBench>(radio, kvsim::BenchOptions{cfg->benchNoise, cfg->options.seed});
    benchServer = std::make_unique<kvsim::BenchServer>(*bench);
    if (logFile) {
      benchServer->setLogSink(
          [&radio, &server](const std::string& line) { radio.note(server.nowUs(), line); });
    }
    if (!benchServer->listen(static_cast<std::uint16_t>(*cfg->benchPort))) {
      std::cerr << "kv-tarn-sim: " << benchServer->error() << "\n";
      return kExitFailure;
    }
    server.setExtraFds([&benchServer] { return benchServer->descriptors(); });
  }
  std::cout << server.slavePath() << std::endl;
  if (benchServer) std::cout << "bench TCPIP::127.0.0.1::" << benchServer->port() << "::SOCKET" << std::endl;
  if (logFile) {
    *logFile << "     0.000 START device " << server.slavePath() << " sub-model " << cfg->options.subModel
             << (cfg->options.pacing ? "" : " no-pacing");
    for (const kvsim::Fault& f : cfg->options.faults) *logFile << " fault " << kvsim::faultName(f);
    *logFile << std::endl;
  }
  server.setWakeFd(wakeRead);
  // Each signal counts: an odd number of SIGUSR1 since the last pass toggles the silence.
  std::sig_atomic_t silenceToggles = 0;
  std::sig_atomic_t spoils = 0;
  std::sig_atomic_t lates = 0;
  std::sig_atomic_t pttToggles = 0;
  server.run(gStop, [&] {
    if (const std::sig_atomic_t t = gPttToggles; t != pttToggles && benchServer) {
      if ((t - pttToggles) % 2 != 0) benchServer->togglePtt();
      pttToggles = t;
    }
    if (benchServer) benchServer->serve();
    if (const std::sig_atomic_t t = gSilenceToggles; t != silenceToggles) {
      if ((t - silenceToggles) % 2 != 0) radio.setSilent(!radio.silent());
      silenceToggles = t;
    }
    if (const std::sig_atomic_t s = gSpoils; s != spoils) {
      radio.spoilNextMonitorAnswer();
      spoils = s;
    }
    if (const std::sig_atomic_t l = gLates; l != lates) {
      radio.delayNextMonitorAnswer();
      lates = l;
    }
  });
  return 0;
}
