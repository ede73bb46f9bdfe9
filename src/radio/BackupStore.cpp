#include "radio/BackupStore.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/LocalTime.h"
#include "platform/Paths.h"
#include "radio/Sha256.h"

namespace tarnset {
namespace {

namespace fs = std::filesystem;

// Names that cannot be had after this many tries in one second are not worth a further try.
constexpr int kMaxPerSecond = 10000;

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

bool isHex(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool all(std::string_view s, bool (*pred)(char)) {
  for (const char c : s) {
    if (!pred(c)) return false;
  }
  return true;
}

int number(std::string_view digits) {
  int n = 0;
  for (const char c : digits) n = n * 10 + (c - '0');
  return n;
}

// What a backup's file name says.
struct BackupName {
  std::string stamp;  // "YYYYMMDDHHMMSS": compares as the time it names
  int count = 1;      // 1 without a "-N", otherwise N
  std::string model, subModel, hash;
};

// The parts of a backup's file name; nullopt for any other name.
std::optional<BackupName> parseName(std::string_view name) {
  // YYYYMMDD-HHMMSS-MMMM-SSSS-HHHHHHHH[-N].bin
  constexpr std::size_t kBaseLength = 34;
  if (name.size() < kBaseLength + 4 || name.substr(name.size() - 4) != ".bin") return std::nullopt;
  const std::string_view date = name.substr(0, 8), time = name.substr(9, 6);
  if (!all(date, isDigit) || name[8] != '-' || !all(time, isDigit) || name[15] != '-') return std::nullopt;
  const int month = number(date.substr(4, 2)), day = number(date.substr(6, 2));
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  if (number(time.substr(0, 2)) > 23 || number(time.substr(2, 2)) > 59 || number(time.substr(4, 2)) > 60) {
    return std::nullopt;
  }
  BackupName b;
  b.model = std::string(name.substr(16, 4));
  b.subModel = std::string(name.substr(21, 4));
  b.hash = std::string(name.substr(26, 8));
  if (!all(b.model, isHex) || name[20] != '-' || !all(b.subModel, isHex) || name[25] != '-' ||
      !all(b.hash, isHex)) {
    return std::nullopt;
  }
  const std::string_view rest = name.substr(kBaseLength, name.size() - kBaseLength - 4);
  if (!rest.empty()) {
    // "-N" with N from 2, written without leading zeros.
    const std::string_view n = rest.substr(1);
    if (rest[0] != '-' || n.empty() || n.size() > 6 || !all(n, isDigit) || n[0] == '0') return std::nullopt;
    b.count = number(n);
    if (b.count < 2) return std::nullopt;
  }
  b.stamp = std::string(date) + std::string(time);
  return b;
}

// The backups found in folder, with their file names; false when it cannot be listed.
bool listBackups(const std::string& folder, std::vector<std::pair<BackupName, std::string>>& found,
                 std::error_code& ec) {
  found.clear();
  fs::directory_iterator it(pathFromUtf8(folder), ec);
  if (ec) return false;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code typeEc;
    if (!it->is_regular_file(typeEc)) continue;
    const std::string name = pathToUtf8(it->path().filename());
    if (auto b = parseName(name)) found.emplace_back(std::move(*b), name);
  }
  return !ec;
}

// The later of two backups: by the time in the name, then the count; the file name
// decides between names that agree in both (copied in from elsewhere).
bool later(const std::pair<BackupName, std::string>& a, const std::pair<BackupName, std::string>& b) {
  if (a.first.stamp != b.first.stamp) return a.first.stamp > b.first.stamp;
  if (a.first.count != b.first.count) return a.first.count > b.first.count;
  return a.second > b.second;
}

// True when the file at path holds exactly these bytes.
bool holds(const std::string& path, const Bytes& image) {
  std::ifstream in(pathFromUtf8(path), std::ios::binary);
  if (!in) return false;
  std::string content(image.size() + 1, '\0');
  in.read(content.data(), static_cast<std::streamsize>(content.size()));
  if (in.bad() || static_cast<std::size_t>(in.gcount()) != image.size()) return false;
  for (std::size_t i = 0; i < image.size(); ++i) {
    if (static_cast<std::uint8_t>(content[i]) != image[i]) return false;
  }
  return true;
}

std::optional<std::string> code4(const std::string& code) {
  if (code.size() != 4 || !all(code, isHex)) return std::nullopt;
  std::string upper = code;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

BackupResult failed(std::string why) {
  BackupResult r;
  r.outcome = BackupResult::Outcome::Failed;
  r.why = std::move(why);
  return r;
}

}  // namespace

BackupStore::BackupStore(std::string folder) : folder_(std::move(folder)) {}

BackupResult BackupStore::save(const Bytes& image, const std::string& model, const std::string& subModel,
                               std::time_t when) {
  const auto m = code4(model), s = code4(subModel);
  if (!m || !s)
    return failed("the radio's model " + model + "-" + subModel + " is not two 4-digit hex codes");
  std::tm local{};
  if (!localTime(when, local) || local.tm_year + 1900 < 0 || local.tm_year + 1900 > 9999) {
    return failed("the clock gives no usable time for the backup's name");
  }
  char stamp[80];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);

