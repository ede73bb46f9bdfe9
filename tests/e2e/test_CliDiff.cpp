// tarnset-cli diff on saved images: the parameter listing lines that two images show
// differently, in listing order; 1 when they differ, 0 when the listings agree (also when
// bytes differ that no listing line shows), 2 when a file is no saved image.
#include <array>

#include "CliFixture.h"
#include "model/RigTarnConstFile.h"
#include "model/clsIndEep_RigTarn.h"
#include "radio/clsCmcRadio.h"
#include "sim/TarnImage.h"

namespace tarnset::e2e {
namespace {

// The listing lines of an image, made in-process by the memory map itself.
std::vector<std::string> listingLines(const kvsim::Bytes& image) {
  clsCmcRadio radio;
  EXPECT_EQ(radio.eepImage().WriteBlock(0, image), 0);
  const clsIndEep_RigTarn map(radio,
                              [](std::int16_t i) { return kTarnTempBorder.at(static_cast<std::size_t>(i)); });
  std::string text = map.RigTarnEep_ParaText();
  std::string lf;
  for (const char c : text) {
    if (c != '\r') lf += c;
  }
  return splitLines(lf);
}

std::string trimmed(const std::string& s) {
  const std::size_t b = s.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(' ') - b + 1);
}

class CliDiffTest : public CliTest {
 protected:
  // Writes image into the scratch folder; returns its path.
  std::string save(const std::string& name, const kvsim::Bytes& image) const {
    writeBytes(scratch_ / name, image);
    return (scratch_ / name).string();
  }
};

TEST_F(CliDiffTest, ImagesThatDifferInListedBytesShowThoseLinesAsBeforeAndAfter) {
  const kvsim::Bytes before = kvsim::defaultImage();
  ASSERT_EQ(before[79], 203);
  ASSERT_EQ(before[68], 0xEB);
  ASSERT_EQ((before[92] << 8) | before[93], 4500);
  kvsim::Bytes after = before;
  after[79] = 255;                  // POW HI Level, unsigned
  after[68] = 0x80;                 // BPF T1 Level, signed: -21 -> -128
  after[92] = 0x0F;                 // Base Frequency 450.000 -> 400.000 MHz
  after[93] = 0xA0;                 //
  after[217] = before[217] ^ 0x11;  // REF Initial 0
  const std::string a = save("before.bin", before);
  const std::string b = save("after.bin", after);

  const RunResult r = cli({"diff", a, b});
  EXPECT_EQ(r.exitCode, 1) << describe(r);
  EXPECT_EQ(r.out,
            "POW HI Level: 203 -> 255\n"
            "BPF T1 Level: -21 -> -128\n"
            "Base Frequency: 450.000MHz -> 400.000MHz\n"
            "REF Initial 0: " +
                std::to_string(before[217]) + " -> " + std::to_string(after[217]) + "\n");
  EXPECT_EQ(r.err, "");

  // The other way round, the same lines with the values swapped.
  const RunResult back = cli({"diff", b, a});
  EXPECT_EQ(back.exitCode, 1) << describe(back);
  EXPECT_EQ(splitLines(back.out).front(), "POW HI Level: 255 -> 203");
  EXPECT_EQ(splitLines(back.out).size(), 4u);
}

// Every byte the listing shows changed: every line that shows image bytes differs, once
// and in listing order; the REF Area lines show the program's table and never differ.
TEST_F(CliDiffTest, EveryListedByteChangedShowsEveryLineButTheTablesInListingOrder) {
  const kvsim::Bytes before = kvsim::defaultImage();
  kvsim::Bytes after = before;
  for (std::size_t a = 40; a < 300; ++a) after[a] = static_cast<std::uint8_t>(before[a] + 1);
  const RunResult r = cli({"diff", save("a.bin", before), save("b.bin", after)});
  EXPECT_EQ(r.exitCode, 1) << describe(r);

  const std::vector<std::string> was = listingLines(before);
  const std::vector<std::string> now = listingLines(after);
  ASSERT_EQ(was.size(), 106u);
  std::string expected;
  int areaLines = 0;
  for (std::size_t i = 0; i < was.size(); ++i) {
    const std::size_t colon = was[i].rfind(':');
    const std::string label = trimmed(was[i].substr(0, colon));
    if (label.rfind("REF Area ", 0) == 0) {
      ++areaLines;
      continue;
    }
    expected +=
        label + ": " + trimmed(was[i].substr(colon + 1)) + " -> " + trimmed(now[i].substr(colon + 1)) + "\n";
  }
  EXPECT_EQ(areaLines, 21);
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(splitLines(r.out).size(), 85u);
}

TEST_F(CliDiffTest, ListingsThatAgreeGive0AndNothingAlsoWhenUnlistedBytesDiffer) {
  const kvsim::Bytes image = kvsim::defaultImage();
  const std::string a = save("a.bin", image);
  const RunResult same = cli({"diff", a, save("copy.bin", image)});
  EXPECT_EQ(same.exitCode, 0) << describe(same);
  EXPECT_EQ(same.out, "");
  EXPECT_EQ(same.err, "");

  // The transmit frequency of channel slot 0, the identity block and the last byte: no
  // listing line shows them.
  kvsim::Bytes other = image;
  const std::size_t w2 = static_cast<std::size_t>(image[1028] << 8 | image[1029]);
  ASSERT_LT(w2 + 523, other.size());
  other[w2 + 523] ^= 0x01;
  other[5] ^= 0xFF;
  other[15967] ^= 0xFF;
  const RunResult unlisted = cli({"diff", a, save("other.bin", other)});
  EXPECT_EQ(unlisted.exitCode, 0) << describe(unlisted);
  EXPECT_EQ(unlisted.out, "");
  EXPECT_EQ(unlisted.err, "");
}

TEST_F(CliDiffTest, AFileThatIsNoSavedImageGives2AndOneLineWhy) {
  const kvsim::Bytes image = kvsim::defaultImage();
  const std::string good = save("good.bin", image);
  const std::string shortFile = save("short.bin", kvsim::Bytes(image.begin(), image.begin() + 100));
  kvsim::Bytes longer = image;
  longer.push_back(0);
  const std::string longFile = save("long.bin", longer);
  const std::string missing = (scratch_ / "missing.bin").string();
  fs::create_directory(scratch_ / "folder.bin");
  const std::string folder = (scratch_ / "folder.bin").string();
  struct Case {
    std::vector<std::string> args;
    std::string why;
  } cases[] = {
      {{"diff", good, shortFile}, shortFile + " is not a 15968-byte image (it holds 100 bytes)"},
      {{"diff", longFile, good}, longFile + " is not a 15968-byte image (it holds 15969 bytes)"},
      {{"diff", missing, good}, "cannot read " + missing + ": No such file or directory"},
      {{"diff", good, missing}, "cannot read " + missing + ": No such file or directory"},
      {{"diff", good, folder}, "cannot read " + folder + ": Is a directory"},
      {{"diff", good, "/dev/null"}, "cannot read /dev/null: not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args[2]);
    const RunResult r = cli(c.args);
    EXPECT_EQ(r.exitCode, 2) << describe(r);
    EXPECT_EQ(r.err, "tarnset-cli: " + c.why + "\n");
    EXPECT_EQ(r.out, "");
  }
}

}  // namespace
// report AS_FOUND AS_LEFT: the service report of two saved images, as text, and as HTML
// with --html; the radio's codes come from a backup's name.
TEST_F(CliDiffTest, AReportFromFilesShowsWhatChangedAndSaysWhatItCannotKnow) {
  const kvsim::Bytes found = kvsim::defaultImage();
  kvsim::Bytes left = found;
  left[79] = static_cast<std::uint8_t>(found[79] - 3);  // Power(Hi)
  left[86] = static_cast<std::uint8_t>(found[86] + 2);  // RSSI L0
  const std::string a = save("20261207-140102-2651-0100-11111111.bin", found);
  const std::string b = save("20261207-153000-2651-0100-22222222.bin", left);
  const fs::path page = scratch_ / "report.html";
  const RunResult r = cli({"report", a, b, "--html", page.string()});
  ASSERT_EQ(r.exitCode, 0) << describe(r);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("Radio:          KV-Tarn, model code 2651, sub-model 0100\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("As found:       the file " + a + "\n"), std::string::npos);
  EXPECT_NE(r.out.find("Changed: 1 alignment item, 0 compensation entries, 1 RSSI point.\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("  No monitor readings: this report was made from saved images.\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("CAL:            not known"), std::string::npos);
  const std::string html = readText(page);
  EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(html.find("<tr class=\"changed\"><td>Power(Hi)</td>"), std::string::npos);
  EXPECT_NE(html.find("<tr class=\"changed\"><td>RSSI L0 Level</td>"), std::string::npos);

  // Other names give no codes; files that are no images end with 2 and write no page.
  const RunResult plain = cli({"report", save("a.bin", found), save("b.bin", found)});
  EXPECT_EQ(plain.exitCode, 0) << describe(plain);
  EXPECT_NE(plain.out.find("model code not known, sub-model not known"), std::string::npos);
  EXPECT_NE(plain.out.find("No value was changed."), std::string::npos);
  const fs::path other = scratch_ / "other.html";
  const RunResult shortFile =
      cli({"report", a, save("short.bin", kvsim::Bytes(found.begin(), found.end() - 1)), "--html",
           other.string()});
  EXPECT_EQ(shortFile.exitCode, 2);
  EXPECT_NE(shortFile.err.find("is not a 15968-byte image"), std::string::npos) << shortFile.err;
  EXPECT_FALSE(fs::exists(other));
  EXPECT_EQ(cli({"report", a, (scratch_ / "missing.bin").string()}).exitCode, 2);
  EXPECT_EQ(cli({"report", a}).exitCode, 64);
}

}  // namespace tarnset::e2e
