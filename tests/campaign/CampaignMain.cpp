// fault_campaign: the fault campaign at length.
//
//   fault_campaign [--runs N] [--seed BASE]   N schedules (default 10000), seeds BASE, BASE+1, ...
//   fault_campaign --replay SEED              one schedule, telling what happens in it
//
// Prints the runs, the faults met by kind and the invariant violations by invariant with
// the seeds of the failing runs; exits with 1 when there was a violation.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "FaultCampaign.h"

using namespace tarnset::testing;

namespace {

volatile std::uint64_t gSeed = 0;

// A crash names the run it happened in, so that it can be replayed alone.
extern "C" void onCrash(int sig) {
  std::fprintf(stderr, "fault_campaign: crashed in the run of seed %llu\n",
               static_cast<unsigned long long>(gSeed));
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

int usage() {
  std::cerr << "usage: fault_campaign [--runs N] [--seed BASE] | --replay SEED\n";
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  long long runs = 10000;
  std::uint64_t base = 20261207;
  bool replay = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return usage();
    const std::string v = argv[++i];
    char* end = nullptr;
    const unsigned long long n = std::strtoull(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0') return usage();
    if (a == "--runs") {
      runs = static_cast<long long>(n);
    } else if (a == "--seed") {
      base = n;
    } else if (a == "--replay") {
      base = n;
      replay = true;
    } else {
      return usage();
    }
  }
  std::signal(SIGSEGV, onCrash);
  std::signal(SIGABRT, onCrash);
  std::signal(SIGFPE, onCrash);
  CampaignFigures figures;
  if (replay) {
    gSeed = base;
    figures.add(runCampaign(base, &std::cout));
  } else {
    std::cout << "seeds " << base << ".." << base + static_cast<std::uint64_t>(runs) - 1 << std::endl;
    for (long long i = 0; i < runs; ++i) {
      gSeed = base + static_cast<std::uint64_t>(i);
      figures.add(runCampaign(gSeed));
      if ((i + 1) % 1000 == 0) std::cout << "  " << i + 1 << " runs" << std::endl;
    }
  }
  printFigures(std::cout, figures);
  return figures.totalViolations() == 0 ? 0 : 1;
}
