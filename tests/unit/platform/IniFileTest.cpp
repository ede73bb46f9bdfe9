#include <gtest/gtest.h>

#include "platform/IniFile.h"
#include "support/TempDir.h"

namespace tarnset {
namespace {

using testing::readAll;
using testing::TempDir;
namespace fs = std::filesystem;

std::string read(const std::string& file, const std::string& section, const std::string& key,
                 std::size_t size = 255) {
  return iniReadString(section, key, "<default>", size, file);
}

TEST(IniFile, ReadingFindsTheFirstMatchIgnoringCaseAndBlanks) {
  TempDir t;
  EXPECT_EQ(read(t.path("none.ini"), "OPTION", "ComPort"), "<default>");
  const std::string f = t.write("a.ini",
                                "ComPort=0\n"  // before any section: nobody's
                                "; comment\n"
                                "  [ Option ]  \n"
                                "  comport  =   3   \n"
                                "ComPort=4\n"
                                "Empty=\n"
                                "NoEquals\n"
                                "Quoted=\"  spaced  \"\n"
                                "Eq=a=b\n"
                                "[OPTION]\n"
                                "OnlyHere=5\n"
                                "[BROKEN\n"
                                "Hidden=6\n");
  EXPECT_EQ(read(f, "OPTION", "COMPORT"), "3");
  EXPECT_EQ(read(f, "OPTION", "Empty"), "");  // present but empty: not the default
  EXPECT_EQ(read(f, "OPTION", "NoEquals"), "<default>");
  EXPECT_EQ(read(f, "OPTION", "Quoted"), "  spaced  ");
  EXPECT_EQ(read(f, "OPTION", "Eq"), "a=b");
  EXPECT_EQ(read(f, "OPTION", "OnlyHere"), "<default>");  // only the first section counts
  EXPECT_EQ(read(f, "OPTION", "Hidden"), "<default>");    // an unclosed header ends the section
  EXPECT_EQ(read(f, "BROKEN", "Hidden"), "<default>");
  EXPECT_EQ(read(f, "Other", "ComPort"), "<default>");
  // Texts are cut to the buffer size less one, defaults included.
  EXPECT_EQ(read(f, "OPTION", "Eq", 3), "a=");
  EXPECT_EQ(read(f, "OPTION", "Missing", 4), "<de");
  EXPECT_EQ(read(f, "OPTION", "Eq", 0), "");
}

TEST(IniFile, WritingChangesOneLineAndKeepsEveryOther) {
  TempDir t;
  const std::string f = t.write("a.ini",
                                "; bench settings\r\n"
                                "[PORTS]\r\n"
                                "COM1=/dev/serial/by-id/usb-x\r\n"
                                "\r\n"
                                "[option]\r\n"
                                "  comport = 3\r\n"
                                "ComPort=7\r\n"
                                "\r\n"
                                "[Other]\r\n"
                                "x=y");
  ASSERT_TRUE(iniWriteString("OPTION", "ComPort", "4", f));
  ASSERT_TRUE(iniWriteString("OPTION", "NewKey", "n", f));
  ASSERT_TRUE(iniWriteString("Other", "z", "1", f));
  ASSERT_TRUE(iniWriteString("Added", "k", "v", f));
  EXPECT_EQ(readAll(f),
            "; bench settings\r\n"
            "[PORTS]\r\n"
            "COM1=/dev/serial/by-id/usb-x\r\n"
            "\r\n"
            "[option]\r\n"
            "  comport = 4\r\n"
            "ComPort=7\r\n"
            "NewKey=n\r\n"
            "\r\n"
            "[Other]\r\n"
            "x=y\r\n"
            "z=1\r\n"
            "\r\n"
            "[Added]\r\n"
            "k=v\r\n");

  const std::string created = t.path("new.ini");
  ASSERT_TRUE(iniWriteString("OPTION", "ComPort", "1", created));
  EXPECT_EQ(readAll(created), "[OPTION]\nComPort=1\n");
}

TEST(IniFile, WritingTheSameValueAgainLeavesTheFileAsItIs) {
  TempDir t;
  const std::string f = t.write("a.ini", "[S]\nk =  1\n");
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(iniWriteString("S", "k", " \t2", f));
    EXPECT_EQ(readAll(f), "[S]\nk =  2\n") << "write " << i;
  }
  ASSERT_TRUE(iniWriteString("S", "new", "  3", f));
  const std::string once = readAll(f);
  ASSERT_TRUE(iniWriteString("S", "new", "  3", f));
  EXPECT_EQ(readAll(f), once);
  EXPECT_EQ(read(f, "S", "new"), "3");
}

TEST(IniFile, WritingAfterALastLineEndingInACrKeepsItsValue) {
  TempDir t;
  const std::string f = t.write("a.ini", "[A]\nx=1\r");  // a CR LF file cut after the CR
  ASSERT_EQ(read(f, "A", "x"), "1\r");
  ASSERT_TRUE(iniWriteString("B", "y", "2", f));
  EXPECT_EQ(read(f, "A", "x"), "1\r");
  EXPECT_EQ(readAll(f), "[A]\nx=1\r\r\n\n[B]\ny=2\n");

  const std::string g = t.write("b.ini", "[A]\nx=1\r");
  ASSERT_TRUE(iniWriteString("A", "y", "2", g));
  EXPECT_EQ(read(g, "A", "x"), "1\r");
  EXPECT_EQ(read(g, "A", "y"), "2");
}

TEST(IniFile, DeletingAKeyRemovesItsLineAndKeepsEveryOther) {
  TempDir t;
  const std::string text =
      "; bench PC\r\n[OPTION]\r\nComPort=1\r\n\r\n[PORTS]\r\nCOM1 = "
      "/dev/ttyUSB0\r\nCOM2=/dev/x\r\ncom1=dup\r\n";
  const std::string f = t.write("a.ini", text);
  ASSERT_TRUE(iniDeleteKey("ports", "Com1", f));
  EXPECT_EQ(readAll(f), "; bench PC\r\n[OPTION]\r\nComPort=1\r\n\r\n[PORTS]\r\nCOM2=/dev/x\r\ncom1=dup\r\n")
      << "the first of two is the one read and the one removed";
  EXPECT_EQ(read(f, "PORTS", "COM1"), "dup");

  // A key, a section or a file that is not there: nothing to remove, nothing written.
  const auto before = fs::last_write_time(f);
  EXPECT_TRUE(iniDeleteKey("PORTS", "COM9", f));
  EXPECT_TRUE(iniDeleteKey("NONE", "COM2", f));
  EXPECT_EQ(fs::last_write_time(f), before);
  EXPECT_TRUE(iniDeleteKey("PORTS", "COM1", t.path("missing.ini")));
  EXPECT_FALSE(fs::exists(t.path("missing.ini")));

  // The last line without a line break: the file goes on ending without one.
  const std::string g = t.write("b.ini", "[PORTS]\nCOM1=a\nCOM2=b");
  ASSERT_TRUE(iniDeleteKey("PORTS", "COM2", g));
  EXPECT_EQ(readAll(g), "[PORTS]\nCOM1=a");
  // A folder where the file should be cannot be rewritten.
  fs::create_directories(t.path("dir.ini"));
  EXPECT_FALSE(iniDeleteKey("PORTS", "COM1", t.path("dir.ini")));
}

TEST(IniFile, WhatCannotBeStoredIsRefusedAndNothingWritten) {
  TempDir t;
  const std::string f = t.write("a.ini", "[S]\nk=1\n");
  const char* refused[][2] = {{"S", "k\n[T]"}, {"S", ";k"},  {"S", "a=b"},
                              {"S", "  "},     {"S]x", "k"}, {"S\nT", "k"}};
  for (const auto& [section, key] : refused) EXPECT_FALSE(iniWriteString(section, key, "1", f)) << key;
  EXPECT_FALSE(iniWriteString("S", "k", "1\n[T]\nx=2", f));
  EXPECT_FALSE(iniWriteString("S", "k", "1", ""));
  EXPECT_EQ(readAll(f), "[S]\nk=1\n");

  // Places that cannot hold the file: a missing directory, a regular file as parent,
  // a directory in the file's place.
  const std::string plain = t.write("plain", "data");
  fs::create_directory(t.path("dir.ini"));
  for (const std::string& bad : {t.path("missing/a.ini"), plain + "/a.ini", t.path("dir.ini")}) {
    EXPECT_FALSE(iniWriteString("S", "k", "1", bad)) << bad;
    EXPECT_EQ(read(bad, "S", "k"), "<default>") << bad;
  }
  EXPECT_FALSE(fs::exists(t.path("missing")));
  EXPECT_EQ(readAll(plain), "data");
  EXPECT_TRUE(fs::is_directory(t.path("dir.ini")));
}

TEST(IniFile, SectionsAreListedOnceAndRemovedWithTheirLines) {
  TempDir t;
  const std::string f = t.write(
      "a.ini",
      "; head\r\n[One]\r\nk=1\r\n\r\n[ two ]\r\nk=2\r\n; note\r\n[ONE]\r\nk=3\r\n[broken\r\n[Three]\r\n");
  EXPECT_EQ(iniSectionNames(f), (std::vector<std::string>{"One", "two", "Three"}));
  EXPECT_TRUE(iniSectionNames(t.path("missing.ini")).empty());

  // The first of duplicates goes with its lines up to the next header; the rest stays,
  // line ends included.
  ASSERT_TRUE(iniDeleteSection("one", f));
  EXPECT_EQ(readAll(f), "; head\r\n[ two ]\r\nk=2\r\n; note\r\n[ONE]\r\nk=3\r\n[broken\r\n[Three]\r\n");
  ASSERT_TRUE(iniDeleteSection("TWO", f));
  EXPECT_EQ(read(f, "one", "k"), "3");
  EXPECT_EQ(iniSectionNames(f), (std::vector<std::string>{"ONE", "Three"}));
  EXPECT_TRUE(iniDeleteSection("none", f));
  EXPECT_TRUE(iniDeleteSection("One", t.path("missing.ini")));
  EXPECT_FALSE(fs::exists(t.path("missing.ini")));
  fs::create_directories(t.path("dir.ini"));
  EXPECT_FALSE(iniDeleteSection("One", t.path("dir.ini")));
}

}  // namespace
}  // namespace tarnset
