// Where the options file and the backups live, and the single-instance lock.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/AppLocations.h"
#include "platform/InstanceLock.h"

namespace tarnset {
namespace {

namespace fs = std::filesystem;

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tarnset-loc-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

using OptionsFilePath = TempDir;

TEST_F(OptionsFilePath, AWritableProgramFolderKeepsTheFileBesideTheProgram) {
  const ConfigEnv env{(dir_ / "xdg").string(), std::nullopt, (dir_ / "home").string()};
  EXPECT_EQ(optionsFilePath(dir_.string(), env), (dir_ / "TarnsetADJ.rs").string());
  EXPECT_FALSE(fs::exists(dir_ / "xdg"));
}

TEST_F(OptionsFilePath, OtherwiseTheConfigFolderIsUsedAndCreated) {
  const std::string programDir = (dir_ / "not-there" / "bin").string();
  ConfigEnv env{(dir_ / "xdg").string(), std::nullopt, (dir_ / "home").string()};
  EXPECT_EQ(optionsFilePath(programDir, env), (dir_ / "xdg/TarnsetADJ/TarnsetADJ.rs").string());
  EXPECT_TRUE(fs::is_directory(dir_ / "xdg/TarnsetADJ"));

  for (const auto& xdg : {std::optional<std::string>{}, std::optional<std::string>{""},
                          std::optional<std::string>{"relative/config"}}) {
    env.xdgConfigHome = xdg;
    EXPECT_EQ(optionsFilePath(programDir, env), (dir_ / "home/.config/TarnsetADJ/TarnsetADJ.rs").string());
  }
  EXPECT_TRUE(fs::is_directory(dir_ / "home/.config/TarnsetADJ"));
}

// Run as root, or from a writable prefix, an installed program could write beside itself;
// a system folder keeps the options only when the file is already there.
TEST_F(OptionsFilePath, ASystemFolderKeepsTheFileOnlyWhenItIsAlreadyThere) {
  const fs::path prefix = dir_ / "usr";
  const fs::path bin = prefix / "bin";
  fs::create_directories(bin);
  const ConfigEnv env{(dir_ / "xdg").string(), std::nullopt, (dir_ / "home").string()};
  const std::vector<std::string> system = {"/usr", prefix.string()};
  EXPECT_EQ(optionsFilePath(bin.string(), env, system), (dir_ / "xdg/TarnsetADJ/TarnsetADJ.rs").string());
  EXPECT_FALSE(fs::exists(bin / "TarnsetADJ.rs"));
  std::ofstream(bin / "TarnsetADJ.rs") << "[OPTION]\n";
  EXPECT_EQ(optionsFilePath(bin.string(), env, system), (bin / "TarnsetADJ.rs").string());
  // A folder beside the prefix is no system folder; "/" never counts as one.
  fs::create_directories(dir_ / "usrlocal");
  EXPECT_EQ(optionsFilePath((dir_ / "usrlocal").string(), env, system),
            (dir_ / "usrlocal/TarnsetADJ.rs").string());
  EXPECT_FALSE(isUnderFolders((dir_ / "usrlocal").string(), {"/"}));
  EXPECT_TRUE(isUnderFolders("/usr/bin", {"/usr"}));
  EXPECT_TRUE(isUnderFolders("/usr", {"/usr"}));
  EXPECT_FALSE(isUnderFolders("/usrx/bin", {"/usr"}));
}

using BackupsFolder = TempDir;

TEST_F(BackupsFolder, IsBelowXdgDataHomeElseBelowTheHomeAndIsNotCreated) {
  ConfigEnv env{(dir_ / "config").string(), std::nullopt, (dir_ / "home").string(), (dir_ / "data").string()};
  EXPECT_EQ(backupsFolder(env), (dir_ / "data/TarnsetADJ/backups/").string());
  for (const auto& xdg : {std::optional<std::string>{}, std::optional<std::string>{""},
                          std::optional<std::string>{"relative/data"}}) {
    env.xdgDataHome = xdg;
    EXPECT_EQ(backupsFolder(env), (dir_ / "home/.local/share/TarnsetADJ/backups/").string());
  }
  EXPECT_FALSE(fs::exists(dir_ / "data"));
  EXPECT_FALSE(fs::exists(dir_ / "home"));
  EXPECT_FALSE(fs::exists(dir_ / "config"));

  // Without HOME (or with a relative one) the password database names the home.
  const passwd* pw = ::getpwuid(::getuid());
  ASSERT_NE(pw, nullptr);
  for (const auto& home : {std::optional<std::string>{}, std::optional<std::string>{"home"}}) {
    EXPECT_EQ(backupsFolder(ConfigEnv{std::nullopt, std::nullopt, home, std::nullopt}),
              (fs::path(pw->pw_dir) / ".local/share/TarnsetADJ/backups/").string());
  }
}

TEST(ConfigEnvTest, TheProcessEnvironmentGivesXdgDataHome) {
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
  ::setenv("XDG_DATA_HOME", "/srv/bench/data", 1);
  EXPECT_EQ(ConfigEnv::fromProcess().xdgDataHome, "/srv/bench/data");
  ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(ConfigEnv::fromProcess().xdgDataHome, std::nullopt);
  if (saved) ::setenv("XDG_DATA_HOME", saved->c_str(), 1);
}

using InstanceLockTest = TempDir;

TEST_F(InstanceLockTest, ASecondHolderIsRefusedUntilTheFirstLetsGo) {
  const ConfigEnv env{std::nullopt, dir_.string(), std::nullopt};
  auto first = std::make_unique<InstanceLock>(env);
  ASSERT_EQ(first->result(), InstanceLock::Result::Acquired);
  EXPECT_FALSE(first->alreadyRunning());

  InstanceLock second(env);
  EXPECT_EQ(second.result(), InstanceLock::Result::AlreadyRunning);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    InstanceLock other(env);
    ::_exit(other.alreadyRunning() ? 3 : 4);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);

  first.reset();
  EXPECT_EQ(InstanceLock(env).result(), InstanceLock::Result::Acquired);
}

TEST_F(InstanceLockTest, ALockFileThatCannotBeMadeOrTrustedDoesNotStopTheProgram) {
  InstanceLock missingFolder(ConfigEnv{std::nullopt, (dir_ / "gone").string(), std::nullopt});
  EXPECT_EQ(missingFolder.result(), InstanceLock::Result::CouldNotCheck);
  EXPECT_FALSE(missingFolder.alreadyRunning());

  // A link planted where the lock file belongs is not followed.
  fs::create_symlink(dir_ / "elsewhere", dir_ / "tarnset-adj.lock");
  InstanceLock planted(ConfigEnv{std::nullopt, dir_.string(), std::nullopt});
  EXPECT_EQ(planted.result(), InstanceLock::Result::CouldNotCheck);
  EXPECT_FALSE(fs::exists(dir_ / "elsewhere"));
}

}  // namespace
}  // namespace tarnset
