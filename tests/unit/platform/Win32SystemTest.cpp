// The Windows platform's files, locations, instance mutex and event wait, on the system
// itself (under Wine in the cross-built tree).
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/AppLocations.h"
#include "platform/AtomicFile.h"
#include "platform/EventWait.h"
#include "platform/Files.h"
#include "platform/InstanceLock.h"
#include "platform/Paths.h"
#include "platform/win32/Text.h"
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
  EXPECT_EQ(fs::path(backupsFolder(env, inAppData)),
            fs::path(t.path("appdata")) / "TarnsetADJ" / "backups" / "");

  // A relative APPDATA is not trusted: beside the program it is.
  env.appData = "relative";
  EXPECT_EQ(fs::path(optionsFilePath(t.path("gone"), env)), fs::path(t.path("gone")) / "TarnsetADJ.rs");
}

// Names with an accent and Cyrillic letters, as a technician called José names his files.
const std::string kFolder = "Прибор José";
const std::string kImage = "Снимок é.bin";

TEST(Win32Paths, Utf8NamesGoThroughTheWideFormAndBack) {
  const std::string name = "C:\\Users\\José\\Прибор\\Снимок.bin";
  const fs::path p = pathFromUtf8(name);
  EXPECT_EQ(
      p.native(),
      L"C:\\Users\\Jos\u00e9\\\u041f\u0440\u0438\u0431\u043e\u0440\\\u0421\u043d\u0438\u043c\u043e\u043a."
      L"bin");
  EXPECT_EQ(pathToUtf8(p), name);
  EXPECT_EQ(pathToUtf8(p.filename()), "Снимок.bin");
  EXPECT_EQ(pathToUtf8(p.parent_path()), "C:\\Users\\José\\Прибор");
  // Bytes that are not UTF-8 (an older file's name in the ANSI code page) are read in
  // that code page, not lost.
  const std::string ansi = "Jos\xE9";
  wchar_t expected[8] = {};
  MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, expected, 8);
  EXPECT_EQ(pathFromUtf8(ansi).native(), std::wstring(expected));
  EXPECT_EQ(win32::utf8(win32::widen("ünïcödé Ω")), "ünïcödé Ω");
}

TEST(Win32Files, FilesInAnyScriptAreWrittenReadReplacedListedAndOpened) {
  const TempDir t;
  const std::string folder = pathToUtf8(pathFromUtf8(t.dir()) / pathFromUtf8(kFolder));
  ASSERT_TRUE(fs::create_directory(pathFromUtf8(folder)));
  const std::string image = pathToUtf8(pathFromUtf8(folder) / pathFromUtf8(kImage));
  std::string why;
  ASSERT_TRUE(writeFileAtomically(image, "first", why)) << why;
  ASSERT_TRUE(writeFileAtomically(image, "second", why)) << why;
  const FileContent read = readWholeFile(image, 100);
  EXPECT_EQ(read.status, Status::Ok) << read.why;
  EXPECT_EQ(read.bytes, "second");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(pathFromUtf8(folder)))
    names.push_back(pathToUtf8(e.path().filename()));
  EXPECT_EQ(names, std::vector<std::string>{kImage}) << "one file, named as asked";
  std::FILE* trace = openFile(pathToUtf8(pathFromUtf8(folder) / pathFromUtf8("След.txt")), "w");
  ASSERT_NE(trace, nullptr);
  std::fputs("START\n", trace);
  std::fclose(trace);
  EXPECT_EQ(readWholeFile(pathToUtf8(pathFromUtf8(folder) / pathFromUtf8("След.txt")), 100).bytes,
            "START\r\n");
  EXPECT_EQ(readWholeFile(folder, 100).status, Status::Directory);
}

TEST(Win32AtomicFile, AReplaceThatAnotherProgramHoldsForAMomentIsTriedAgain) {
  const TempDir t;
  const std::string path = t.write("held.bin", "old");
  std::string why;
  // A scanner that reads the file without letting it be replaced, for a moment.
  HANDLE held = CreateFileW(pathFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread scanner([held] {
    Sleep(150);
    CloseHandle(held);
  });
  EXPECT_TRUE(writeFileAtomically(path, "new", why)) << why;
  scanner.join();
  EXPECT_EQ(readAll(path), "new");

  // Held for good: the replace fails in the end and says why; the file is as it was.
  held = CreateFileW(pathFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(writeFileAtomically(path, "newer", why));
  EXPECT_EQ(why.rfind("cannot replace " + path + ": ", 0), 0u) << why;
  CloseHandle(held);
  EXPECT_EQ(readAll(path), "new");
  EXPECT_EQ(entriesIn(t.dir()), 1u) << "no temporary file is left behind";
}

TEST(Win32Locations, ACopyInAFolderOfAnyScriptKeepsItsOptionsBesideItAnInstalledOneInTheUsersData) {
  const TempDir t;
  const std::string program = pathToUtf8(pathFromUtf8(t.dir()) / pathFromUtf8(kFolder));
  fs::create_directories(pathFromUtf8(program));
  ConfigEnv env{std::nullopt, std::nullopt, std::nullopt};
  env.appData = pathToUtf8(pathFromUtf8(t.dir()) / pathFromUtf8("José") / "AppData");
  EXPECT_EQ(optionsFilePath(program, env), pathToUtf8(pathFromUtf8(program) / "TarnsetADJ.rs"));
  // Installed (below a program folder): the user's application data, though the folder
  // is writable.
  const std::string inData = optionsFilePath(program, env, {t.dir()});
  EXPECT_EQ(inData, pathToUtf8(pathFromUtf8(*env.appData) / "TarnsetADJ" / "TarnsetADJ.rs"));
  EXPECT_TRUE(fs::is_directory(pathFromUtf8(inData).parent_path()));
  EXPECT_TRUE(isUnderFolders(program, {t.dir()}));
  EXPECT_FALSE(isUnderFolders(t.dir(), {program}));
  EXPECT_FALSE(isUnderFolders(t.dir() + "x", {t.dir()})) << "a longer name is another folder";

  // The system's program folders, the per-user installer's among them; the application
  // data folder from the system, not from the environment.
  const std::vector<std::string> folders = programFolders("");
  ASSERT_FALSE(folders.empty());
  EXPECT_EQ(pathToUtf8(pathFromUtf8(folders.front()).filename()), "Programs") << folders.front();
  const ConfigEnv system = ConfigEnv::fromProcess();
  ASSERT_TRUE(system.appData.has_value());
  EXPECT_TRUE(pathFromUtf8(*system.appData).is_absolute()) << *system.appData;
}

TEST(Win32Text, SystemMessagesAreOneLineOfText) {
  const std::string text = win32::errorText(ERROR_ACCESS_DENIED);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
  EXPECT_NE(text, "system error 5") << "the system has a text for it";
  EXPECT_NE(text.back(), '.');
  EXPECT_EQ(win32::errorText(0x2FFFFFFF), "system error 805306367") << "a code without a text";
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
