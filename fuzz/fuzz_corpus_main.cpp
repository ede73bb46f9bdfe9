// Runs a target's fuzz function over the target's fixed generated corpus, so that a
// bounded fuzz run is part of every test run (also where libFuzzer is not available).
//
//   <target>_corpus                      run the generated corpus
//   <target>_corpus --write-corpus DIR   also write it to DIR (seeds for libFuzzer)
//   <target>_corpus FILE...              run the given inputs (replay a finding)
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzTarget.h"

namespace {

using tarnset::Bytes;

bool readFile(const std::string& path, Bytes& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<Bytes> inputs;
  std::string writeDir;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--write-corpus" && i + 1 < argc) {
      writeDir = argv[++i];
    } else {
      files.push_back(a);
    }
  }
  if (files.empty()) {
    inputs = tarnset::fuzz::generateCorpus();
  } else {
    for (const std::string& f : files) {
      Bytes b;
      if (!readFile(f, b)) {
        std::fprintf(stderr, "cannot read %s\n", f.c_str());
        return 2;
      }
      inputs.push_back(std::move(b));
    }
  }
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    if (!writeDir.empty()) {
      std::ofstream out(writeDir + "/seed-" + std::to_string(i), std::ios::binary);
      out.write(reinterpret_cast<const char*>(inputs[i].data()),
                static_cast<std::streamsize>(inputs[i].size()));
    }
    LLVMFuzzerTestOneInput(inputs[i].data(), inputs[i].size());
    bytes += inputs[i].size();
  }
  std::printf("%s: %zu inputs (%zu bytes) run without a finding\n", tarnset::fuzz::kTargetName, inputs.size(),
              bytes);
  return 0;
}
