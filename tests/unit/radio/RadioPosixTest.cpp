// What only a POSIX file system shows: modes, owners, links, a file-size limit that
// makes a write fail as a full disk does, folders without write permission.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>

#include "platform/IniFile.h"
#include "radio/BackupStore.h"
#include "radio/Sha256.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"
#include "support/TimeZone.h"

namespace tarnset {
namespace {

using testing::FileSizeLimit;
using testing::readAll;
using testing::TempDir;
namespace fs = std::filesystem;
using Outcome = BackupResult::Outcome;

// 2024-05-01 14:03:22 UTC, which is 16:03:22 in the zone the tests set.
constexpr std::time_t kWhen = 1714572202;

std::string hash8(const Bytes& image) {
  return sha256Hex(image).substr(0, 8);
}

TEST(IniFile, WritingReplacesTheFileInOneStep) {
  TempDir t;
  const std::string f = t.write("a.ini", "[S]\nk=1\n");
  ASSERT_EQ(::chmod(f.c_str(), 0640), 0);
  const std::string link = t.path("link.ini");
  fs::create_symlink(f, link);
  ASSERT_TRUE(iniWriteString("S", "k", "2", link));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(readAll(f), "[S]\nk=2\n");
  struct stat st {};
  ASSERT_EQ(::stat(f.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(std::distance(fs::directory_iterator(t.dir()), fs::directory_iterator()), 2);  // no temp file
}

// Local time two hours ahead of UTC, without summer time.
class BackupStoreTest : public ::testing::Test {
 protected:
  testing::ScopedTimeZone zone_{"XXX-2"};
  TempDir t_;
};

TEST_F(BackupStoreTest, AFolderOrFileThatCannotBeWrittenFailsWithAReasonAndLeavesNothing) {
  const Bytes image(15968, 0x5A);
  // Under a regular file no folder can be made.
  const std::string plain = t_.write("plain", "data");
  const BackupResult underFile = BackupStore(plain + "/backups").save(image, "2651", "0100", kWhen);
  EXPECT_EQ(underFile.outcome, Outcome::Failed);
  EXPECT_EQ(underFile.why, "cannot create the backup folder " + plain + "/backups: Not a directory");
  EXPECT_EQ(underFile.path, "");
  EXPECT_EQ(readAll(plain), "data");

  // The disk takes only part of the image.
  BackupStore store(t_.path("full"));
  {
    FileSizeLimit limit(4096);
    const BackupResult r = store.save(image, "2651", "0100", kWhen);
    EXPECT_EQ(r.outcome, Outcome::Failed);
    EXPECT_EQ(r.why, "cannot write " + t_.path("full") + "/20240501-160322-2651-0100-" + hash8(image) +
                         ".bin: File too large");
  }
  EXPECT_TRUE(fs::is_empty(t_.path("full")));
  EXPECT_EQ(store.newest(), "");

  // A model code that cannot be part of the name.
  const BackupResult badModel = store.save(image, "265", "0100", kWhen);
  EXPECT_EQ(badModel.outcome, Outcome::Failed);
  EXPECT_EQ(badModel.why, "the radio's model 265-0100 is not two 4-digit hex codes");
  EXPECT_EQ(store.save(image, "2651", "01G0", kWhen).outcome, Outcome::Failed);
  EXPECT_TRUE(fs::is_empty(t_.path("full")));

  // A folder without write permission (root writes anyway, so only for other users).
  if (::geteuid() != 0) {
    fs::create_directory(t_.path("locked"));
    fs::permissions(t_.path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    const BackupResult locked = BackupStore(t_.path("locked")).save(image, "2651", "0100", kWhen);
    EXPECT_EQ(locked.outcome, Outcome::Failed);
    EXPECT_NE(locked.why.find("Permission denied"), std::string::npos) << locked.why;
    fs::permissions(t_.path("locked"), fs::perms::owner_all);
    EXPECT_TRUE(fs::is_empty(t_.path("locked")));
  }
}

}  // namespace
}  // namespace tarnset
