// tarnset-cli against kv-tarn-sim on a pseudo-terminal, both copied into a scratch folder:
// what the companion prints and saves is what the radio holds, and a paced clone read
// takes at least the time its bytes need on the wire. Each test reuses one simulator for
// several runs, as a paced read costs about 12 s.
#include <sys/stat.h>

#include <array>
#include <regex>

#include "CliFixture.h"
#include "model/clsIndEep_RigTarn.h"
#include "radio/clsCmcRadio.h"
#include "toolkit/headless/HeadlessToolkit.h"
#include "sim/TarnImage.h"
#include "sim/VirtualTarn.h"

namespace tarnset::e2e {
namespace {

// The controller's temperature border table as the listing shows it.
constexpr std::array<std::int16_t, 22> kBorderTable = {0,   16,  24,  32,  40,  48,  64,  80,  96,  112, 128,
                                                       144, 160, 176, 192, 208, 216, 224, 232, 240, 255, 0};

std::string withoutCr(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

// The parameter listing of an image, made in-process by the memory map itself.
std::string listingOf(const kvsim::Bytes& image) {
  clsCmcRadio radio;
  EXPECT_EQ(radio.eepImage().WriteBlock(0, image), 0);
  clsIndEep_RigTarn map(radio, [](std::int16_t i) { return kBorderTable.at(static_cast<std::size_t>(i)); });
  ManualTickSource clock;
  HeadlessToolkit toolkit(clock);
  auto window = toolkit.createMainWindow();
  tk::TextPane& pane = window->addTextPane(nullptr);
  map.RigTarnEep_DispPara(pane);
  return withoutCr(pane.text());
}

// The bytes of a dump's data rows, and how many rows there were; rows must have the
// dump's exact form ("3E50h |  FF  FF ... FF").
std::vector<std::uint8_t> bytesOfDump(const std::vector<std::string>& lines, int& rows) {
  static const std::regex kRow("^([0-9A-F]{3})0h \\|  ((?:[0-9A-F]{2}  ){15}[0-9A-F]{2})$");
  std::vector<std::uint8_t> bytes;
  rows = 0;
  for (const std::string& line : lines) {
    std::smatch m;
    if (!std::regex_match(line, m, kRow)) continue;
    EXPECT_EQ(std::stoi(m[1].str(), nullptr, 16), rows) << "rows in address order: " << line;
    const std::string hex = m[2].str();
    for (std::size_t i = 0; i < hex.size(); i += 4) {
      bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    ++rows;
  }
  return bytes;
}

// One monitor line "LABEL:ddd:HHh:value": checks its form and that the decimal and the
// hexadecimal reading agree; returns the reading, -1 when the line is malformed.
int monitorReading(const std::string& line, const std::string& label, const std::regex& value) {
  static const std::regex kPrefix("^([ 0-9]{3}):([0-9A-F]{2})h:(.*)$");
  if (line.rfind(label, 0) != 0) {
    ADD_FAILURE() << "expected label '" << label << "' in: " << line;
    return -1;
  }
  std::smatch m;
  const std::string rest = line.substr(label.size());
  if (!std::regex_match(rest, m, kPrefix)) {
    ADD_FAILURE() << "no reading in: " << line;
    return -1;
  }
  const int decimal = std::stoi(m[1].str());
  EXPECT_EQ(decimal, std::stoi(m[2].str(), nullptr, 16)) << line;
  EXPECT_TRUE(std::regex_match(m[3].str(), value)) << "value of: " << line;
  return decimal;
}

kvsim::Bytes distinctiveImage() {
  kvsim::Bytes image = kvsim::defaultImage();
  image[79] = 255;   // POW HI: the largest unsigned value
  image[68] = 0x80;  // BPF T1: the smallest signed value
  image[69] = 0xFF;  // BPF T2: -1
  image[92] = 0x0F;  // base frequency 4000 x 100 kHz
  image[93] = 0xA0;
  // A pattern through an unused stretch, so that misplaced records would show.
  for (int a = 9000; a < 12000; ++a)
    image[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>((a * 7) % 253);
  image[15967] = 0x5A;  // the last byte of the image
  return image;
}

}  // namespace

TEST_F(CliTest, ReadListsTheRadiosParametersAndMonitorShowsItsReadings) {
  Simulator sim(scratch_, kSimBinary);
  ASSERT_TRUE(sim.ready()) << sim.errors();
  const kvsim::Bytes image = kvsim::defaultImage();

  const RunResult read = cli({"read", "--port", sim.link()}, kReadTimeout);
  ASSERT_EQ(read.exitCode, 0) << describe(read);
  // The radio paces 998 records of 46 bytes at 38400 baud: nothing can be quicker.
  EXPECT_GE(read.seconds, 998.0 * 46 * 10 / 38400);
  EXPECT_EQ(read.out, listingOf(image));
  EXPECT_EQ(read.err, "") << "no progress bar when stderr is not a terminal";

  // A few lines checked by hand against the factory image.
  ASSERT_EQ(image[79], 203);
  ASSERT_EQ(image[68], 0xEB);
  ASSERT_EQ((image[92] << 8) | image[93], 4500);
  ASSERT_EQ(image[254], 0x80);
  const std::vector<std::string> lines = splitLines(read.out);
  ASSERT_EQ(lines.size(), 106u);
  EXPECT_EQ(lines[0], "                POW HI Level:  203");
  EXPECT_EQ(lines[8], "                BPF T1 Level:  -21");
  EXPECT_EQ(lines[42], "              Base Frequency:  450.000MHz");
  EXPECT_EQ(lines[63], "            REF Area 20:  255");
  EXPECT_EQ(lines[103], "           REF Slant 19: -128");

  // The same simulator serves the next connection: monitor connects as the window does.
  const RunResult mon = cli({"monitor", "--port", sim.link()}, kReadTimeout);
  ASSERT_EQ(mon.exitCode, 0) << describe(mon);
  const std::vector<std::string> m = splitLines(mon.out);
  ASSERT_EQ(m.size(), 15u) << mon.out;
  EXPECT_EQ(m[0], "[A/D]");
  EXPECT_EQ(m[5], "[D/A]");
  const std::regex volts7("^ *[0-9]{1,3}\\.[0-9]{2}V$");
  const std::regex percent7("^ *[0-9]{1,3}\\.[0-9]{2}%$");
  const std::regex celsius8("^( *-?[0-9]{0,3}\\.[0-9]{2}'C|\\*Error)$");
  struct Line {
    const char* label;
    int channel;
    const std::regex& value;
    std::size_t width;
  };
  const Line expected[] = {
      {"VIN  :", 0, volts7, 7},      {"TEMPS:", 3, celsius8, 8},  {"LVIN :", 5, volts7, 7},
      {"SD   :", 4, volts7, 7},      {"BPF T1 :", 16, volts7, 7}, {"BPF T2 :", 17, volts7, 7},
      {"BPF T3 :", 18, volts7, 7},   {"T4/POW :", 19, volts7, 7}, {"REF    :", 12, volts7, 7},
      {"MOD BAL:", 13, percent7, 7}, {"Dev    :", 14, volts7, 7}, {"CTCSS  :", 11, volts7, 7},
      {"SQL Lev:", 15, percent7, 7}};
  // The radio's own view of its readings (no noise is configured, so they are exact).
  const kvsim::VirtualTarn radio;
  for (std::size_t i = 0; i < 13; ++i) {
    const std::string& line = m[i < 4 ? i + 1 : i + 2];
    const Line& e = expected[i];
    EXPECT_EQ(line.size(), std::string(e.label).size() + 8 + e.width) << line;
    EXPECT_EQ(monitorReading(line, e.label, e.value), radio.monitorReading(e.channel)) << line;
  }
}

TEST_F(CliTest, SaveWritesTheRadiosImageAtomicallyAndDumpShowsEveryByte) {
  const kvsim::Bytes image = distinctiveImage();
  writeBytes(scratch_ / "given.bin", image);
  Simulator sim(scratch_, kSimBinary, {"--image", (scratch_ / "given.bin").string()});
  ASSERT_TRUE(sim.ready()) << sim.errors();

  // No --port: the companion takes the port stored in its options file and maps COM 2
  // through the [PORTS] section, as the window program does.
  writeText(optionsFile(), "[PORTS]\nCOM2=" + sim.link() + "\n\n[OPTION]\nComPort=2\n");
  // An old image at the target with a second name: a save that rewrote the file in place
  // would change what the second name shows; replacing it by a rename does not.
  const fs::path saved = scratch_ / "images" / "radio.bin";
  fs::create_directories(saved.parent_path());
  writeText(saved, "old image");
  fs::create_hard_link(saved, scratch_ / "old-link.bin");

  const RunResult read = cli({"read", "--listing", "--dump", "--save", saved.string()}, kReadTimeout);
  ASSERT_EQ(read.exitCode, 0) << describe(read);
  EXPECT_EQ(readBytes(saved), image) << "the saved image is the simulator's, byte for byte";
  EXPECT_EQ(readText(scratch_ / "old-link.bin"), "old image") << "the save replaced the file, not rewrote it";
  std::vector<std::string> inFolder;
  for (const auto& entry : fs::directory_iterator(saved.parent_path())) {
    inFolder.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(inFolder, std::vector<std::string>{"radio.bin"}) << "no temporary file is left behind";
  // What was saved is what the radio holds, as diff sees it too.
  const RunResult same = cli({"diff", (scratch_ / "given.bin").string(), saved.string()});
  EXPECT_EQ(same.exitCode, 0) << describe(same);
  EXPECT_EQ(same.out, "");

  // The listing comes first, then the dump.
  const std::string out = read.out;
  const std::size_t dumpAt = out.find("\n         EEPROM Data\n");
  ASSERT_NE(dumpAt, std::string::npos) << out.substr(0, 2000);
  EXPECT_EQ(out.substr(0, dumpAt), listingOf(image));
  const std::vector<std::string> listing = splitLines(out.substr(0, dumpAt));
  ASSERT_EQ(listing.size(), 106u);
  EXPECT_EQ(listing[0], "                POW HI Level:  255");
  EXPECT_EQ(listing[8], "                BPF T1 Level: -128");
  EXPECT_EQ(listing[9], "                BPF T2 Level:   -1");
  EXPECT_EQ(listing[42], "              Base Frequency:  400.000MHz");

  const std::vector<std::string> dump = splitLines(out.substr(dumpAt + 1));
  int rows = 0;
  const std::vector<std::uint8_t> dumped = bytesOfDump(dump, rows);
  EXPECT_EQ(rows, 998);
  EXPECT_EQ(dumped, image);
  ASSERT_GE(dump.size(), 3u);
  EXPECT_EQ(dump[0], "         EEPROM Data");
  EXPECT_EQ(dump.back().substr(0, 9), "3E50h |  ");

  // A target folder that does not exist: the read succeeds, the save fails, and nothing
  // is created.
  const fs::path nowhere = scratch_ / "missing" / "radio.bin";
  const RunResult failed = cli({"read", "--port", "2", "--save", nowhere.string()}, kReadTimeout);
  EXPECT_EQ(failed.exitCode, 2) << describe(failed);
  EXPECT_EQ(failed.err, "tarnset-cli: cannot create " + nowhere.string() + ": No such file or directory\n");
  EXPECT_FALSE(fs::exists(scratch_ / "missing"));
}

}  // namespace tarnset::e2e

namespace tarnset::e2e {
namespace {

// The text after the time and the tag of every line with this tag (the program's trace
// and the simulator's log put their tags in the same columns after different times).
std::vector<std::string> linesTagged(const std::string& text, const std::string& tag) {
  std::vector<std::string> out;
  for (const std::string& l : splitLines(text)) {
    const std::size_t at = l.find(" " + tag + " ");
    if (at != std::string::npos && at <= 11)
      out.push_back(l.substr(l.find_first_not_of(' ', at + tag.size() + 1)));
  }
  return out;
}

}  // namespace

// A trace for support, beside the virtual radio's log: the same frames, named the same
// way, in the same order.
TEST_F(CliTest, ATraceOfAReadReadsLineByLineBesideTheRadiosLog) {
  Simulator sim(scratch_, kSimBinary);
  ASSERT_TRUE(sim.ready()) << sim.errors();
  const fs::path trace = scratch_ / "trace.txt";
  const RunResult r = cli({"read", "--port", sim.link(), "--trace", trace.string()}, kReadTimeout);
  ASSERT_EQ(r.exitCode, 0) << describe(r);
  ASSERT_TRUE(sim.waitForLog("BAUD 38400 -> 9600", 1, 5.0));
  const std::string text = readText(trace);
  const std::vector<std::string> traced = linesTagged(text, "FRAME");
  const std::vector<std::string> logged = linesTagged(sim.logText(), "FRAME");
  ASSERT_GT(traced.size(), 1000u) << text.substr(0, 2000);
  EXPECT_EQ(traced, logged);
  EXPECT_EQ(splitLines(text).front().substr(11), "START   tarnset-cli " + std::string(TARNSET_VERSION) +
                                                     " read trace; times in ms since this line");
  EXPECT_NE(text.find("PORT    open " + sim.link() + " 38400 baud 8N1 (line speed changed from 9600)"),
            std::string::npos);
}

TEST_F(CliTest, ATraceThatCannotBeWrittenIsAUsageErrorAndNothingRuns) {
  const RunResult r =
      cli({"read", "--port", "/dev/null", "--trace", (scratch_ / "no/such/folder/t.txt").string()});
  EXPECT_EQ(r.exitCode, 64) << describe(r);
  EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "tarnset-cli: cannot write the trace file " +
                                                   (scratch_ / "no/such/folder/t.txt").string() +
                                                   ": No such file or directory");
  EXPECT_EQ(r.out, "");
}

}  // namespace tarnset::e2e
