#include "model/ServiceReport.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "base/NumFormat.h"
#include "model/RigTarnConstFile.h"
#include "model/TarnItems.h"
#include "model/TarnMap.h"
#include "model/clsIndEep_RigTarn.h"
#include "platform/LocalTime.h"
#include "radio/clsCmcRadio.h"

namespace tarnset {

namespace {

constexpr std::int16_t kE8RssiL0 = 0x12;
constexpr std::int16_t kE8RssiL2 = 0x13;
constexpr std::int16_t kE8TxfEntry0 = 0x14;

std::uint8_t byteOf(const Bytes& image, std::int32_t adr) {
  return adr >= 0 && static_cast<std::size_t>(adr) < image.size() ? image[static_cast<std::size_t>(adr)] : 0;
}

std::int16_t valueOf(std::uint8_t b, bool isSigned) {
  return static_cast<std::int16_t>(isSigned && b >= 128 ? b - 256 : b);
}

std::string trimmed(const std::string& s) {
  const std::size_t a = s.find_first_not_of(' ');
  return a == std::string::npos ? std::string() : s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// The name of TXF entry k: the listing's names of its two kinds of byte.
std::string txfEntryName(std::int32_t k) {
  const std::int32_t i = k / 2;
  return "TXF entry " + std::to_string(k) + (k % 2 == 1 ? " (REF Initial " : " (REF Slant ") +
         std::to_string(i) + ")";
}

std::string change(std::int16_t from, std::int16_t to) {
  if (from == to) return "";
  return (to > from ? "+" : "") + std::to_string(to - from);
}

// ---- the rows of the report, made once for both renderings ----

struct ValueRow {
  std::string name;
  std::string where;  // "byte 79"
  std::int16_t found = 0;
  std::int16_t left = 0;
};

struct TxfRow {
  std::int32_t border = 0;
  std::int16_t initialFound = 0, initialLeft = 0;  // REF Initial i (byte 217 + 2i)
  std::int16_t slantFound = 0, slantLeft = 0;      // REF Slant i (byte 216 + 2i), signed
};

struct ChannelRow {
  std::string ch, rx, tx, power, mode;
};

struct ReportRows {
  std::vector<ValueRow> items;
  std::vector<TxfRow> txf;
  std::vector<ValueRow> rssi;
  std::vector<ChannelRow> channels;
  int changedItems = 0, changedTxf = 0, changedRssi = 0;
};

std::vector<ChannelRow> channelsOf(const Bytes& image) {
  clsCmcRadio radio;
  radio.eepImage().WriteBlock(
      0, Bytes(image.begin(), image.begin() + std::min<std::size_t>(image.size(), TarnMap::kImageSize)));
  const clsIndEep_RigTarn map(radio, [](std::int16_t) { return std::int16_t{0}; });
  const TarnChannelMap m = map.RigTarnEep_Channels();
  const auto freq = [&map](std::int32_t base, std::int16_t ch) {
    if (map.Check_Inh(base + TarnMap::kChRecordSize * ch) != 0) return std::string("inhibit");
    const std::int32_t hz = map.ReadFreqBlock(base + TarnMap::kChRecordSize * ch);
    return formatNumber(static_cast<double>(hz) / 1e6, "###0.#####0");
  };
  std::vector<ChannelRow> rows;
  for (std::int16_t ch : m.inUse) {
    ChannelRow r;
    r.ch = (ch + 1 < 10 ? "0" : "") + std::to_string(ch + 1);
    r.rx = freq(m.rxBase, ch);
    r.tx = freq(m.txBase, ch);
    const std::int16_t power = map.RigTarnEep_GetChRFPower(m.chBase, ch);
    r.power = power == 0 ? "High" : (power == 1 ? "Low2" : "Low1");
    r.mode = map.RigTarnEep_GetChMode(m.chBase, ch) ? "Narrow" : "Wide";
    rows.push_back(r);
  }
  return rows;
}

ReportRows rowsOf(const ServiceReportInput& in) {
  ReportRows r;
  for (const TarnItem& it : tarnEepromItems()) {
    ValueRow v{trimmed(it.title), "byte " + std::to_string(it.eeAdr),
               valueOf(byteOf(in.asFound, it.eeAdr), it.eeSigned),
               valueOf(byteOf(in.asLeft, it.eeAdr), it.eeSigned)};
    r.changedItems += v.found != v.left;
    r.items.push_back(v);
  }
  for (std::int32_t i = 0; i < TarnMap::kTxfSegments; ++i) {
    const std::int32_t initial = TarnMap::kTxfInitial + 2 * i, slant = TarnMap::kTxfSlant + 2 * i;
    TxfRow t{kTarnTempBorder[static_cast<std::size_t>(i)], valueOf(byteOf(in.asFound, initial), false),
             valueOf(byteOf(in.asLeft, initial), false), valueOf(byteOf(in.asFound, slant), true),
             valueOf(byteOf(in.asLeft, slant), true)};
    r.changedTxf += (t.initialFound != t.initialLeft) + (t.slantFound != t.slantLeft);
    r.txf.push_back(t);
  }
  for (const auto& [name, adr] :
       {std::pair{"RSSI L0 Level", TarnMap::kRssiL0}, {"RSSI L2 Level", TarnMap::kRssiL2}}) {
    ValueRow v{name, "byte " + std::to_string(adr), byteOf(in.asFound, adr), byteOf(in.asLeft, adr)};
    r.changedRssi += v.found != v.left;
    r.rssi.push_back(v);
  }
  r.channels = channelsOf(in.asLeft);
  return r;
}

std::string plural(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string summaryOf(const ReportRows& r) {
  if (r.changedItems + r.changedTxf + r.changedRssi == 0) return "No value was changed.";
  return "Changed: " + plural(r.changedItems, "alignment item", "alignment items") + ", " +
         plural(r.changedTxf, "compensation entry", "compensation entries") + ", " +
         plural(r.changedRssi, "RSSI point", "RSSI points") + ".";
}

std::string calText(const std::optional<bool>& cal) {
  if (!cal) return "not known (the report was made from saved images)";
  return *cal ? "run this session (the radio took its calibration points)" : "not run this session";
}

std::string checksumText(const std::string& sum) {
  return sum.empty() ? "not known (the report was made from saved images)" : sum;
}

std::string padRight(const std::string& s, std::size_t w) {
  return s.size() >= w ? s : s + std::string(w - s.size(), ' ');
}

std::string padLeft(const std::string& s, std::size_t w) {
  return s.size() >= w ? s : std::string(w - s.size(), ' ') + s;
}

// Length of the UTF-8 sequence that starts at s[i] (2 to 4 bytes, shortest form, no
// surrogates), 0 when the bytes there are not one; its code point in cp.
std::size_t utf8Sequence(const std::string& s, std::size_t i, std::uint32_t& cp) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
  const std::uint8_t lead = byte(i);
  std::size_t n = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2, cp = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3, cp = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4, cp = lead & 0x07u;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0u) != 0x80u) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3Fu);
  }
  const bool shortest = (n == 3 && cp >= 0x800) || (n == 4 && cp >= 0x10000) || n == 2;
  if (!shortest || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
  return n;
}

