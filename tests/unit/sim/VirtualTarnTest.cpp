// The virtual radio's side of the cloning link, driven as the program drives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "sim/VirtualTarn.h"
#include "unit/sim/ProgramSide.h"

namespace kvsim::test {
namespace {

const Bytes kIdentity = {0x26, 0x51, 0x01, 0x00};

int hexValue(std::uint8_t hi, std::uint8_t lo) {
  const auto d = [](std::uint8_t c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
  return d(hi) * 16 + d(lo);
}

bool carriesFrameBytes(const Bytes& body) {
  return std::any_of(body.begin(), body.end(), [](std::uint8_t b) { return b == 0xFE || b == 0xFD; });
}

// Decodes an E4 record body (EF EE E4 ascii...) into address, data and whether its sum is 0.
struct Record {
  int address = -1;
  Bytes data;
  bool sumOk = false;
};
Record decodeRecord(const Bytes& body) {
  Record r;
  Bytes pairs;
  for (std::size_t i = 3; i + 1 < body.size(); i += 2)
    pairs.push_back(static_cast<std::uint8_t>(hexValue(body[i], body[i + 1])));
  if (pairs.size() < 4) return r;
  r.address = pairs[0] * 256 + pairs[1];
  r.data.assign(pairs.begin() + 3, pairs.end() - 1);
  int sum = 0;
  for (std::uint8_t p : pairs) sum += p;
  r.sumOk = sum % 256 == 0 && pairs[2] == r.data.size();
  return r;
}

std::vector<Cut> withCommand(const std::vector<Cut>& frames, std::uint8_t cmd) {
  std::vector<Cut> out;
  for (const Cut& c : frames) {
    if (c.body.size() >= 3 && c.body[2] == cmd) out.push_back(c);
  }
  return out;
}

// ---------------------------------------------------------------------------------------------

TEST(VirtualTarnIdentification, AnswersE0WithAWellFormedE1AfterTheLatencyAtLineRate) {
  ProgramSide p;
  p.open(9600);
  const std::int64_t sentAt = p.send({0xE0, 0x26, 0x51, 0x00, 0x00});
  p.wait(200000);
  const auto frames = p.frames();
  ASSERT_EQ(frames.size(), 1u);
  const Bytes& f = frames[0].body;
  // Positions below count from 1 as the program's driver does.
  ASSERT_GE(f.size(), 61u);
  EXPECT_EQ(Bytes(f.begin(), f.begin() + 3), (Bytes{0xEF, 0xEE, 0xE1}));
  EXPECT_EQ(Bytes(f.begin() + 3, f.begin() + 7), kIdentity);
  EXPECT_EQ(f[7], f.size() - 7);
  EXPECT_GT(f[41], 17);
  EXPECT_EQ(f[42], 0x03);
  EXPECT_EQ(Bytes(f.begin() + 57, f.begin() + 61), textBytes("3E5F"));
  EXPECT_FALSE(carriesFrameBytes(f));
  // Whole frame: preamble, body, FD at 9600 baud, starting a few ms after the request.
  const std::int64_t wireBytes = static_cast<std::int64_t>(f.size()) + 3;
  const std::int64_t expected = sentAt + VirtualTarn::kAnswerLatencyUs + wireBytes * 10000000 / 9600;
  EXPECT_NEAR(static_cast<double>(frames[0].endUs), static_cast<double>(expected), 2.0);
}

TEST(VirtualTarnLine, ClosedProgramPortLosesTheAnswer) {
  ProgramSide p;
  p.open(9600);
  p.send({0xE0, 0x26, 0x51, 0x00, 0x00});
  p.wait(20000);  // the answer is under way
  const std::size_t beforeClose = p.arrived.size();
  EXPECT_GT(beforeClose, 0u);
  p.close();
  p.arrived.clear();  // the program's driver starts afresh at every open
  p.wait(30000);
  p.open(9600);  // in the middle of the answer: the rest arrives, the lost part never does
  p.wait(200000);
  EXPECT_GT(p.arrived.size(), 0u);
  EXPECT_LT(p.arrived.size() + beforeClose, 67u);
  EXPECT_TRUE(p.frames().empty());
  p.close();
  p.wait(200000);
  p.open(9600);
  const std::size_t quiet = p.arrived.size();
  p.wait(200000);
  EXPECT_EQ(p.arrived.size(), quiet);
}

TEST(VirtualTarnLine, BaudMismatchGarblesBothDirectionsDeterministically) {
  // Program at 38400 while the radio listens at 9600: the request is junk to the radio.
  ProgramSide fast;
  fast.open(38400);
  fast.send({0xE0, 0x26, 0x51, 0x00, 0x00});
  fast.wait(300000);
  EXPECT_TRUE(fast.arrived.empty());

  // Radio streaming at 38400 to a program left at 9600: it hears junk, the same on every run.
  const auto garbled = [] {
    ProgramSide p;
    p.open(9600);
    p.send(e8Payload(0x01, 0x09));
    p.wait(50000);
    p.close();
    p.open(38400);
    p.send({0xE2, 0x26, 0x51, 0x01, 0x00}, 39);
    p.radio.setProgramLine(true, 9600, p.now);
    p.wait(100000);
    return p;
  };
  const ProgramSide a = garbled();
  EXPECT_FALSE(a.bytes().empty());
  EXPECT_EQ(a.bytes(), garbled().bytes());
  // Far fewer bytes than the ~380 sent in 100 ms, and no record among them.
  EXPECT_LT(a.bytes().size(), 200u);
  EXPECT_TRUE(withCommand(a.frames(), 0xE4).empty());
}

// ---------------------------------------------------------------------------------------------

TEST(VirtualTarnCloneRead, StreamsTheWholeImageAt38400AndReturnsTo9600AfterE5) {
  ProgramSide p;
  p.open(9600);
  p.send({0xE0, 0x26, 0x51, 0x00, 0x00});
  p.wait(200000);
  const std::int64_t e8At = p.send(e8Payload(0x01, 0x09));
  p.pump(e8At + VirtualTarn::kSpeedSwitchUs - 500);
  EXPECT_EQ(p.radio.baud(), 9600);
  p.pump(e8At + VirtualTarn::kSpeedSwitchUs + 500);
  EXPECT_EQ(p.radio.baud(), 38400);
  EXPECT_EQ(withCommand(p.frames(), 0xE8).size(), 0u);  // no answer to the speed switch

  p.close();
  p.wait(50000);
  p.open(38400);
  const std::size_t before = p.frames().size();
  const std::int64_t requestAt = p.send({0xE2, 0x26, 0x51, 0x01, 0x00}, 37);
  p.wait(14000000);

  const auto all = p.frames();
  const std::vector<Cut> stream(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
  ASSERT_EQ(stream.size(), 999u);
  Bytes image;
  for (std::size_t i = 0; i < 998; ++i) {
    const Record r = decodeRecord(stream[i].body);
    ASSERT_EQ(stream[i].body[2], 0xE4);
    ASSERT_EQ(stream[i].body.size(), 43u);
    ASSERT_TRUE(r.sumOk) << "record " << i;
    ASSERT_EQ(r.address, static_cast<int>(i) * 16);
    image.insert(image.end(), r.data.begin(), r.data.end());
  }
  EXPECT_EQ(image, p.radio.image());
  EXPECT_EQ(image, defaultImage());

  const Bytes& end = stream[998].body;
  ASSERT_EQ(end.size(), 14u);
  EXPECT_EQ(end[2], 0xE5);
  EXPECT_EQ(Bytes(end.begin() + 3, end.begin() + 12), textBytes("Vorel Co."));
  EXPECT_EQ(hexValue(end[12], end[13]), 998 % 256);

  // Back to back at 38400: 998 records of 46 bytes and the 17-byte end frame.
  const std::int64_t lineUs = (998 * 46 + 17) * 10000000LL / 38400;
  EXPECT_NEAR(static_cast<double>(stream.back().endUs - requestAt),
              static_cast<double>(VirtualTarn::kAnswerLatencyUs + lineUs), 5.0);
  EXPECT_EQ(p.radio.baud(), 9600);
  EXPECT_FALSE(p.radio.streaming());
}

TEST(VirtualTarnCloneRead, WithoutPacingTheStreamArrivesAtOnce) {
  Options opt;
  opt.pacing = false;
  ProgramSide p(opt);
  p.open(9600);
  p.send(e8Payload(0x01, 0x09));
  EXPECT_EQ(p.radio.baud(), 38400);
  p.close();
  p.open(38400);
  const std::int64_t at = p.send({0xE2, 0x26, 0x51, 0x01, 0x00});
  p.pump(at);
  const auto frames = p.frames();
  ASSERT_EQ(frames.size(), 999u);
  EXPECT_EQ(frames.back().endUs, at);
  EXPECT_EQ(p.radio.baud(), 9600);
}

// ---------------------------------------------------------------------------------------------

TEST(VirtualTarnE8, MonitorRequestsAreAnsweredFromTheLiveState) {
  ProgramSide p;
  p.open(9600);
  for (int ch : {0, 3, 4, 5, 11, 12, 13, 14, 15, 16, 17, 18, 19}) {
    p.send(e8Payload(0x03, ch));
    p.wait(60000);
    const auto answers = withCommand(p.frames(), 0xE8);
    ASSERT_FALSE(answers.empty());
    const Bytes& a = answers.back().body;
    ASSERT_EQ(a.size(), 10u) << "channel " << ch;  // EF EE E8 + 7 bytes from the model code on
    EXPECT_EQ(Bytes(a.begin() + 3, a.begin() + 7), kIdentity);
    EXPECT_EQ(a[7], 0x03);
    EXPECT_EQ(hexValue(a[8], a[9]), p.radio.monitorReading(ch)) << "channel " << ch;
  }
  EXPECT_EQ(withCommand(p.frames(), 0xE8).size(), 13u);
}

TEST(VirtualTarnE8, SettingCommandsChangeTheStateWithoutAnswering) {
  ProgramSide p;
  p.open(9600);
  p.send(e8Payload(0x05, 0x5A));                            // power high
  p.send(e8Payload(0x0E, 0xF6));                            // BPF T3 = -10
  p.send(e8Payload(0x04, 0x33));                            // squelch
  p.send(e8Payload(0x00, 4));                               // channel number 4 = slot 3
  p.send(e8Payload(0x02, 1));                               // adjustment mode
  p.send(e8Payload(0x13, 0xC8));                            // RSSI L2
  p.send(e8Payload(0x14 + 7, 99));                          // compensation entry 7
  p.send(e8Payload(0x05, 0x11, {0x26, 0x51, 0x09, 0x09}));  // another identity: ignored
  p.wait(300000);
  EXPECT_TRUE(p.arrived.empty());
  const Bytes& img = p.radio.image();
  EXPECT_EQ(img[eep::kPowerHi], 0x5A);
  EXPECT_EQ(*p.radio.itemValue(0x0E), -10);
  EXPECT_EQ(img[eep::kBpfT1 + 2], 0xF6);
  EXPECT_EQ(img[eep::kSquelch], 0x33);
  EXPECT_EQ(img[eep::kRssiL2], 0xC8);
  EXPECT_EQ(p.radio.txfEntry(7), 99);
  EXPECT_EQ(p.radio.selectedSlot(), 3);
  EXPECT_TRUE(p.radio.adjustmentMode());
  // The frames seen, decoded as the program's tests read them.
  std::vector<std::pair<int, int>> seen;
  for (const FrameRecord& f : p.radio.frames()) {
    if (const auto e8 = f.e8()) seen.emplace_back(e8->code, e8->value);
  }
  ASSERT_EQ(seen.size(), 8u);
  EXPECT_EQ(seen[1], std::make_pair(0x0E, 0xF6));
  EXPECT_EQ(seen[6], std::make_pair(0x14 + 7, 99));
}

// ---------------------------------------------------------------------------------------------

// Sends a clone write of the given image (16-byte records), optionally spoiling one record.
std::optional<std::uint8_t> cloneWrite(ProgramSide& p, const Bytes& image, int badRecord = -1,
                                       const std::string& maker = "Vorel Co.", int address0 = 0) {
  p.send({0xE3, 0x26, 0x51, 0x01, 0x00});
  for (int k = 0; k < 998; ++k) {
    const int a = k == 0 ? address0 : k * 16;
    Bytes rec = {static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a & 0xFF), 16};
    rec.insert(rec.end(), image.begin() + k * 16, image.begin() + k * 16 + 16);
    int sum = 0;
    for (std::uint8_t b : rec) sum += b;
    rec.push_back(static_cast<std::uint8_t>((256 - sum % 256 + (k == badRecord ? 1 : 0)) % 256));
    Bytes payload = {0xE4};
    for (std::uint8_t b : rec) {
      payload.push_back(tarnset::wire::hexDigitChar(b >> 4));
      payload.push_back(tarnset::wire::hexDigitChar(b));
    }
    p.send(payload);
  }
  Bytes end = {0xE5};
  const Bytes m = textBytes(maker);
  end.insert(end.end(), m.begin(), m.end());
  p.send(end);
  p.wait(100000);
  const auto e6 = withCommand(p.frames(), 0xE6);
  if (e6.size() != 1 || e6[0].body.size() != 4) return std::nullopt;
  return e6[0].body[3];
}

TEST(VirtualTarnCloneWrite, AcceptedRecordsReplaceTheImage) {
  ProgramSide p;
  p.open(9600);
  Bytes image = defaultImage();
  image[eep::kPowerHi] = 17;
  image[eep::kLastAddress] = 0x42;
  EXPECT_EQ(cloneWrite(p, image), std::optional<std::uint8_t>(VirtualTarn::kWriteAccepted));
  EXPECT_EQ(p.radio.image(), image);
}

TEST(VirtualTarnCloneWrite, AFaultyWriteIsRefusedAndLeavesTheImageAlone) {
  Bytes image = defaultImage();
  image[eep::kPowerHi] = 17;
  struct Case {
    int badRecord;
    std::string maker;
    int address0;
    std::uint8_t status;
  };
  for (const Case& c : {Case{500, "Vorel Co.", 0, VirtualTarn::kWriteBadRecord},
                        Case{-1, "Vorel Co!", 0, VirtualTarn::kWriteBadEnd},
                        Case{-1, "Vorel Co.", 0x3E58, VirtualTarn::kWriteOutside}}) {
    ProgramSide p;
    p.open(9600);
    EXPECT_EQ(cloneWrite(p, image, c.badRecord, c.maker, c.address0), std::optional<std::uint8_t>(c.status));
    EXPECT_EQ(p.radio.image(), defaultImage());
  }
}

// ---------------------------------------------------------------------------------------------

Options withFault(const std::string& name) {
  Options opt;
  opt.faults.push_back(*parseFault(name));
  return opt;
}

Options withFaults(std::initializer_list<const char*> names) {
  Options opt;
  for (const char* n : names) opt.faults.push_back(*parseFault(n));
  return opt;
}

Bytes identify(ProgramSide& p) {
  p.open(9600);
  p.send({0xE0, 0x26, 0x51, 0x00, 0x00});
  p.wait(200000);
  const auto e1 = withCommand(p.frames(), 0xE1);
  return e1.empty() ? Bytes{} : e1[0].body;
}

TEST(VirtualTarnFaults, NamesParseAndPrintBack) {
  for (const char* name :
       {"silent", "wrong-model", "sub-model-0101", "version-02", "version-04", "bad-checksum=12", "bad-count",
        "outside-image=0", "silence-after=997", "repeat-record=400", "noise", "echo", "monitor-length",
        "monitor-identity", "monitor-nonhex"}) {
    const auto f = parseFault(name);
    ASSERT_TRUE(f.has_value()) << name;
    EXPECT_EQ(faultName(*f), name);
  }
  for (const char* bad : {"", "Silent", "bad-checksum", "bad-checksum=", "bad-checksum=-1", "silence-after=x",
                          "repeat-record="}) {
    EXPECT_FALSE(parseFault(bad).has_value()) << bad;
  }
}

TEST(VirtualTarnFaults, IdentificationFaultsChangeTheE1) {
  ProgramSide silent(withFault("silent"));
  EXPECT_TRUE(identify(silent).empty());

  ProgramSide wrong(withFault("wrong-model"));
  const Bytes w = identify(wrong);
  ASSERT_GE(w.size(), 7u);
  EXPECT_NE(Bytes(w.begin() + 3, w.begin() + 5), (Bytes{0x26, 0x51}));

  ProgramSide sub(withFault("sub-model-0101"));
  const Bytes s = identify(sub);
  ASSERT_GE(s.size(), 7u);
  EXPECT_EQ(Bytes(s.begin() + 5, s.begin() + 7), (Bytes{0x01, 0x01}));

  ProgramSide v2(withFault("version-02"));
  ProgramSide v4(withFault("version-04"));
  EXPECT_EQ(identify(v2).at(42), 0x02);
  EXPECT_EQ(identify(v4).at(42), 0x04);
}

TEST(VirtualTarnFaults, StreamFaultsSpoilTheNamedRecordOnly) {
  ProgramSide badSum(withFault("bad-checksum=5"));
  runCloneRead(badSum);
  auto records = withCommand(badSum.frames(), 0xE4);
  ASSERT_EQ(records.size(), 998u);
  for (std::size_t i = 0; i < records.size(); ++i) EXPECT_EQ(decodeRecord(records[i].body).sumOk, i != 5);

  ProgramSide outside(withFault("outside-image=3"));
  runCloneRead(outside);
  records = withCommand(outside.frames(), 0xE4);
  ASSERT_EQ(records.size(), 998u);
  EXPECT_EQ(decodeRecord(records[3].body).address, 0x3E60);
  EXPECT_TRUE(decodeRecord(records[3].body).sumOk);

  ProgramSide count(withFault("bad-count"));
  runCloneRead(count);
  const auto e5 = withCommand(count.frames(), 0xE5);
  ASSERT_EQ(e5.size(), 1u);
  EXPECT_NE(hexValue(e5[0].body[12], e5[0].body[13]), 998 % 256);
}

TEST(VirtualTarnFaults, SilenceAfterStopsTheStreamAndTheRadioRecovers) {
  ProgramSide p(withFault("silence-after=9"));
  runCloneRead(p);
  EXPECT_EQ(withCommand(p.frames(), 0xE4).size(), 10u);
  EXPECT_TRUE(withCommand(p.frames(), 0xE5).empty());
  EXPECT_EQ(p.radio.baud(), 9600);
  p.close();
  p.open(9600);
  p.send({0xE0, 0x26, 0x51, 0x00, 0x00});
  p.wait(200000);
  EXPECT_EQ(withCommand(p.frames(), 0xE1).size(), 2u);
}

TEST(VirtualTarnFaults, NoiseBetweenFramesNeverCarriesFrameBytes) {
  ProgramSide p(withFault("noise"));
  runCloneRead(p);
  const auto frames = p.frames();
  EXPECT_EQ(withCommand(frames, 0xE4).size(), 998u);
  EXPECT_EQ(withCommand(frames, 0xE5).size(), 1u);
  // More bytes than the frames themselves, and the extra ones are neither FE nor FD.
  std::size_t framed = 0;
  for (const Cut& c : frames) framed += c.body.size() + 3;
  const Bytes all = p.bytes();
  EXPECT_GT(all.size(), framed + 1000);
  EXPECT_EQ(std::count(all.begin(), all.end(), 0xFD), static_cast<std::ptrdiff_t>(frames.size()));
}

TEST(VirtualTarnFaults, EchoReturnsTheProgramsOwnFrameBeforeTheAnswer) {
  ProgramSide p(withFault("echo"));
  identify(p);
  const auto frames = p.frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].body, (Bytes{0xEE, 0xEF, 0xE0, 0x26, 0x51, 0x00, 0x00}));
  EXPECT_EQ(frames[1].body[2], 0xE1);
}

TEST(VirtualTarnFaults, MonitorAnswerFaults) {
  const auto answer = [](const std::string& fault) {
    ProgramSide p(withFault(fault));
    p.open(9600);
    p.send(e8Payload(0x03, 4));
    p.wait(60000);
    const auto e8 = withCommand(p.frames(), 0xE8);
    return e8.empty() ? Bytes{} : Bytes(e8[0].body.begin() + 3, e8[0].body.end());
  };
  EXPECT_EQ(answer("monitor-length").size(), 8u);
  const Bytes other = answer("monitor-identity");
  ASSERT_EQ(other.size(), 7u);
  EXPECT_NE(Bytes(other.begin(), other.begin() + 4), kIdentity);
  const Bytes nonHex = answer("monitor-nonhex");
  ASSERT_EQ(nonHex.size(), 7u);
  EXPECT_FALSE(std::isxdigit(nonHex[5]) && std::isxdigit(nonHex[6]));
}

TEST(VirtualTarnFaults, RepeatRecordSendsRecordKAgainInPlaceOfTheNext) {
  ProgramSide p(withFault("repeat-record=400"));
  runCloneRead(p);
  const auto records = withCommand(p.frames(), 0xE4);
  ASSERT_EQ(records.size(), 998u);
  const Bytes& image = p.radio.image();
  for (std::size_t i = 0; i < records.size(); ++i) {
    const Record r = decodeRecord(records[i].body);
    ASSERT_TRUE(r.sumOk) << "record " << i;
    const int source = i == 401 ? 400 : static_cast<int>(i);
    ASSERT_EQ(r.address, source * 16) << "record " << i;
    ASSERT_EQ(r.data, Bytes(image.begin() + source * 16, image.begin() + source * 16 + 16)) << "record " << i;
  }
  EXPECT_EQ(records[401].body, records[400].body);
  // 1910h..191Fh never leave the radio; the end frame still counts the records sent.
  EXPECT_TRUE(std::none_of(records.begin(), records.end(),
                           [](const Cut& c) { return decodeRecord(c.body).address == 0x1910; }));
  const auto e5 = withCommand(p.frames(), 0xE5);
  ASSERT_EQ(e5.size(), 1u);
  EXPECT_EQ(hexValue(e5[0].body[12], e5[0].body[13]), 998 % 256);

  // Faults that spoil a frame act on the frame sent at their position: here the copy.
  ProgramSide both(withFaults({"repeat-record=0", "bad-checksum=1"}));
  runCloneRead(both);
  const auto r = withCommand(both.frames(), 0xE4);
  ASSERT_EQ(r.size(), 998u);
  EXPECT_TRUE(decodeRecord(r[0].body).sumOk);
  EXPECT_EQ(decodeRecord(r[1].body).address, 0);
  EXPECT_FALSE(decodeRecord(r[1].body).sumOk);
  EXPECT_EQ(decodeRecord(r[2].body).address, 32);
}

TEST(VirtualTarnOptions, RefusesWhatItCannotServeAndAcceptsTheLimits) {
  const auto subModel = [](const char* code) {
    Options opt;
    opt.subModel = code;
    return opt;
  };
  Options noisy;
  noisy.sdNoise = -1;
  Options hot;
  hot.temperatureC = std::nan("");
  Options shortImage;
  shortImage.image = Bytes(15967, 0);
  Options negative;
  negative.faults.push_back(Fault{Fault::BadChecksum, -1});
  Options hidden = withFault("sub-model-0101");
  hidden.subModel = "0200";
  const std::vector<std::pair<std::string, Options>> refused = {
      {"FE00", subModel("FE00")},
      {"00FD", subModel("00FD")},
      {"fdfd", subModel("fdfd")},
      {"0G00", subModel("0G00")},
      {"short image", shortImage},
      {"NaN temperature", hot},
      {"negative SD noise", noisy},
      {"bad-checksum=998", withFaults({"bad-checksum=998"})},
      {"outside-image=998", withFaults({"outside-image=998"})},
      {"silence-after=998", withFaults({"silence-after=998"})},
      {"repeat-record=997", withFaults({"repeat-record=997"})},
      {"negative record", negative},
      {"silent hides the rest", withFaults({"silent", "monitor-nonhex"})},
      {"two versions", withFaults({"version-02", "version-04"})},
      {"sub-model-0101 hides another sub-model", hidden},
      {"two stop points", withFaults({"silence-after=5", "silence-after=9"})},
      {"count after the stop", withFaults({"silence-after=5", "bad-count"})},
      {"checksum after the stop", withFaults({"silence-after=5", "bad-checksum=6"})},
      {"copy after the stop", withFaults({"silence-after=5", "repeat-record=5"})},
  };
  for (const auto& [what, opt] : refused) {
    EXPECT_FALSE(optionsError(opt).empty()) << what;
    EXPECT_THROW(VirtualTarn{opt}, std::invalid_argument) << what;
  }
  const std::vector<std::pair<std::string, Options>> accepted = {
      {"FC01", subModel("FC01")},
      {"last records", withFaults({"bad-checksum=997", "outside-image=997", "repeat-record=996"})},
      {"stop at the last record", withFaults({"silence-after=997", "bad-checksum=997", "repeat-record=996"})},
      {"stop point named twice", withFaults({"silence-after=5", "silence-after=5", "bad-checksum=5"})},
      {"a silent radio on a one-wire cable", withFaults({"silent", "echo"})},
      {"sub-model-0101 over the default", withFaults({"sub-model-0101"})},
  };
  for (const auto& [what, opt] : accepted) {
    EXPECT_EQ(optionsError(opt), "") << what;
    EXPECT_NO_THROW(VirtualTarn{opt}) << what;
  }
}

// ---------------------------------------------------------------------------------------------

// Collects the radio's log lines.
struct LogLines {
  explicit LogLines(VirtualTarn& radio) {
    radio.setLogSink([this](const std::string& line) { lines.push_back(line); });
  }
  int count(const std::string& text) const {
    return static_cast<int>(std::count_if(
        lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; }));
  }
  std::vector<std::string> lines;
};

