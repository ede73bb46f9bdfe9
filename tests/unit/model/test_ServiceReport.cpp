// The service record: which images are one radio, what a restore sends back, and the
// rows of the report in both renderings.
#include <gtest/gtest.h>

#include <algorithm>

#include "model/ServiceReport.h"
#include "sim/TarnImage.h"

namespace tarnset {
namespace {

Bytes image() {
  return kvsim::defaultImage();
}

ServiceReportInput input(Bytes found, Bytes left) {
  ServiceReportInput in;
  in.model = "2651";
  in.subModel = "0100";
  in.dateTime = "2026-12-07 14:32";
  in.programVersion = "tarnset-adj 1.2.0 (Tarnset ADJ Rev.1.2)";
  in.asFound = std::move(found);
  in.asLeft = std::move(left);
  in.asFoundSource = "20261207-140102-2651-0100-1a2b3c4d.bin";
  in.asLeftState = "verified by a read at 14:30";
  in.calRun = true;
  in.monitorLines = {"VIN  :150:96h: 11.76V"};
  in.coefficientsChecksum = "9f86d081";
  return in;
}

TEST(ServiceRecord, OneRadioDiffersOnlyInTheBytesThisProgramWrites) {
  const Bytes a = image();
  Bytes b = a;
  for (std::int32_t adr : {79, 68, 274, 216, 255, 86, 87}) b[static_cast<std::size_t>(adr)] ^= 0x5A;
  EXPECT_TRUE(sameRadio(a, b));
  EXPECT_EQ(programWrittenAddresses().size(), 12u + 40u + 2u);
  b[1400] ^= 1;  // the channel memory
  EXPECT_FALSE(sameRadio(a, b));
  Bytes c = a;
  c[80] ^= 1;  // a tone correction: never written by this program
  EXPECT_FALSE(sameRadio(a, c));
  EXPECT_FALSE(sameRadio(a, Bytes(a.begin(), a.end() - 1)));
}

TEST(ServiceRecord, ARestoreSendsBackExactlyWhatDiffersWithItsCode) {
  const Bytes found = image();
  Bytes now = found;
  now[79] = static_cast<std::uint8_t>(found[79] + 3);    // Power(Hi)
  now[69] = 0xF0;                                        // BPF T2, signed
  now[221] = static_cast<std::uint8_t>(found[221] + 1);  // TXF entry 5: REF Initial 2
  now[220] = 0x80;                                       // TXF entry 4: REF Slant 2, signed
  now[86] = static_cast<std::uint8_t>(found[86] - 10);   // RSSI L0
  const auto list = restoreList(found, now);
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list[0].what, "Power(Hi)");
  EXPECT_EQ(list[0].kind, RestoreValue::Kind::Item);
  EXPECT_EQ(list[0].row, 1);
  EXPECT_EQ(list[0].e8Code, 0x05);
  EXPECT_EQ(list[0].byte, found[79]);
  EXPECT_EQ(list[1].what, "BPF T2");
  EXPECT_EQ(list[1].row, 11);
  EXPECT_EQ(list[1].now, -16);
  EXPECT_EQ(list[1].asFound, static_cast<std::int16_t>(found[69] >= 128 ? found[69] - 256 : found[69]));
  EXPECT_EQ(list[2].what, "TXF entry 4 (REF Slant 2)");
  EXPECT_EQ(list[2].e8Code, 0x14 + 4);
  EXPECT_EQ(list[2].now, -128);
  EXPECT_EQ(list[3].what, "TXF entry 5 (REF Initial 2)");
  EXPECT_EQ(list[3].address, 221);
  EXPECT_EQ(list[4].what, "RSSI L0 Level");
  EXPECT_EQ(list[4].e8Code, 0x12);
  EXPECT_EQ(describeRestore({list[0], list[4]}),
            "Power(Hi): " + std::to_string(found[79] + 3) + " -> " + std::to_string(found[79]) +
                "\r\nRSSI L0 Level: " + std::to_string(found[86] - 10) + " -> " + std::to_string(found[86]));
  EXPECT_TRUE(restoreList(found, found).empty());
}

TEST(ServiceRecord, TheReportShowsEachChangedValueBesideWhatWasFound) {
  const Bytes found = image();
  Bytes left = found;
  left[79] = static_cast<std::uint8_t>(found[79] - 2);
  left[217] = static_cast<std::uint8_t>(found[217] + 4);
  const std::string text = serviceReportText(input(found, left));
  EXPECT_NE(text.find("Radio:          KV-Tarn, model code 2651, sub-model 0100\n"), std::string::npos);
  EXPECT_NE(text.find("As left:        verified by a read at 14:30\n"), std::string::npos);
  EXPECT_NE(text.find("Changed: 1 alignment item, 1 compensation entry, 0 RSSI points.\n"), std::string::npos)
      << text;
  const std::string power =
      "  Power(Hi)   byte 79   " + std::string(9 - std::to_string(found[79]).size(), ' ') +
      std::to_string(found[79]) + std::string(9 - std::to_string(found[79] - 2).size(), ' ') +
      std::to_string(found[79] - 2) + "      -2\n";
  EXPECT_NE(text.find(power), std::string::npos) << text;
  EXPECT_NE(text.find("  changed\n"), std::string::npos);
  EXPECT_NE(text.find("CAL:            run this session"), std::string::npos);
  EXPECT_NE(text.find("  VIN  :150:96h: 11.76V\n"), std::string::npos);
  EXPECT_NE(text.find("  CH 01  RX "), std::string::npos) << "the channel list of the radio as left";
  EXPECT_NE(text.find("Technician: ____"), std::string::npos);

  const std::string page = serviceReportHtml(input(found, left));
  EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(page.find("<tr class=\"changed\"><td>Power(Hi)</td><td>byte 79</td>"), std::string::npos);
  EXPECT_NE(page.find("<tr><td>MOD W</td>"), std::string::npos) << "an unchanged item is not marked";
}

TEST(ServiceRecord, AReportFromFilesSaysWhatItCannotKnowAndEscapesItsTexts) {
  ServiceReportInput in = input(image(), image());
  in.calRun.reset();
  in.monitorLines.clear();
  in.monitorNote = "No monitor readings: this report was made from saved images.";
  in.coefficientsChecksum.clear();
  in.asFoundSource = "a<b>&c.bin";
  const std::string text = serviceReportText(in);
  EXPECT_NE(text.find("No value was changed."), std::string::npos);
  EXPECT_NE(text.find("CAL:            not known (the report was made from saved images)"),
            std::string::npos);
  EXPECT_NE(text.find("  No monitor readings: this report was made from saved images.\n"), std::string::npos);
  const std::string page = serviceReportHtml(in);
  EXPECT_NE(page.find("a&lt;b&gt;&amp;c.bin"), std::string::npos);
  EXPECT_EQ(page.find("a<b>"), std::string::npos);
}

// A file name in the page may be UTF-8 (Linux) or in the ANSI code page (Windows, here
// é as one byte); the page stays ASCII, with each character as a reference, in both.
TEST(ServiceRecord, TheReportPageSpellsFileNamesOfEitherSystemInAscii) {
  ServiceReportInput in = input(image(), image());
  const auto pageFor = [&](const std::string& source) {
    in.asFoundSource = source;
    return serviceReportHtml(in);
  };
  const std::string utf8 = pageFor("/home/jos\xC3\xA9/r\xC3\xA9sum\xE2\x82\xAC.bin");
  EXPECT_NE(utf8.find("/home/jos&#233;/r&#233;sum&#8364;.bin"), std::string::npos);
  const std::string ansi = pageFor("C:\\Users\\Jos\xE9\\x\xC3.bin");
  EXPECT_NE(ansi.find("C:\\Users\\Jos&#233;\\x&#195;.bin"), std::string::npos);
  // Overlong and surrogate forms are not characters: each byte stands for itself.
  const std::string odd = pageFor("\xC0\xAF\xED\xA0\x80");
  EXPECT_NE(odd.find("&#192;&#175;&#237;&#160;&#128;"), std::string::npos);
  for (const std::string* page : {&utf8, &ansi, &odd}) {
    EXPECT_TRUE(
        std::all_of(page->begin(), page->end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
  }
}

}  // namespace
}  // namespace tarnset
