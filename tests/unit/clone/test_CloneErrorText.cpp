// Clone error message: every row of the message table and the precedence of the inputs.
// The expected texts are written out line by line from the program's message table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clone/CloneErrorText.h"

namespace tarnset {
namespace {

const std::string kCheck = "Check the following:";
const std::string kPort = "- The COM port settings.";
const std::string kCable = "- Cloning cable connections.";
const std::string kPower = "- Transceiver power is ON.";
const std::string kSoftware = "- Appropriate cloning software for the transceiver is being used.";
const std::string kRevision = "- The revision number of the transceiver.";

std::string lines(const std::vector<std::string>& v) {
  std::string out;
  for (std::size_t i = 0; i < v.size(); ++i) out += (i ? "\r\n" : "") + v[i];
  return out;
}

CloneErrorInputs inputs(bool cannotOpen, bool overflow, std::int16_t last, std::int16_t seq,
                        std::string port = " 1") {
  CloneErrorInputs in;
  in.errCannotOpen = cannotOpen;
  in.errOverflow = overflow;
  in.lastError = static_cast<CloneError>(last);
  in.seqError = static_cast<SeqError>(seq);
  in.portText = std::move(port);
  return in;
}

TEST(CloneErrorText, EveryRowOfTheMessageTable) {
  struct Row {
    const char* what;
    CloneErrorInputs in;
    std::vector<std::string> expected;
  };
  const std::vector<Row> rows = {
      {"open failure",
       inputs(true, false, 0, 0, " 3"),
       {"Cannot access COM 3.", "", kCheck, kPort, kCable, kPower}},
      {"overflow", inputs(false, true, 0, 0), {"COM buffer overflow.", "", kCheck, kPort, kCable, kPower}},
      {"driver 1", inputs(false, false, 1, 0), {"Cannot access COM port", "", kCheck, kPort, kCable, kPower}},
      {"driver 2",
       inputs(false, false, 2, 0),
       {"No answer from transceiver.", "", kCheck, kPort, kCable, kPower}},
      {"driver 3", inputs(false, false, 3, 0), {"Illegal data.", "", kCheck, kPort, kCable, kPower}},
      {"driver 4", inputs(false, false, 4, 0), {"Data counter error.", "", kCheck, kPort, kCable, kPower}},
      {"driver 5", inputs(false, false, 5, 0), {"Data overflow.", "", kCheck, kPort, kCable, kPower}},
      {"driver 7", inputs(false, false, 7, 0), {"Cannot write cloning data.", "", kCheck, kCable, kPower}},
      {"driver 8", inputs(false, false, 8, 0), {"Cannot Clone.", "", kCheck, "", kPort, kCable, kPower}},
      {"driver 6", inputs(false, false, 6, 0), {"Cannot Clone.", "", kCheck, "", kPort, kCable, kPower}},
      {"driver -1", inputs(false, false, -1, 0), {"Cannot Clone.", "", kCheck, "", kPort, kCable, kPower}},
      {"nothing set", inputs(false, false, 0, 0), {"Communication failed.", "", kCheck, kCable, kPower}},
      {"sequencer 2", inputs(false, false, 0, 2), {"Version number does not match", "for this transceiver."}},
      {"sequencer 3",
       inputs(false, false, 0, 3),
       {"Connected transceiver is not compatible model.", "", kCheck, kSoftware, kRevision}},
      {"sequencer 1", inputs(false, false, 0, 1), {"Cannot Clone.", "", kCheck, kPort, kCable, kPower}},
      {"sequencer 4", inputs(false, false, 0, 4), {"Cannot Clone.", "", kCheck, kPort, kCable, kPower}},
      {"sequencer 5", inputs(false, false, 0, 5), {"Cannot Clone.", "", kCheck, kPort, kCable, kPower}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(composeCloneError(r.in), lines(r.expected));
  }
}

TEST(CloneErrorText, PrecedenceOfTheInputs) {
  // The open failure wins over everything, the overflow over the codes, the driver's
  // code over the sequencer's.
  EXPECT_EQ(composeCloneError(inputs(true, true, 2, 3, " 2")),
            composeCloneError(inputs(true, false, 0, 0, " 2")));
  EXPECT_EQ(composeCloneError(inputs(false, true, 2, 3)), composeCloneError(inputs(false, true, 0, 0)));
  EXPECT_EQ(composeCloneError(inputs(false, false, 2, 3)), composeCloneError(inputs(false, false, 2, 0)));
  EXPECT_EQ(composeCloneError(inputs(false, false, 7, 2)), composeCloneError(inputs(false, false, 7, 0)));
}

TEST(CloneErrorText, PortTextIsInsertedAsGiven) {
  const std::string m = composeCloneError(inputs(true, false, 0, 0, " /dev/ttyUSB0"));
  EXPECT_EQ(m.substr(0, m.find("\r\n")), "Cannot access COM /dev/ttyUSB0.");
  EXPECT_EQ(composeCloneError(inputs(true, false, 0, 0, "-2")).substr(0, 20), "Cannot access COM-2.");
}

}  // namespace
}  // namespace tarnset
