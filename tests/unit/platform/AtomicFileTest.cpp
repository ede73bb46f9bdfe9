// Writing a whole file in one step: the path holds the old file or the whole new one,
// never part of it, and no temporary file outlives the call.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/AtomicFile.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"

namespace tarnset {
namespace {

using testing::FileSizeLimit;
using testing::readAll;
using testing::TempDir;
namespace fs = std::filesystem;

// The names in a folder, sorted.
std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(AtomicFile, WritesANewFileAndReplacesAnOldOneByANewOneWithItsModeAndOwner) {
  TempDir t;
  std::string why;
  const std::string binary("\x00\xFF\r\n\x1A tail", 9);
  ASSERT_TRUE(writeFileAtomically(t.path("new.bin"), binary, why)) << why;
  EXPECT_EQ(readAll(t.path("new.bin")), binary);
  EXPECT_EQ(why, "");

  const std::string old = t.write("old.bin", "old content, longer than the new one");
  ASSERT_EQ(::chmod(old.c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(old.c_str(), 4321, 4322), 0);
  }
  // A second name of the old file shows whether the file was rewritten in place.
  fs::create_hard_link(old, t.path("second-name.bin"));
  ASSERT_TRUE(writeFileAtomically(old, "new", why)) << why;
  EXPECT_EQ(readAll(old), "new");
  EXPECT_EQ(readAll(t.path("second-name.bin")), "old content, longer than the new one");
  struct stat st {};
  ASSERT_EQ(::stat(old.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
  }
  EXPECT_EQ(namesIn(t.dir()), (std::vector<std::string>{"new.bin", "old.bin", "second-name.bin"}));

  // A symbolic link at the path is itself replaced; what it pointed to stays.
  const std::string target = t.write("target.bin", "target");
  fs::create_symlink(target, t.path("link.bin"));
  ASSERT_TRUE(writeFileAtomically(t.path("link.bin"), "through", why)) << why;
  EXPECT_FALSE(fs::is_symlink(t.path("link.bin")));
  EXPECT_EQ(readAll(t.path("link.bin")), "through");
  EXPECT_EQ(readAll(target), "target");
}

TEST(AtomicFile, WithoutReplacingAnExistingPathIsNeverTouched) {
  TempDir t;
  std::string why;
  ASSERT_TRUE(writeFileAtomically(t.path("a.bin"), "first", why, false)) << why;
  EXPECT_EQ(readAll(t.path("a.bin")), "first");

  EXPECT_FALSE(writeFileAtomically(t.path("a.bin"), "second", why, false));
  EXPECT_EQ(why, t.path("a.bin") + " exists already");
  EXPECT_EQ(readAll(t.path("a.bin")), "first");

  // Not only files: a folder or a dangling link in the place is left as it is.
  fs::create_directory(t.path("folder.bin"));
  fs::create_symlink(t.path("nowhere"), t.path("dangling.bin"));
  for (const char* name : {"folder.bin", "dangling.bin"}) {
    EXPECT_FALSE(writeFileAtomically(t.path(name), "x", why, false)) << name;
    EXPECT_EQ(why, t.path(name) + " exists already");
  }
  EXPECT_TRUE(fs::is_directory(t.path("folder.bin")));
  EXPECT_TRUE(fs::is_symlink(t.path("dangling.bin")));
  EXPECT_FALSE(fs::exists(t.path("nowhere")));
  EXPECT_EQ(namesIn(t.dir()), (std::vector<std::string>{"a.bin", "dangling.bin", "folder.bin"}));
}

TEST(AtomicFile, AFailureSaysWhyAndLeavesThePathAsItWasWithNoTemporaryFile) {
  TempDir t;
  std::string why;
  // No folder to put the temporary file in.
  EXPECT_FALSE(writeFileAtomically(t.path("missing/a.bin"), "x", why));
  EXPECT_EQ(why, "cannot create " + t.path("missing/a.bin") + ": No such file or directory");
  const std::string plain = t.write("plain", "data");
  EXPECT_FALSE(writeFileAtomically(plain + "/a.bin", "x", why));
  EXPECT_EQ(why, "cannot create " + plain + "/a.bin: Not a directory");
  EXPECT_FALSE(writeFileAtomically(t.path("folder-only/"), "x", why));
  EXPECT_EQ(why.rfind("cannot create", 0), 0u) << why;

  // A folder in the file's place cannot be replaced by a file.
  fs::create_directory(t.path("dir.bin"));
  EXPECT_FALSE(writeFileAtomically(t.path("dir.bin"), "x", why));
  EXPECT_EQ(why, "cannot replace " + t.path("dir.bin") + ": Is a directory");
  EXPECT_TRUE(fs::is_empty(t.path("dir.bin")));

  // The disk takes only part of the new content: the old file stays whole.
  const std::string old = t.write("old.bin", "old");
  {
    FileSizeLimit limit(100);
    EXPECT_FALSE(writeFileAtomically(old, std::string(4096, 'n'), why));
    EXPECT_FALSE(writeFileAtomically(t.path("fresh.bin"), std::string(4096, 'n'), why, false));
  }
  EXPECT_EQ(why, "cannot write " + t.path("fresh.bin") + ": File too large");
  EXPECT_EQ(readAll(old), "old");
  EXPECT_EQ(namesIn(t.dir()), (std::vector<std::string>{"dir.bin", "old.bin", "plain"}));
}

}  // namespace
}  // namespace tarnset
