#pragma once
// A fresh directory under the system's temporary folder, removed with its contents when
// the test ends, with helpers to put files in it and read them back.
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>

namespace tarnset::testing {

class TempDir {
 public:
  TempDir() {
    // A name nobody else has: tests of several processes run side by side.
    std::random_device random;
    for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
      const auto candidate = std::filesystem::temp_directory_path() /
                             ("tarnset-test-" + std::to_string(random()) + std::to_string(random()));
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) dir_ = candidate.string();
    }
    if (dir_.empty()) throw std::runtime_error("no temporary folder could be made");
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  // Writes content byte for byte and returns the file's path.
  std::string write(const std::string& name, const std::string& content) const {
    std::ofstream(path(name), std::ios::binary) << content;
    return path(name);
  }

 private:
  std::string dir_;
};

inline std::string readAll(const std::string& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

}  // namespace tarnset::testing