  std::error_code ec;
  fs::create_directories(pathFromUtf8(folder_), ec);
  if (ec) return failed("cannot create the backup folder " + folder_ + ": " + ec.message());
  std::vector<std::pair<BackupName, std::string>> backups;
  if (!listBackups(folder_, backups, ec)) {
    return failed("cannot read the backup folder " + folder_ + ": " + ec.message());
  }

  const std::string stampDigits = std::string(stamp, 8) + std::string(stamp + 9, 6);
  int count = 1;
  const std::pair<BackupName, std::string>* newest = nullptr;
  for (const auto& b : backups) {
    if (newest == nullptr || later(b, *newest)) newest = &b;
    if (b.first.stamp == stampDigits && b.first.count >= count) count = b.first.count + 1;
  }
  if (newest != nullptr) {
    const std::string path =
        pathToUtf8((pathFromUtf8(folder_) / pathFromUtf8(newest->second)).make_preferred());
    if (holds(path, image)) {
      BackupResult r;
      r.outcome = BackupResult::Outcome::SameAsNewest;
      r.path = path;
      return r;
    }
  }

  const std::string base = std::string(stamp) + "-" + *m + "-" + *s + "-" + sha256Hex(image).substr(0, 8);
  const std::string content(image.begin(), image.end());
  std::string why;
  // A name taken meanwhile (another program saving in the same second) moves on to the
  // next count; writeFileAtomically never replaces it.
  for (; count <= kMaxPerSecond; ++count) {
    const std::string name = base + (count > 1 ? "-" + std::to_string(count) : std::string()) + ".bin";
    const std::string path = pathToUtf8((pathFromUtf8(folder_) / pathFromUtf8(name)).make_preferred());
    if (writeFileAtomically(path, content, why, false)) {
      BackupResult r;
      r.outcome = BackupResult::Outcome::Written;
      r.path = path;
      return r;
    }
    std::error_code existsEc;
    if (!fs::exists(fs::symlink_status(pathFromUtf8(path), existsEc))) return failed(why);
  }
  return failed("no free backup name in " + folder_ + " for " + base);
}

std::string BackupStore::newest() const {
  std::vector<std::pair<BackupName, std::string>> backups;
  std::error_code ec;
  if (!listBackups(folder_, backups, ec) || backups.empty()) return {};
  const auto* best = &backups.front();
  for (const auto& b : backups) {
    if (later(b, *best)) best = &b;
  }
  return pathToUtf8((pathFromUtf8(folder_) / pathFromUtf8(best->second)).make_preferred());
}

std::string BackupStore::describe(const std::string& path) {
  const auto b = parseName(pathToUtf8(pathFromUtf8(path).filename()));
  if (!b) return {};
  const std::string& t = b->stamp;
  std::string out = t.substr(0, 4) + "-" + t.substr(4, 2) + "-" + t.substr(6, 2) + " " + t.substr(8, 2) +
                    ":" + t.substr(10, 2) + ":" + t.substr(12, 2) + ", model " + b->model + ", sub-model " +
                    b->subModel + ", SHA-256 " + b->hash;
  if (b->count > 1) out += ", no. " + std::to_string(b->count) + " of that second";
  return out;
}

std::optional<BackupStore::Identity> BackupStore::identityOf(const std::string& path) {
  const auto b = parseName(pathToUtf8(pathFromUtf8(path).filename()));
  if (!b) return std::nullopt;
  return Identity{b->model, b->subModel};
}

}  // namespace tarnset
