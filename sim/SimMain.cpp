// kv-tarn-sim: the virtual KV-Tarn on a pseudo-terminal.
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "sim/PtyServer.h"
#include "sim/SimCli.h"
#include "sim/VirtualTarn.h"

namespace {

constexpr int kExitUsage = 64;
constexpr int kExitFailure = 1;

volatile std::sig_atomic_t gStop = 0;

extern "C" void onStopSignal(int) {
  gStop = 1;
}

void installStopHandlers() {
  struct sigaction sa {};
  sa.sa_handler = onStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a signal ends the current wait at once
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
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

  installStopHandlers();
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
  std::cout << server.slavePath() << std::endl;
  if (logFile) {
    *logFile << "     0.000 START device " << server.slavePath() << " sub-model " << cfg->options.subModel
             << (cfg->options.pacing ? "" : " no-pacing");
    for (const kvsim::Fault& f : cfg->options.faults) *logFile << " fault " << kvsim::faultName(f);
    *logFile << std::endl;
  }
  server.run(gStop);
  return 0;
}
