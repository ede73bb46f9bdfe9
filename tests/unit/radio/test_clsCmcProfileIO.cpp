#include <gtest/gtest.h>

#include <limits>

#include "platform/Files.h"
#include "platform/IniFile.h"
#include "radio/clsCmcProfileIO.h"
#include "support/TempDir.h"

namespace tarnset {
namespace {

using testing::readAll;
using testing::TempDir;

TEST(clsCmcProfileIOPaths, PathsSplitAtTheLastSlash) {
  clsCmcProfileIO p;
  EXPECT_EQ(p.FullPath(), "Profile.INI");
  p.setProgramDir("/opt/tarnset/");
  EXPECT_EQ(clsCmcProfileIO::GetFileName("/dir/sub/a.ini"), "a.ini");
  EXPECT_EQ(clsCmcProfileIO::GetFileName("C:a.ini"), "C:a.ini");
  EXPECT_EQ(p.GetPathName("/dir/sub/a.ini"), "/dir/sub");
  EXPECT_EQ(p.GetPathName("/a.ini"), "");
  EXPECT_EQ(p.GetPathName("a.ini"), "/opt/tarnset");
  EXPECT_EQ(p.GetPathName(""), "/opt/tarnset");
  p.setFullPath("/home/tech/TarnsetADJ.rs");
  EXPECT_EQ(p.Path(), "/home/tech/");
  EXPECT_EQ(p.Name(), "TarnsetADJ.rs");
  p.setFullPath("/root.ini");
  EXPECT_EQ(p.FullPath(), "/root.ini");
  p.setFullPath("bare.ini");
  EXPECT_EQ(p.FullPath(), "/opt/tarnset/bare.ini");
  p.SetCurrentPath();
  EXPECT_EQ(p.Path(), "/opt/tarnset/");

  // Without an override: the directory of the running executable, not the working one.
  clsCmcProfileIO real;
  real.SetCurrentPath();
  EXPECT_EQ(real.Path(), executableDirectory() + "/");
  EXPECT_EQ(std::filesystem::path(real.Path() + "x").parent_path(),
            std::filesystem::path(::testing::internal::GetArgvs()[0]).parent_path())
      << "the folder the test program was started from";

  EXPECT_EQ(clsCmcProfileIO::StripTerminator(std::string("abc\0def", 7)), "abc");
  EXPECT_EQ(clsCmcProfileIO::StripTerminator("plain"), "plain");
}

// A profile on "TarnsetADJ.rs" in a fresh directory, section OPTION.
class clsCmcProfileIOFile : public ::testing::Test {
 protected:
  clsCmcProfileIOFile() {
    prof.setProgramDir(tmp.dir());
    prof.SetCurrentPath();
    prof.setName("TarnsetADJ.rs");
    prof.setSection("OPTION");
  }
  std::string file() const { return prof.GetMyProfile(); }
  void writeFile(const std::string& content) { tmp.write("TarnsetADJ.rs", content); }
  void writeValue(const std::string& key, const std::string& text) {
    writeFile("[OPTION]\n" + key + "=" + text + "\n");
  }
  std::string stored(const std::string& key) const {
    return iniReadString("OPTION", key, "<none>", 255, file());
  }