TEST(VirtualTarnSwitches, SilenceDropsAnswersAndActionsUntilLifted) {
  ProgramSide p;
  LogLines log(p.radio);
  p.open(9600);
  const Bytes e0 = {0xE0, 0x26, 0x51, 0x00, 0x00};
  // An answer whose latency has not run out when the radio falls silent is never sent.
  const std::int64_t askedAt = p.send(e0);
  p.radio.setSilent(true, askedAt + VirtualTarn::kAnswerLatencyUs / 2);
  EXPECT_TRUE(p.radio.silent());
  p.wait(200000);
  p.send(e0);
  p.send(e8Payload(0x03, 4));
  p.send(e8Payload(0x05, 0x5A));
  p.wait(200000);
  EXPECT_TRUE(p.arrived.empty());
  EXPECT_NE(p.radio.image()[eep::kPowerHi], 0x5A);
  // Received all the same, and logged as received.
  int received = 0;
  for (const FrameRecord& f : p.radio.frames()) received += f.fromRadio ? 0 : 1;
  EXPECT_EQ(received, 4);
  EXPECT_EQ(log.count("RX  9600 FE FE EE EF E0"), 2);
  EXPECT_EQ(log.count("SILENT on"), 1);

  p.radio.setSilent(false, p.now);
  p.radio.setSilent(false, p.now);  // no change, no second line
  EXPECT_FALSE(p.radio.silent());
  p.send(e0);
  p.send(e8Payload(0x05, 0x5A));
  p.wait(200000);
  EXPECT_EQ(withCommand(p.frames(), 0xE1).size(), 1u);
  EXPECT_EQ(p.radio.image()[eep::kPowerHi], 0x5A);
  EXPECT_EQ(log.count("SILENT off"), 1);
}