// Text for the page, in ASCII alone: the markup characters escaped, and every other
// character as a numeric reference, so that the page reads the same in a browser and in
// the PDF writer. A file name here may be UTF-8 (Linux) or the ANSI code page (Windows):
// a byte that does not start a UTF-8 sequence is taken as the Latin-1 character.
std::string html(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        if (static_cast<std::uint8_t>(c) < 0x80) {
          out += c;
        } else {
          std::uint32_t cp = static_cast<std::uint8_t>(c);
          const std::size_t n = utf8Sequence(s, i, cp);
          if (n == 0) cp = static_cast<std::uint8_t>(c);
          if (n > 1) i += n - 1;
          out += "&#" + std::to_string(cp) + ";";
        }
    }
  }
  return out;
}

}  // namespace

const std::vector<std::int32_t>& programWrittenAddresses() {
  static const std::vector<std::int32_t> addresses = [] {
    std::vector<std::int32_t> a;
    for (const TarnItem& it : tarnEepromItems()) a.push_back(it.eeAdr);
    for (std::int32_t k = 0; k < TarnMap::kTxfTableEntries; ++k) a.push_back(TarnMap::kTxfTable + k);
    a.push_back(TarnMap::kRssiL0);
    a.push_back(TarnMap::kRssiL2);
    std::sort(a.begin(), a.end());
    return a;
  }();
  return addresses;
}

bool sameRadio(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size()) return false;
  const std::vector<std::int32_t>& owned = programWrittenAddresses();
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && !std::binary_search(owned.begin(), owned.end(), static_cast<std::int32_t>(i)))
      return false;
  }
  return true;
}