  TempDir tmp;
  clsCmcProfileIO prof;
};

TEST_F(clsCmcProfileIOFile, EachTypeIsSavedInItsTextFormAndReadBack) {
  const std::pair<ProfileValue, const char*> cases[] = {
      {std::int16_t{-5}, "-5"},
      {std::int32_t{std::numeric_limits<std::int32_t>::min()}, "-2147483648"},
      {2.5f, "2.5"},
      {0.1f, "0.1"},
      {0.1, "0.1"},
      {1e300, "1e+300"},
      {1.0 / 3.0, "0.3333333333333333"},
      {Currency{125000}, "12.5"},
      {Currency{-1}, "-0.0001"},
      {Currency{std::numeric_limits<std::int64_t>::min()}, "-922337203685477.5808"},
      {std::uint8_t{255}, "255"},
      {std::string("a = b ; c"), "a = b ; c"},
      {true, "1"},
      {false, "0"},
      {DateTime{2024, 2, 29, 14, 5, 9}, "2024.02.29-14:05:09"},
  };
  for (const auto& [value, text] : cases) {
    ASSERT_TRUE(prof.saveData("Val", value)) << text;
    EXPECT_EQ(stored("Val"), text);
    // Read into the type's plain value, so that only the file can restore the original.
    ProfileValue back = value;
    std::visit([](auto& x) { x = std::decay_t<decltype(x)>{}; }, back);
    EXPECT_TRUE(prof.loadData("Val", back)) << text;
    EXPECT_EQ(back, value) << text;
  }
  // Values without a text form are refused and nothing is written.
  ASSERT_TRUE(std::filesystem::remove(file()));
  EXPECT_FALSE(prof.saveData("Val", std::monostate{}));
  EXPECT_FALSE(prof.saveData("Val", std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(prof.saveData("Val", DateTime{2005, 2, 29, 0, 0, 0}));
  EXPECT_FALSE(std::filesystem::exists(file()));
}

TEST_F(clsCmcProfileIOFile, ComPortDefaultsAndRefusals) {
  const ProfileValue one = std::int16_t{1}, seven = std::int16_t{7};
  ProfileValue v = seven;
  EXPECT_TRUE(prof.loadData("ComPort", v, one));  // no file: the default applies
  EXPECT_EQ(v, one);
  v = seven;
  EXPECT_TRUE(prof.loadData("ComPort", v));  // no default: the current value stays
  EXPECT_EQ(v, seven);

  writeValue("ComPort", "");  // present but empty: the default does not apply
  EXPECT_FALSE(prof.loadData("ComPort", v, one));
  EXPECT_EQ(v, seven);
  writeValue("ComPort", "3   ");
  EXPECT_TRUE(prof.loadData("ComPort", v, one));
  EXPECT_EQ(v, ProfileValue(std::int16_t{3}));
  writeValue("ComPort", "abc");
  EXPECT_FALSE(prof.loadData("ComPort", v, one));
  EXPECT_EQ(v, ProfileValue(std::int16_t{3}));

  // A default of another type, or an unsupported value, reads nothing.
  writeValue("ComPort", "5");
  EXPECT_FALSE(prof.loadData("ComPort", v, ProfileValue(std::int32_t{1})));
  EXPECT_EQ(v, ProfileValue(std::int16_t{3}));
  ProfileValue unsupported;
  EXPECT_FALSE(prof.loadData("ComPort", unsupported, one));
  EXPECT_EQ(unsupported, ProfileValue());
}

// The type's 9: what a refused text must leave in place.
ProfileValue nineOf(const ProfileValue& like) {
  return std::visit(
      [](const auto& x) -> ProfileValue {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, Currency>) {
          return Currency{9};
        } else if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>) {
          return T{9};
        } else {
          return x;
        }
      },
      like);
}

TEST_F(clsCmcProfileIOFile, NumberTextsConvertByTheTargetType) {
  const struct {
    const char* text;
    bool ok;
    ProfileValue expected;
  } cases[] = {
      {" 2.5", true, std::int16_t{2}},  // halves go to the even neighbour
      {"3.5", true, std::int16_t{4}},
      {"+.45E+1", true, std::int16_t{4}},
      {"32767.5", false, std::int16_t{9}},
      {"2147483648", false, std::int32_t{9}},
      {"-0.4", true, std::uint8_t{0}},
      {"256", false, std::uint8_t{9}},
      {"1e39", false, 9.0f},
      {"1e39", true, 1e39},
      {"1e400", false, 9.0},
      {"0.00015", true, Currency{2}},
      {"0.00005", true, Currency{0}},  // the half place is the first digit
      {"-0.000051", true, Currency{-1}},
      {"0.0000099", true, Currency{0}},  // every digit below the half place
      {"-9e-9999999", true, Currency{0}},
      {"-1.23456", true, Currency{-12346}},
      {"1.5e3", true, Currency{15000000}},
      {"922337203685477.5808", false, Currency{9}},
      {"1e-999999999999", true, Currency{0}},
  };
  for (const auto& c : cases) {
    writeValue("Val", c.text);
    ProfileValue v = nineOf(c.expected);
    EXPECT_EQ(prof.loadData("Val", v), c.ok) << c.text;
    EXPECT_EQ(v, c.expected) << c.text;
  }
  for (const char* junk : {"3abc", "1.2.3", "--1", ".", "e5", "1e", "0x10", "1,5", "nan", "inf", "1 2"}) {
    writeValue("Val", junk);
    ProfileValue i = std::int32_t{42}, d = 4.5, c = Currency{7};
    EXPECT_FALSE(prof.loadData("Val", i) || prof.loadData("Val", d) || prof.loadData("Val", c)) << junk;
    EXPECT_EQ(i, ProfileValue(std::int32_t{42}));
    EXPECT_EQ(d, ProfileValue(4.5));
    EXPECT_EQ(c, ProfileValue(Currency{7}));
  }
}

TEST_F(clsCmcProfileIOFile, BooleansDateTimesAndTexts) {
  for (const auto& [text, expected] :
       {std::pair{"0", false}, {"0   ", false}, {"-1", true}, {"00", true}, {"no", true}}) {
    writeValue("Flag", text);
    ProfileValue b = !expected;
    EXPECT_TRUE(prof.loadData("Flag", b)) << text;
    EXPECT_EQ(b, ProfileValue(expected)) << text;
  }

  const DateTime start{2001, 1, 1, 0, 0, 0};
  const std::tuple<const char*, bool, DateTime> dates[] = {
      {"2005/03/01 14-05-09", true, {2005, 3, 1, 14, 5, 9}},  // read by position only
      {"2005.03.01-14:05", true, start},                      // another length: unchanged
      {"2005.13.01-14:05:09", false, start},
      {"2005.02.29-00:00:00", false, start},
      {"2005.03.01-24:00:00", false, start},
      {"2005.0x.01-14:05:09", false, start},
      {"0099.03.01-14:05:09", false, start},
  };
  for (const auto& [text, ok, expected] : dates) {
    writeValue("When", text);
    ProfileValue v = start;
    EXPECT_EQ(prof.loadData("When", v), ok) << text;
    EXPECT_EQ(v, ProfileValue(expected)) << text;
  }

  ASSERT_TRUE(prof.saveData("Long", std::string(300, 'x')));
  ProfileValue s = std::string();
  EXPECT_TRUE(prof.loadData("Long", s));
  EXPECT_EQ(s, ProfileValue(std::string(254, 'x')));  // cut to the read buffer
  s = std::string();
  EXPECT_FALSE(prof.loadData("Missing", s));  // an empty default reads nothing
  EXPECT_TRUE(prof.loadData("Missing", s, ProfileValue(std::string("dflt  "))));
  EXPECT_EQ(s, ProfileValue(std::string("dflt")));
}

// The options file is edited by hand: whatever it holds, every call gives its
// documented answer (the default, False, an unchanged value) and nothing crashes.
TEST_F(clsCmcProfileIOFile, DamagedOptionsFilesGiveTheDocumentedAnswers) {
  const ProfileValue one = std::int16_t{1};
  const auto port = [&](const char* what, bool ok, const ProfileValue& expected) {
    ProfileValue v = std::int16_t{7};
    EXPECT_EQ(prof.loadData("ComPort", v, one), ok) << what;
    EXPECT_EQ(v, expected) << what;
  };

  std::string junk;
  for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 7919 + 13) & 0xFF);
  writeFile(junk);
  port("binary junk", true, one);
  ASSERT_TRUE(prof.saveData("ComPort", std::int16_t{2}));
  EXPECT_EQ(readAll(file()).substr(0, junk.size()), junk);
  port("junk with a saved key", true, std::int16_t{2});