TEST(VirtualTarnSwitches, FallingSilentStopsARunningStreamAfterTheRecordOnTheWire) {
  ProgramSide p;
  LogLines log(p.radio);
  p.open(9600);
  p.send(e8Payload(0x01, 0x09));
  p.wait(50000);
  p.close();
  p.open(38400);
  p.send({0xE2, 0x26, 0x51, 0x01, 0x00}, 37);
  p.wait(100000);
  ASSERT_TRUE(p.radio.streaming());
  const std::int64_t silentAt = p.now;
  p.radio.setSilent(true, silentAt);
  EXPECT_FALSE(p.radio.streaming());
  p.wait(14000000);
  const auto records = withCommand(p.frames(), 0xE4);
  ASSERT_GT(records.size(), 5u);
  EXPECT_LT(records.size(), 998u);
  EXPECT_TRUE(withCommand(p.frames(), 0xE5).empty());
  // At most the record that was leaving completes after the switch.
  const std::int64_t recordUs = 46 * 10000000LL / 38400 + 1;
  EXPECT_LE(records.back().endUs, silentAt + recordUs);
  EXPECT_EQ(log.count("CLONE read: stream stops after record " + std::to_string(records.size() - 1)), 1);
  EXPECT_EQ(p.radio.baud(), 9600);

  // Answering again, it is an idle radio at 9600 that has not resumed the stream.
  p.radio.setSilent(false, p.now);
  p.close();
  p.open(9600);
  p.send({0xE0, 0x26, 0x51, 0x00, 0x00});
  p.wait(200000);
  EXPECT_EQ(withCommand(p.frames(), 0xE1).size(), 1u);
  EXPECT_EQ(withCommand(p.frames(), 0xE4).size(), records.size());
}

