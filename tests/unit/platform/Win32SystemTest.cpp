// The Windows platform's files, locations, instance mutex and event wait, on the system
// itself (under Wine in the cross-built tree).
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>

#include "platform/AppLocations.h"
#include "platform/AtomicFile.h"
#include "platform/EventWait.h"
#include "platform/Files.h"
#include "platform/InstanceLock.h"
#include "support/TempDir.h"

namespace tarnset {
namespace {

namespace fs = std::filesystem;
using testing::readAll;
using testing::TempDir;
using Status = FileContent::Status;

std::size_t entriesIn(const std::string& dir) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(Win32Files, WholeFilesAreReadAndEverythingElseIsNamedWithoutReading) {
  const TempDir t;
  const FileContent ok = readWholeFile(t.write("a.ini", "[S]\r\nk=1\r\n"), 100);
  EXPECT_EQ(ok.status, Status::Ok);
  EXPECT_EQ(ok.bytes, "[S]\r\nk=1\r\n");
  EXPECT_EQ(ok.size, 10u);

  const FileContent big = readWholeFile(t.write("big.bin", std::string(101, 'x')), 100);
  EXPECT_EQ(big.status, Status::TooLarge);
  EXPECT_EQ(big.size, 101u);
  EXPECT_TRUE(big.bytes.empty());

  const FileContent missing = readWholeFile(t.path("none.ini"), 100);
  EXPECT_EQ(missing.status, Status::Missing);
  EXPECT_FALSE(missing.why.empty());
  EXPECT_EQ(readWholeFile(t.path("no/such/folder/x.ini"), 100).status, Status::Missing);
  EXPECT_EQ(readWholeFile(t.dir(), 100).status, Status::Directory);
  // A device is never read: it could hold the program.
  EXPECT_EQ(readWholeFile("NUL", 100).status, Status::NotRegular);
}

TEST(Win32Files, TheProgramsFolderHoldsTheRunningExecutable) {
  const std::string dir = executableDirectory();
  ASSERT_NE(dir, ".");
  bool found = false;
  for (const auto& e : fs::directory_iterator(dir)) found = found || e.path().extension() == ".exe";
  EXPECT_TRUE(found) << dir;
  EXPECT_NE(dir.back(), '\\');
  // Under the test runner standard error is a pipe, never a console.
  EXPECT_FALSE(standardErrorIsTerminal());
}

TEST(Win32AtomicFile, WritesAndReplacesWholeFilesAndNeverReplacesWhenAskedNotTo) {
  const TempDir t;
  std::string why;
  const std::string path = t.path("image.bin");
  ASSERT_TRUE(writeFileAtomically(path, std::string("\x00\x01\r\n", 4), why)) << why;
  EXPECT_EQ(readAll(path), std::string("\x00\x01\r\n", 4)) << "bytes as given, no text translation";
  ASSERT_TRUE(writeFileAtomically(path, "second", why)) << why;
  EXPECT_EQ(readAll(path), "second");

  EXPECT_FALSE(writeFileAtomically(path, "third", why, false));
  EXPECT_EQ(why, path + " exists already");
  EXPECT_EQ(readAll(path), "second");
  EXPECT_EQ(entriesIn(t.dir()), 1u) << "no temporary file is left behind";

  EXPECT_FALSE(writeFileAtomically(t.path("missing/x.bin"), "x", why));
  EXPECT_EQ(why.rfind("cannot create " + t.path("missing/x.bin") + ": ", 0), 0u) << why;
  EXPECT_FALSE(writeFileAtomically(t.dir() + "/", "x", why));
  EXPECT_EQ(entriesIn(t.dir()), 1u);
}

TEST(Win32Locations, TheOptionsFileStaysBesideTheProgramWhereItCanElseGoesToAppData) {
  const TempDir t;
  fs::create_directories(t.path("program"));
  ConfigEnv env{std::nullopt, std::nullopt, std::nullopt};
  env.appData = t.path("appdata");

  // A folder where a file can be made keeps the options beside the program, and the
  // probe file used to find that out is gone.
  EXPECT_EQ(fs::path(optionsFilePath(t.path("program"), env)), fs::path(t.path("program")) / "TarnsetADJ.rs");
  EXPECT_EQ(entriesIn(t.path("program")), 0u);
  EXPECT_FALSE(fs::exists(t.path("appdata")));

  // No usable program folder: the user's application data, created for it.
  const std::string inAppData = optionsFilePath(t.path("gone"), env);
  EXPECT_EQ(fs::path(inAppData), fs::path(t.path("appdata")) / "TarnsetADJ" / "TarnsetADJ.rs");
  EXPECT_TRUE(fs::is_directory(fs::path(inAppData).parent_path()));
  // Backups sit beside the options file.
  EXPECT_EQ(fs::path(backupsFolder(env, inAppData)), fs::path(t.path("appdata")) / "TarnsetADJ" / "backups" / "");

  // A relative APPDATA is not trusted: beside the program it is.
  env.appData = "relative";
  EXPECT_EQ(fs::path(optionsFilePath(t.path("gone"), env)), fs::path(t.path("gone")) / "TarnsetADJ.rs");
}

TEST(Win32InstanceLock, ASecondHolderIsRefusedUntilTheFirstLetsGo) {
  const std::string name = "Local\\TarnsetADJ-test-" + std::to_string(GetCurrentProcessId());
  {
    const InstanceLock first(name);
    EXPECT_EQ(first.result(), InstanceLock::Result::Acquired);
    const InstanceLock second(name);
    EXPECT_TRUE(second.alreadyRunning());
  }
  const InstanceLock again(name);
  EXPECT_EQ(again.result(), InstanceLock::Result::Acquired);
  // A name the system refuses does not stop the program.
  const InstanceLock odd("NoSuchNamespace\\TarnsetADJ");
  EXPECT_EQ(odd.result(), InstanceLock::Result::CouldNotCheck);
  EXPECT_FALSE(odd.alreadyRunning());
}

TEST(Win32EventWait, ReadyEventsAreNamedAndClosedOnesAreInvalid) {
  HANDLE a = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE b = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const std::vector<Waitable> both = {reinterpret_cast<Waitable>(a), reinterpret_cast<Waitable>(b)};
  std::vector<WaitState> states;
  EXPECT_EQ(waitForAny(both, 0, states), 0);
  EXPECT_EQ(states, (std::vector<WaitState>{WaitState::Quiet, WaitState::Quiet}));

  SetEvent(b);
  EXPECT_EQ(waitForAny(both, 1000, states), 1);
  EXPECT_EQ(states, (std::vector<WaitState>{WaitState::Quiet, WaitState::Ready}));
  SetEvent(a);
  EXPECT_EQ(waitForAny(both, 1000, states), 2);
  EXPECT_EQ(states, (std::vector<WaitState>{WaitState::Ready, WaitState::Ready}));

  CloseHandle(a);
  ResetEvent(b);
  EXPECT_EQ(waitForAny(both, 1000, states), 1);
  EXPECT_EQ(states, (std::vector<WaitState>{WaitState::Invalid, WaitState::Quiet}));
  CloseHandle(b);

  // Nothing to wait on: the wait is a pause that ends with nothing ready.
  EXPECT_EQ(waitForAny({}, 30, states), 0);
  EXPECT_TRUE(states.empty());
}

}  // namespace
}  // namespace tarnset