std::vector<RestoreValue> restoreList(const Bytes& asFound, const Bytes& now) {
  std::vector<RestoreValue> out;
  for (const TarnItem& it : tarnEepromItems()) {
    const std::uint8_t found = byteOf(asFound, it.eeAdr);
    if (found == byteOf(now, it.eeAdr)) continue;
    RestoreValue v;
    v.kind = RestoreValue::Kind::Item;
    v.what = trimmed(it.title);
    v.address = it.eeAdr;
    v.e8Code = it.e8Command;
    v.row = it.row;
    v.now = valueOf(byteOf(now, it.eeAdr), it.eeSigned);
    v.asFound = valueOf(found, it.eeSigned);
    v.byte = found;
    out.push_back(v);
  }
  for (std::int32_t k = 0; k < TarnMap::kTxfTableEntries; ++k) {
    const std::int32_t adr = TarnMap::kTxfTable + k;
    const std::uint8_t found = byteOf(asFound, adr);
    if (found == byteOf(now, adr)) continue;
    const bool isSlope = k % 2 == 0;
    RestoreValue v;
    v.kind = RestoreValue::Kind::TxfEntry;
    v.what = txfEntryName(k);
    v.address = adr;
    v.e8Code = static_cast<std::int16_t>(kE8TxfEntry0 + k);
    v.now = valueOf(byteOf(now, adr), isSlope);
    v.asFound = valueOf(found, isSlope);
    v.byte = found;
    out.push_back(v);
  }
  for (const auto& [name, adr, code] : {std::tuple{"RSSI L0 Level", TarnMap::kRssiL0, kE8RssiL0},
                                        std::tuple{"RSSI L2 Level", TarnMap::kRssiL2, kE8RssiL2}}) {
    const std::uint8_t found = byteOf(asFound, adr);
    if (found == byteOf(now, adr)) continue;
    RestoreValue v;
    v.kind = RestoreValue::Kind::RssiPoint;
    v.what = name;
    v.address = adr;
    v.e8Code = code;
    v.now = byteOf(now, adr);
    v.asFound = found;
    v.byte = found;
    out.push_back(v);
  }
  return out;
}

std::string describeRestore(const std::vector<RestoreValue>& values) {
  std::string text;
  for (const RestoreValue& v : values) {
    if (!text.empty()) text += "\r\n";
    text += v.what + ": " + std::to_string(v.now) + " -> " + std::to_string(v.asFound);
  }
  return text;
}

std::string reportTime(std::time_t t, const char* pattern) {
  std::tm local{};
  if (!localTime(t, local)) return {};
  char buf[64];
  return std::strftime(buf, sizeof buf, pattern, &local) > 0 ? std::string(buf) : std::string();
}

ServiceReportInput reportInput(const std::string& model, const std::string& subModel, std::time_t madeAt,
                               const std::string& programVersion, const Bytes& asFound, const Bytes& asLeft) {
  ServiceReportInput in;
  in.model = model;
  in.subModel = subModel;
  in.dateTime = reportTime(madeAt);
  in.programVersion = programVersion;
  in.asFound = asFound;
  in.asLeft = asLeft;
  return in;
}