TEST(VirtualTarnSwitches, SpoiledMonitorAnswerIsSpoiledOnce) {
  ProgramSide p;
  LogLines log(p.radio);
  p.open(9600);
  const auto lastAnswer = [&p] {
    const auto e8 = withCommand(p.frames(), 0xE8);
    return e8.empty() ? Bytes{} : e8.back().body;
  };
  const auto good = [](const Bytes& a) {
    return a.size() == 10 && std::isxdigit(a[8]) && std::isxdigit(a[9]);
  };

  p.radio.spoilNextMonitorAnswer();
  p.radio.spoilNextMonitorAnswer();  // armed already: still one spoiled answer
  EXPECT_TRUE(p.radio.monitorAnswerSpoilArmed());
  // The silent radio sends no answer, so none is spoiled yet.
  p.radio.setSilent(true, p.now);
  p.send(e8Payload(0x03, 4));
  p.wait(60000);
  EXPECT_TRUE(lastAnswer().empty());
  p.radio.setSilent(false, p.now);

  p.send(e8Payload(0x03, 4));
  p.wait(60000);
  const Bytes spoiled = lastAnswer();
  ASSERT_EQ(spoiled.size(), 10u);
  EXPECT_EQ(Bytes(spoiled.begin() + 3, spoiled.begin() + 8), (Bytes{0x26, 0x51, 0x01, 0x00, 0x03}));
  EXPECT_FALSE(std::isxdigit(spoiled[8]) && std::isxdigit(spoiled[9]));
  EXPECT_FALSE(p.radio.monitorAnswerSpoilArmed());

  for (int ch : {4, 3}) {
    p.send(e8Payload(0x03, ch));
    p.wait(60000);
    const Bytes a = lastAnswer();
    ASSERT_TRUE(good(a)) << "channel " << ch;
    EXPECT_EQ(hexValue(a[8], a[9]), p.radio.monitorReading(ch));
  }
  EXPECT_EQ(withCommand(p.frames(), 0xE8).size(), 3u);
  EXPECT_EQ(log.count("SPOIL next monitor answer"), 2);
  EXPECT_EQ(log.count("SPOIL monitor answer"), 1);
}

}  // namespace
}  // namespace kvsim::test
