// The backups of clone reads: named by local time, model and hash, written whole and
// never over another file, and skipped when the newest backup holds the same image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "radio/BackupStore.h"
#include "radio/Sha256.h"
#include "support/TempDir.h"
#include "support/TimeZone.h"

namespace tarnset {
namespace {

using testing::readAll;
using testing::TempDir;
namespace fs = std::filesystem;
using Outcome = BackupResult::Outcome;

// 2024-05-01 14:03:22 UTC, which is 16:03:22 in the zone the tests set.
constexpr std::time_t kWhen = 1714572202;

Bytes imageWith(std::uint8_t fill, std::size_t at = 0, std::uint8_t value = 0) {
  Bytes image(15968, fill);
  image[at] = value;
  return image;
}

std::string text(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

std::string hash8(const Bytes& image) {
  return sha256Hex(image).substr(0, 8);
}

std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Local time two hours ahead of UTC, without summer time, for every case.
class BackupStoreTest : public ::testing::Test {
 protected:
  testing::ScopedTimeZone zone_{"XXX-2"};
  TempDir t_;
};

TEST_F(BackupStoreTest, AReadIsKeptUnderItsLocalTimeModelAndHashInAFolderMadeForIt) {
  const std::string folder = t_.path("data/TarnsetADJ/backups");
  BackupStore store(folder + "/");
  EXPECT_EQ(store.newest(), "") << "no folder yet: no backup";
  const Bytes image = imageWith(0xFF, 79, 203);
  const BackupResult r = store.save(image, "2651", "0100", kWhen);
  ASSERT_EQ(r.outcome, Outcome::Written) << r.why;
  const std::string name = "20240501-160322-2651-0100-" + hash8(image) + ".bin";
  EXPECT_EQ(r.path, (fs::path(folder) / name).make_preferred().string()) << "in the system's own spelling";
  EXPECT_EQ(namesIn(folder), std::vector<std::string>{name}) << "no temporary file is left";
  EXPECT_EQ(readAll(r.path), text(image));
  EXPECT_EQ(store.newest(), r.path);
  EXPECT_EQ(BackupStore::describe(r.path),
            "2024-05-01 16:03:22, model 2651, sub-model 0100, SHA-256 " + hash8(image));

  // Hex letters of a model code are written in upper case.
  const BackupResult lower = store.save(imageWith(1), "ab1c", "00ef", kWhen + 60);
  ASSERT_EQ(lower.outcome, Outcome::Written) << lower.why;
  EXPECT_EQ(fs::path(lower.path).filename().string(),
            "20240501-160422-AB1C-00EF-" + hash8(imageWith(1)) + ".bin");
}

TEST_F(BackupStoreTest, AnIdenticalReadWritesNothingAndADifferentOneWritesAnother) {
  BackupStore store(t_.path("b"));
  const Bytes a = imageWith(0xFF, 79, 203);
  const Bytes b = imageWith(0xFF, 79, 204);
  const BackupResult first = store.save(a, "2651", "0100", kWhen);
  ASSERT_EQ(first.outcome, Outcome::Written) << first.why;

  const BackupResult again = store.save(a, "2651", "0100", kWhen + 3600);
  EXPECT_EQ(again.outcome, Outcome::SameAsNewest);
  EXPECT_EQ(again.path, first.path);
  EXPECT_EQ(namesIn(t_.path("b")).size(), 1u);

  const BackupResult changed = store.save(b, "2651", "0100", kWhen + 3600);
  ASSERT_EQ(changed.outcome, Outcome::Written) << changed.why;
  EXPECT_EQ(fs::path(changed.path).filename().string(), "20240501-170322-2651-0100-" + hash8(b) + ".bin");
  EXPECT_EQ(store.newest(), changed.path);

  // Back to the first image: it differs from the newest backup, so it is kept again.
  const BackupResult back = store.save(a, "2651", "0100", kWhen + 7200);
  ASSERT_EQ(back.outcome, Outcome::Written) << back.why;
  EXPECT_EQ(namesIn(t_.path("b")).size(), 3u);
  EXPECT_EQ(readAll(back.path), text(a));

  // Newest is the latest time named, not the last file written (a clock set back).
  const BackupResult early = store.save(b, "2651", "0100", kWhen - 86400);
  ASSERT_EQ(early.outcome, Outcome::Written) << early.why;
  EXPECT_EQ(fs::path(early.path).filename().string(), "20240430-160322-2651-0100-" + hash8(b) + ".bin");
  EXPECT_EQ(store.newest(), back.path);
}

TEST_F(BackupStoreTest, BackupsInTheSameSecondGetDistinctNamesInTheirOrder) {
  const std::string folder = t_.path("b");
  BackupStore store(folder);
  const Bytes a = imageWith(0x11);
  const Bytes b = imageWith(0x22);
  const std::string stem = folder + "/20240501-160322-2651-0100-";
  const BackupResult r1 = store.save(a, "2651", "0100", kWhen);
  const BackupResult r2 = store.save(b, "2651", "0100", kWhen);
  const BackupResult r3 = store.save(a, "2651", "0100", kWhen);
  ASSERT_EQ(r3.outcome, Outcome::Written) << r3.why;
  EXPECT_EQ(fs::path(r1.path), fs::path(stem + hash8(a) + ".bin"));
  EXPECT_EQ(fs::path(r2.path), fs::path(stem + hash8(b) + "-2.bin"));
  EXPECT_EQ(fs::path(r3.path), fs::path(stem + hash8(a) + "-3.bin"));
  EXPECT_EQ(readAll(r1.path), text(a));
  EXPECT_EQ(readAll(r2.path), text(b));
  EXPECT_EQ(readAll(r3.path), text(a));
  EXPECT_EQ(store.newest(), r3.path);
  EXPECT_EQ(BackupStore::describe(r3.path), "2024-05-01 16:03:22, model 2651, sub-model 0100, SHA-256 " +
                                                hash8(a) + ", no. 3 of that second");

  // A name taken by something that is no backup is passed over, not replaced.
  const Bytes c = imageWith(0x33);
  fs::create_directory(folder + "/20240501-160323-2651-0100-" + hash8(c) + ".bin");
  const BackupResult r4 = store.save(c, "2651", "0100", kWhen + 1);
  ASSERT_EQ(r4.outcome, Outcome::Written) << r4.why;
  EXPECT_EQ(fs::path(r4.path), fs::path(folder + "/20240501-160323-2651-0100-" + hash8(c) + "-2.bin"));
  EXPECT_TRUE(fs::is_directory(folder + "/20240501-160323-2651-0100-" + hash8(c) + ".bin"));
}

TEST_F(BackupStoreTest, FilesThatAreNotBackupsAreIgnored) {
  const std::string folder = t_.path("b");
  fs::create_directories(folder);
  const Bytes image = imageWith(0x42);
  const std::string h = hash8(image);
  // All hold the image and all name a later time, yet none is a backup.
  const char* notBackups[] = {
      "notes.txt",
      "20990101-000000-2651-0100-%s.txt",
      "20991301-000000-2651-0100-%s.bin",    // month 13
      "20990101-240000-2651-0100-%s.bin",    // hour 24
      "20990101-000000-2651-0100-%s-1.bin",  // counts start at 2
      "20990101-000000-2651-0100-%s-02.bin",
      "20990101-000000-265-10100-%s.bin",
      "20990101-000000-2651-0100-zzzzzzzz.bin",
      "20990101-000000-2651-0100-%s.bin.tmp-1-1",
      ".20990101-000000-2651-0100-%s.bin.tmp-1-1",
      "x20990101-000000-2651-0100-%s.bin",
  };
  std::vector<std::string> names;
  for (const char* pattern : notBackups) {
    std::string name = pattern;
    if (const auto at = name.find("%s"); at != std::string::npos) name.replace(at, 2, h);
    t_.write("b/" + name, text(image));
    names.push_back(name);
    EXPECT_EQ(BackupStore::describe(folder + "/" + name), "") << name;
  }
  // A folder named as a backup is none either.
  fs::create_directory(folder + "/20990101-000000-2651-0100-" + h + "-7.bin");
  BackupStore store(folder);
  EXPECT_EQ(store.newest(), "");

  const BackupResult r = store.save(image, "2651", "0100", kWhen);
  ASSERT_EQ(r.outcome, Outcome::Written) << r.why;
  EXPECT_EQ(store.newest(), r.path);
  for (const std::string& name : names) EXPECT_EQ(readAll(folder + "/" + name), text(image)) << name;

  // A later backup of another program's making counts as soon as its name is a backup's.
  const std::string later = folder + "/20990101-000000-2651-0100-" + h + "-4.bin";
  t_.write("b/" + fs::path(later).filename().string(), text(imageWith(0x43)));
  EXPECT_EQ(fs::path(store.newest()), fs::path(later));
  EXPECT_EQ(store.save(image, "2651", "0100", kWhen + 1).outcome, Outcome::Written)
      << "the newest backup holds another image";
  t_.write("b/" + fs::path(later).filename().string(), text(image));
  const BackupResult same = store.save(image, "2651", "0100", kWhen + 2);
  EXPECT_EQ(same.outcome, Outcome::SameAsNewest);
  EXPECT_EQ(fs::path(same.path), fs::path(later));
}

}  // namespace
}  // namespace tarnset
