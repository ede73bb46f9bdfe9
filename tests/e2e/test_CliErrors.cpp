// tarnset-cli's failures as a technician meets them: a radio that misbehaves on the link,
// a port that is no serial device, a mistyped command line; and the port listing.
#include "CliFixture.h"

namespace tarnset::e2e {
namespace {

const std::string kCheckLink =
    "\nCheck the following:\n- The COM port settings.\n- Cloning cable connections.\n- Transceiver power is "
    "ON.\n";

const std::string kUsage =
    "usage: tarnset-cli read [--port PORT] [--listing] [--dump] [--save FILE] [--trace FILE]\n"
    "       tarnset-cli monitor [--port PORT] [--trace FILE]\n"
    "       tarnset-cli measure [--port PORT] [--trace FILE]\n"
    "       tarnset-cli instruments\n"
    "       tarnset-cli ports [--map N=DEVICE | --unmap N]\n"
    "       tarnset-cli diff BEFORE AFTER\n"
    "       tarnset-cli report AS_FOUND AS_LEFT [--html FILE]\n"
    "       tarnset-cli --help | --version\n";

}  // namespace

TEST_F(CliTest, ARadioThatMisbehavesEndsTheReadWithItsMessageAndExit2) {
  struct Case {
    const char* fault;
    std::string message;
  } cases[] = {
      {"wrong-model", "Cannot Clone.\n" + kCheckLink},
      {"silent", "No answer from transceiver.\n" + kCheckLink},
      {"bad-checksum=3", "Illegal data.\n" + kCheckLink},
      {"sub-model-0101", "Version number does not match\nfor this transceiver.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    Simulator sim(scratch_, kSimBinary, {"--fault", c.fault}, std::string("radio-") + c.fault);
    ASSERT_TRUE(sim.ready()) << sim.errors();
    const RunResult r = cli({"read", "--port", sim.link()}, kReadTimeout);
    EXPECT_EQ(r.exitCode, 2) << describe(r);
    EXPECT_EQ(r.err, c.message + "\nPort: " + sim.link() + "\n");
    EXPECT_EQ(r.out, "") << "no listing after a failed read";
  }
}

// A radio that sends record 400 again in place of record 401 keeps its record count
// right, but 1910h..191Fh never arrive: the read fails, and no file is written that would
// pass those bytes off as the radio's.
TEST_F(CliTest, AReadWithAHoleFailsAndSavesNothing) {
  Simulator sim(scratch_, kSimBinary, {"--fault", "repeat-record=400"});
  ASSERT_TRUE(sim.ready()) << sim.errors();
  const fs::path image = scratch_ / "radio.bin";
  const RunResult r = cli({"read", "--port", sim.link(), "--save", image.string()}, kReadTimeout);
  EXPECT_EQ(r.exitCode, 2) << describe(r);
  EXPECT_EQ(r.err, "Data counter error.\n" + kCheckLink + "\nPort: " + sim.link() + "\n");
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(fs::exists(image));
  EXPECT_EQ(sim.countInLog("CLONE read: streaming"), 1) << "the radio did stream";
}

TEST_F(CliTest, APortThatIsNoSerialDeviceIsNamedWithTheReason) {
  writeText(scratch_ / "notes.txt", "not a tty\n");
  const std::string listHint =
      "give the adapter's device with --port (tarnset-cli ports lists the serial ports found).";
  struct Case {
    std::string path;
    std::string reason;
    std::string next;
  } cases[] = {
      {(scratch_ / "notes.txt").string(), "not a serial port", "G" + listHint.substr(1)},
      {(scratch_ / "no-such-device").string(), "no such device",
       "Plug in the cable's adapter and connect again, or " + listHint},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    for (const char* command : {"read", "monitor"}) {
      const RunResult r = cli({command, "--port", c.path});
      EXPECT_EQ(r.exitCode, 2) << describe(r);
      EXPECT_EQ(r.err, "Cannot access COM " + c.path + ".\n" + kCheckLink + "\nPort: " + c.path +
                           "\nReason: " + c.reason + "\nNext step: " + c.next + "\n");
      EXPECT_EQ(r.out, "");
    }
  }
  EXPECT_EQ(readText(scratch_ / "notes.txt"), "not a tty\n") << "the file is left as it was";
}

TEST_F(CliTest, AMistypedCommandLineGives64AndTheUsage) {
  struct Case {
    std::vector<std::string> args;
    std::string complaint;
  } cases[] = {
      {{}, "no command given"},
      {{"fetch"}, "unknown command 'fetch'"},
      {{"read", "--bogus"}, "unexpected argument '--bogus'"},
      {{"read", "--port"}, "option --port needs a value"},
      {{"read", "--port", "11"}, "PORT must be a COM number 1..10 or a device path"},
      {{"monitor", "--dump"}, "unexpected argument '--dump'"},
      {{"ports", "extra"}, "unexpected argument 'extra'"},
      {{"ports", "--map"}, "option --map needs a value"},
      {{"ports", "--map", "11=/dev/ttyUSB0"}, "--map needs N=DEVICE with a COM number 1..10 and a device"},
      {{"ports", "--map", "1="}, "--map needs N=DEVICE with a COM number 1..10 and a device"},
      {{"ports", "--unmap", "0"}, "--unmap needs a COM number 1..10"},
      {{"read", "--trace"}, "option --trace needs a value"},
      {{"diff"}, "diff needs two image files"},
      {{"diff", "a.bin"}, "diff needs two image files"},
      {{"diff", "a.bin", "b.bin", "c.bin"}, "diff needs two image files"},
      {{"diff", "--port", "a.bin", "b.bin"}, "unexpected argument '--port'"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    const RunResult r = cli(c.args);
    EXPECT_EQ(r.exitCode, 64) << describe(r);
    EXPECT_EQ(r.err, "tarnset-cli: " + c.complaint + "\n" + kUsage);
    EXPECT_EQ(r.out, "");
  }
  const RunResult help = cli({"--help"});
  EXPECT_EQ(help.exitCode, 0) << describe(help);
  EXPECT_EQ(help.out.substr(0, kUsage.size()), kUsage);
  EXPECT_EQ(help.err, "");
  // diff's codes are those of diff(1), not the link failure that 2 means elsewhere.
  // The help's wrapped lines as one text, each run of blanks and line breaks one blank.
  std::string oneLine;
  for (const char c : help.out) {
    const bool blank = c == ' ' || c == '\n';
    if (!blank || oneLine.empty() || oneLine.back() != ' ') oneLine += blank ? ' ' : c;
  }
  EXPECT_NE(oneLine.find("1 diff: the listings differ"), std::string::npos) << help.out;
  EXPECT_NE(oneLine.find("(diff and report: a file cannot be read"), std::string::npos) << help.out;
  EXPECT_NE(oneLine.find("it compares what the parameter listing shows"), std::string::npos) << help.out;
}

TEST_F(CliTest, PortsNamesEveryComNumberAndWhatTheMachineHas) {
  const std::string adapter = (scratch_ / "bench-adapter").string();
  writeText(optionsFile(), "[PORTS]\nCOM3=" + adapter + "\n");
  const RunResult r = cli({"ports"});
  ASSERT_EQ(r.exitCode, 0) << describe(r);
  EXPECT_EQ(r.err, "");
  const std::vector<std::string> lines = splitLines(r.out);
  ASSERT_GE(lines.size(), 11u) << r.out;
  for (int n = 1; n <= 10; ++n) {
    const std::string head = "COM" + std::to_string(n) + ": ";
    EXPECT_EQ(lines[static_cast<std::size_t>(n - 1)].substr(0, head.size()), head) << r.out;
  }
  EXPECT_EQ(lines[2], "COM3: " + adapter) << "a COM number named in the options file beside the program";
  // Then what was found: either nothing, said plainly, or a list of devices.
  if (lines[10] == "No serial ports found on this machine.") {
    EXPECT_EQ(lines.size(), 11u) << r.out;
  } else {
    EXPECT_EQ(lines[10], "Serial ports found:") << r.out;
    ASSERT_GE(lines.size(), 12u);
    EXPECT_EQ(lines[11].substr(0, 7), "  /dev/") << r.out;
  }
}

// ports --map and --unmap change one key of [PORTS] and nothing else of the options file
// (its other sections, keys, comments and line endings); the window program then opens
// that device for the number.
TEST_F(CliTest, PortsMapAndUnmapChangeOnlyTheirKey) {
  const std::string before =
      "; bench 3\r\n[OPTION]\r\nComPort=2\r\n\r\n[PORTS]\r\nCOM4=/dev/ttyS0\r\n[BENCH]\r\nOperator=K\r\n";
  writeText(optionsFile(), before);
  const RunResult map = cli({"ports", "--map", "1=/dev/serial/by-id/usb-Cable-if00"});
  ASSERT_EQ(map.exitCode, 0) << describe(map);
  EXPECT_EQ(map.out, "COM1 opens /dev/serial/by-id/usb-Cable-if00 (" + optionsFile().string() +
                         ")\nIt was not mapped before.\n");
  EXPECT_EQ(readText(optionsFile()),
            "; bench "
            "3\r\n[OPTION]\r\nComPort=2\r\n\r\n[PORTS]\r\nCOM4=/dev/ttyS0\r\nCOM1=/dev/serial/by-id/"
            "usb-Cable-if00\r\n"
            "[BENCH]\r\nOperator=K\r\n");
  const RunResult listed = cli({"ports"});
  EXPECT_EQ(splitLines(listed.out).front(), "COM1: /dev/serial/by-id/usb-Cable-if00");

  const RunResult unmap = cli({"ports", "--unmap", "1"});
  ASSERT_EQ(unmap.exitCode, 0) << describe(unmap);
  EXPECT_EQ(unmap.out, "COM1 is no longer mapped (" + optionsFile().string() +
                           ")\nIt was mapped to /dev/serial/by-id/usb-Cable-if00 before.\n");
  EXPECT_EQ(readText(optionsFile()), before);
}

TEST_F(CliTest, AnOptionsFileThatCannotBeWrittenGives2AndStaysAsItWas) {
  // A folder in the file's place cannot be replaced by a file.
  fs::create_directories(optionsFile());
  const RunResult r = cli({"ports", "--map", "2=/dev/ttyUSB1"});
  EXPECT_EQ(r.exitCode, 2) << describe(r);
  EXPECT_EQ(r.err, "tarnset-cli: cannot write the options file " + optionsFile().string() + "\n");
  EXPECT_TRUE(fs::is_directory(optionsFile()));
  EXPECT_TRUE(fs::is_empty(optionsFile()));
}

}  // namespace tarnset::e2e