std::string serviceReportText(const ServiceReportInput& in) {
  const ReportRows r = rowsOf(in);
  std::string t;
  const auto line = [&t](const std::string& s) { t += s + "\n"; };
  line("KV-Tarn service report");
  line("");
  line("Radio:          KV-Tarn, model code " + in.model + ", sub-model " + in.subModel);
  line("Date:           " + in.dateTime);
  line("Program:        " + in.programVersion);
  line("As found:       " + in.asFoundSource);
  line("As left:        " + in.asLeftState);
  line("Const.ini:      " + checksumText(in.coefficientsChecksum));
  if (!in.readRange.empty()) line("Image:          " + in.readRange);
  line("");
  line(summaryOf(r));
  line("");
  if (!in.readBackFailures.empty()) {
    line("READ-BACK FAILURES: the radio holds these values otherwise than they were sent");
    for (const std::string& f : in.readBackFailures) line("  " + f);
    line("");
  }
  line("Alignment items");
  line("  " + padRight("Item", 12) + padRight("Byte", 10) + padLeft("As found", 9) + padLeft("As left", 9) +
       padLeft("Change", 8));
  for (const ValueRow& v : r.items) {
    line("  " + padRight(v.name, 12) + padRight(v.where, 10) + padLeft(std::to_string(v.found), 9) +
         padLeft(std::to_string(v.left), 9) + padLeft(change(v.found, v.left), 8));
  }
  line("");
  line("TXF compensation table (REF Initial: value at the border; REF Slant: slope of the segment)");
  line("  " + padRight("Border", 8) + padLeft("Initial found", 14) + padLeft("left", 6) +
       padLeft("Slant found", 13) + padLeft("left", 6));
  for (std::size_t i = 0; i < r.txf.size(); ++i) {
    const TxfRow& x = r.txf[i];
    line("  " + padRight(std::to_string(i) + " (" + std::to_string(x.border) + ")", 8) +
         padLeft(std::to_string(x.initialFound), 14) + padLeft(std::to_string(x.initialLeft), 6) +
         padLeft(std::to_string(x.slantFound), 13) + padLeft(std::to_string(x.slantLeft), 6) +
         (x.initialFound != x.initialLeft || x.slantFound != x.slantLeft ? "  changed" : ""));
  }
  line("");
  line("RSSI points");
  for (const ValueRow& v : r.rssi) {
    line("  " + padRight(v.name, 16) + padRight(v.where, 10) + padLeft(std::to_string(v.found), 9) +
         padLeft(std::to_string(v.left), 9) + padLeft(change(v.found, v.left), 8));
  }
  line("");
  line("CAL:            " + calText(in.calRun));
  line("");
  line("Measurements");
  if (in.measurements.empty()) line("  " + in.measurementsNote);
  for (const MeasuredItem& m : in.measurements) {
    line("  " + padRight(m.item, 12) + padRight(m.quantity, 11) + padRight(m.limits, 16) + "found " +
         padRight(m.asFound, 34) + padRight(m.asFoundVerdict, 6) + "left " + padRight(m.asLeft, 34) +
         m.asLeftVerdict);
  }
  for (const MeasuringInstrument& i : in.instruments) {
    line("  Instrument " + i.name + " (" + i.roles + "): " + i.identity + "; calibration due " +
         (i.calibrationDue.empty() ? std::string("not entered") : i.calibrationDue) +
         (i.pastDue ? "  PAST DUE" : ""));
  }
  line("");
  line("Monitor readings");
  if (in.monitorLines.empty()) line("  " + in.monitorNote);
  for (const std::string& m : in.monitorLines) line("  " + m);
  line("");
  line("Channels (as left)");
  if (r.channels.empty()) line("  none programmed");
  for (const ChannelRow& c : r.channels) {
    line("  CH " + c.ch + "  RX " + padLeft(c.rx, 11) + "  TX " + padLeft(c.tx, 11) + "  " +
         padRight(c.power, 5) + c.mode);
  }
  line("");
  line("Technician: ______________________   Date: ____________   Signature: ______________________");
  return t;
}