  writeFile(std::string("[OPTION]\nComPort=\x01\xff\nComAutoRelease=4\0junk\n", 42));
  port("junk value", false, std::int16_t{7});
  ProfileValue r = std::int16_t{0};
  EXPECT_TRUE(prof.loadData("ComAutoRelease", r));  // a NUL ends the text
  EXPECT_EQ(r, ProfileValue(std::int16_t{4}));

  writeFile("[OPTION]\nComPort\nComPort 5\n");
  port("lines without =", true, one);
  writeFile("[OPTION]\nComPort=3\nComPort=4\n[option]\nComPort=5\n");
  port("duplicates", true, std::int16_t{3});
  writeFile("[OPTION\nComPort=3\n");
  port("unclosed header", true, one);
  ASSERT_TRUE(prof.saveData("ComPort", std::int16_t{6}));
  EXPECT_EQ(readAll(file()), "[OPTION\nComPort=3\n\n[OPTION]\nComPort=6\n");

  const std::string huge(1 << 20, '9');
  writeFile("[OPTION]\nX=" + huge + "\nComPort=" + huge + "\n" + huge + "\nComAutoRelease=8\n");
  port("very long value", false, std::int16_t{7});
  EXPECT_TRUE(prof.loadData("ComAutoRelease", r));
  EXPECT_EQ(r, ProfileValue(std::int16_t{8}));

  std::filesystem::remove(file());
  std::filesystem::create_directory(file());
  port("a directory in the file's place", true, one);
  EXPECT_FALSE(prof.saveData("ComPort", std::int16_t{2}));
  EXPECT_TRUE(std::filesystem::is_directory(file()));

  for (const std::string& dir : {tmp.path("gone"), tmp.write("plain", "x")}) {
    prof.setFullPath(dir + "/TarnsetADJ.rs");
    port("unwritable place", true, one);
    EXPECT_FALSE(prof.saveData("ComPort", std::int16_t{2}));
  }
  EXPECT_EQ(readAll(tmp.path("plain")), "x");
}

}  // namespace
}  // namespace tarnset
