#pragma once
// The service record of one alignment: what the radio held when it came in (as-found),
// what it holds when it leaves (as-left), the values a restore would send back, and the
// sheet a shop signs for its customer, as plain text and as HTML. Built from images and
// texts only: no window, no link.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "base/Types.h"

namespace tarnset {

// The image bytes this program writes into a radio: the alignment items' bytes, the
// TXF compensation table and the two RSSI points.
const std::vector<std::int32_t>& programWrittenAddresses();

// True when two images of 15968 bytes agree everywhere but in the bytes this program
// writes: the same radio, before and after an alignment. (Radios cloned from one memory
// image look alike too; the technician says "New Radio" for those.)
bool sameRadio(const Bytes& a, const Bytes& b);

// One value a restore sends back: an item through its console row, a TXF entry or an
// RSSI point through its E8 code.
struct RestoreValue {
  enum class Kind { Item, TxfEntry, RssiPoint };
  Kind kind = Kind::Item;
  std::string what;          // "Power(Hi)", "TXF entry 7 (REF Initial 3)", "RSSI L0 Level"
  std::int32_t address = 0;  // its byte of the image
  std::int16_t e8Code = 0;   // the E8 code that sets it
  std::int16_t row = -1;     // Item: the console row
  std::int16_t now = 0;      // the value the radio holds now (signed where the byte is)
  std::int16_t asFound = 0;  // the value to send back
  std::uint8_t byte = 0;     // asFound as the image byte
};

// The values that differ between the as-found image and the present one, items first,
// then the TXF entries in order, then the RSSI points.
std::vector<RestoreValue> restoreList(const Bytes& asFound, const Bytes& now);

// One line per value, "Power(Hi): 137 -> 130", for the confirmation box.
std::string describeRestore(const std::vector<RestoreValue>& values);

// One measured item of the certificate: what it measured as found and as left, against
// its limits.
struct MeasuredItem {
  std::string item;            // "Power(Hi)"
  std::string quantity;        // "Power"
  std::string limits;          // "24 .. 26 W"
  std::string asFound;         // the measurement as read ("24.8 W"), or why it is missing
  std::string asFoundVerdict;  // "PASS", "FAIL", or empty when not measured
  std::string asLeft;
  std::string asLeftVerdict;
};

// An instrument the measurements were taken with.
struct MeasuringInstrument {
  std::string name;            // its section in Instruments.ini
  std::string roles;           // "power meter, deviation meter"
  std::string identity;        // maker, model, serial number, firmware as it answered *IDN?
  std::string calibrationDue;  // as the shop entered it, empty when not
  bool pastDue = false;        // the due date has passed
};

struct ServiceReportInput {
  std::string model;           // model code of the radio, "2651"
  std::string subModel;        // sub-model code, "0100"
  std::string dateTime;        // when the report was made, "2026-12-07 14:32"
  std::string programVersion;  // "tarnset-adj 1.2.0 (Tarnset ADJ Rev.1.2)"
  Bytes asFound;               // the whole image as found
  Bytes asLeft;                // the whole image as left
  std::string asFoundSource;   // where the as-found image is kept (its backup file, or the file given)
  std::string
      asLeftState;  // "verified by a read at 14:32", "as sent, not read back ...", "from the file ..."
  std::optional<bool> calRun;             // CAL points taken this session; nullopt: not known
  std::vector<std::string> monitorLines;  // the last monitor readings; none: monitorNote says why
  std::string monitorNote;
  std::string coefficientsChecksum;           // of the Const.ini coefficients; empty: not known
  std::string readRange;                      // which addresses came from the radio; empty: the whole image
  std::vector<std::string> readBackFailures;  // values read back otherwise than sent, one line each
  std::vector<MeasuredItem> measurements;     // none: measurementsNote says why
  std::vector<MeasuringInstrument> instruments;
  std::string measurementsNote;
};

// A report's input with what every front end fills the same way: the radio's codes, the
// local time it is made at ("2026-12-07 14:32"), the program, and the two images. The
// caller adds where the images come from, the as-left state, and the readings it has.
ServiceReportInput reportInput(const std::string& model, const std::string& subModel, std::time_t madeAt,
                               const std::string& programVersion, const Bytes& asFound, const Bytes& asLeft);

// The local time as a report writes it ("2026-12-07 14:32"); pattern as strftime's.
std::string reportTime(std::time_t t, const char* pattern = "%Y-%m-%d %H:%M");

// The report as text (for a terminal or a file) and as an HTML document (for printing
// and for PDF). Both carry the same rows.
std::string serviceReportText(const ServiceReportInput& in);
std::string serviceReportHtml(const ServiceReportInput& in);

}  // namespace tarnset