std::string serviceReportHtml(const ServiceReportInput& in) {
  const ReportRows r = rowsOf(in);
  std::string h;
  const auto add = [&h](const std::string& s) { h += s + "\n"; };
  const auto cell = [](const std::string& s, bool num = false) {
    return std::string(num ? "<td class=\"n\">" : "<td>") + html(s) + "</td>";
  };
  const auto changedRow = [](bool changed) {
    return std::string(changed ? "<tr class=\"changed\">" : "<tr>");
  };
  add("<!DOCTYPE html>");
  add("<html><head><meta charset=\"utf-8\"><title>KV-Tarn service report</title>");
  add("<style>");
  add("body { font-family: sans-serif; font-size: 10pt; }");
  add("h1 { font-size: 16pt; margin-bottom: 2pt; } h2 { font-size: 12pt; margin-top: 14pt; margin-bottom: "
      "4pt; }");
  add("table { border-collapse: collapse; } td, th { border: 1px solid #888; padding: 2px 6px; }");
  add("th { background: #e8e8e8; text-align: left; } td.n { text-align: right; }");
  add("tr.changed td { font-weight: bold; } table.head td { border: none; padding: 1px 8px 1px 0; }");
  add("p.sign { margin-top: 28pt; }");
  add("</style></head><body>");
  add("<h1>KV-Tarn service report</h1>");
  add("<table class=\"head\">");
  add("<tr><td>Radio</td><td>KV-Tarn, model code " + html(in.model) + ", sub-model " + html(in.subModel) +
      "</td></tr>");
  add("<tr><td>Date</td><td>" + html(in.dateTime) + "</td></tr>");
  add("<tr><td>Program</td><td>" + html(in.programVersion) + "</td></tr>");
  add("<tr><td>As found</td><td>" + html(in.asFoundSource) + "</td></tr>");
  add("<tr><td>As left</td><td>" + html(in.asLeftState) + "</td></tr>");
  add("<tr><td>Const.ini</td><td>" + html(checksumText(in.coefficientsChecksum)) + "</td></tr>");
  if (!in.readRange.empty()) add("<tr><td>Image</td><td>" + html(in.readRange) + "</td></tr>");
  add("</table>");
  add("<p>" + html(summaryOf(r)) + "</p>");
  if (!in.readBackFailures.empty()) {
    add("<h2>Read-back failures</h2>");
    add("<p>The radio holds these values otherwise than they were sent:</p><table>");
    for (const std::string& f : in.readBackFailures) add("<tr><td>" + html(f) + "</td></tr>");
    add("</table>");
  }

  // An empty paragraph before each heading: a printed page keeps no margin after a table.
  const auto heading = [&add](const char* text) { add(std::string("<p>&nbsp;</p><h2>") + text + "</h2>"); };
  heading("Alignment items");
  add("<table><tr><th>Item</th><th>Byte</th><th>As found</th><th>As left</th><th>Change</th></tr>");
  for (const ValueRow& v : r.items) {
    add(changedRow(v.found != v.left) + cell(v.name) + cell(v.where) + cell(std::to_string(v.found), true) +
        cell(std::to_string(v.left), true) + cell(change(v.found, v.left), true) + "</tr>");
  }
  add("</table>");

  heading("TXF compensation table");
  add("<table><tr><th>Border</th><th>Raw count</th><th>REF Initial as found</th><th>as left</th>"
      "<th>REF Slant as found</th><th>as left</th></tr>");
  for (std::size_t i = 0; i < r.txf.size(); ++i) {
    const TxfRow& x = r.txf[i];
    add(changedRow(x.initialFound != x.initialLeft || x.slantFound != x.slantLeft) +
        cell(std::to_string(i), true) + cell(std::to_string(x.border), true) +
        cell(std::to_string(x.initialFound), true) + cell(std::to_string(x.initialLeft), true) +
        cell(std::to_string(x.slantFound), true) + cell(std::to_string(x.slantLeft), true) + "</tr>");
  }
  add("</table>");

  heading("RSSI points");
  add("<table><tr><th>Point</th><th>Byte</th><th>As found</th><th>As left</th><th>Change</th></tr>");
  for (const ValueRow& v : r.rssi) {
    add(changedRow(v.found != v.left) + cell(v.name) + cell(v.where) + cell(std::to_string(v.found), true) +
        cell(std::to_string(v.left), true) + cell(change(v.found, v.left), true) + "</tr>");
  }
  add("</table>");
  add("<p>CAL: " + html(calText(in.calRun)) + "</p>");

  heading("Measurements");
  if (in.measurements.empty()) {
    add("<p>" + html(in.measurementsNote) + "</p>");
  } else {
    add("<table><tr><th>Item</th><th>Quantity</th><th>Limits</th><th>As found</th><th></th><th>As left</th>"
        "<th></th></tr>");
    for (const MeasuredItem& m : in.measurements) {
      add(changedRow(m.asLeftVerdict == "FAIL") + cell(m.item) + cell(m.quantity) + cell(m.limits) +
          cell(m.asFound) + cell(m.asFoundVerdict) + cell(m.asLeft) + cell(m.asLeftVerdict) + "</tr>");
    }
    add("</table>");
  }
  if (!in.instruments.empty()) {
    add("<p>Measured with:</p><table><tr><th>Instrument</th><th>Roles</th><th>Identity (*IDN?)</th>"
        "<th>Calibration due</th></tr>");
    for (const MeasuringInstrument& i : in.instruments) {
      add(changedRow(i.pastDue) + cell(i.name) + cell(i.roles) + cell(i.identity) +
          cell((i.calibrationDue.empty() ? std::string("not entered") : i.calibrationDue) +
               (i.pastDue ? " PAST DUE" : "")) +
          "</tr>");
    }
    add("</table>");
  }

  heading("Monitor readings");
  if (in.monitorLines.empty()) {
    add("<p>" + html(in.monitorNote) + "</p>");
  } else {
    // The lines as the window shows them: their columns need every blank.
    std::string lines;
    for (const std::string& m : in.monitorLines) lines += html(m) + "\n";
    add("<pre>" + lines + "</pre>");
  }

  heading("Channels (as left)");
  if (r.channels.empty()) {
    add("<p>None programmed.</p>");
  } else {
    add("<table><tr><th>CH</th><th>RX MHz</th><th>TX MHz</th><th>Power</th><th>Mode</th></tr>");
    for (const ChannelRow& c : r.channels) {
      add("<tr>" + cell(c.ch) + cell(c.rx, true) + cell(c.tx, true) + cell(c.power) + cell(c.mode) + "</tr>");
    }
    add("</table>");
  }
  add("<p>&nbsp;</p><p>&nbsp;</p><p class=\"sign\">Technician: ______________________ &nbsp; Date: "
      "____________ &nbsp; "
      "Signature: ______________________</p>");
  add("</body></html>");
  return h;
}

}  // namespace tarnset
