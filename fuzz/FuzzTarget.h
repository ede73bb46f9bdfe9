#pragma once
// What every fuzz target provides: its name and fuzz function (fuzz_<name>.cpp), and the
// fixed corpus that the corpus runner (fuzz_corpus_main.cpp) replays (corpus_<name>.cpp),
// generated from a fixed seed so that every run replays the same inputs.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/Types.h"

namespace tarnset::fuzz {

// The target's name, as findings and the corpus runner print it.
extern const char* const kTargetName;

// The generated corpus: the same inputs on every call and every machine.
std::vector<Bytes> generateCorpus();

// Reports a broken invariant of the target and aborts (a finding for libFuzzer).
[[noreturn]] inline void violated(const char* what) {
  std::fprintf(stderr, "%s: invariant violated: %s\n", kTargetName, what);
  std::abort();
}

}  // namespace tarnset::fuzz

// The fuzz function of the target.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
