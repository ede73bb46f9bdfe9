#pragma once
// A recording serial host for tests of the cloning link: it owns a real frame driver,
// keeps the port state in memory, and logs every open, close, reset and Output so that
// tests can assert on the frames on the wire (as upper-case hex).
#include <cstdint>
#include <string>
#include <vector>

#include "base/TickSource.h"
#include "base/Types.h"
#include "clone/ComHost.h"
#include "clone/clsCmcDornDrv.h"

namespace tarnset::test {

class FakeComHost final : public ComHost {
 public:
  explicit FakeComHost(const TickSource& clock);

  // ComHost
  void setComOpen(bool open) override;
  bool comOpen() const override { return open_; }
  bool comSendEnable() const override { return open_; }
  void setComPortNum(std::int16_t n) override;
  std::int16_t comPortNum() const override { return portNum_; }
  std::int32_t comBaud() const override { return baud_; }
  void Reset() override;
  void HighSpeedBRatioSet() override;
  std::int32_t OutBufferSize() const override { return 1024; }
  std::int32_t OutBufferCount() const override { return outBufferCount_; }
  bool Output(const Bytes& data) override;
  clsCmcDornDrv& dornD() override { return driver_; }

  // Every Output while the port was open, as upper-case hex without blanks.
  std::vector<std::string> sent;
  // Everything that happened to the port, in order: "open 9600", "close", "reset",
  // "highspeed", "tx <hex>", "tx-closed <hex>" (an Output while the port was closed).
  std::vector<std::string> log;

  // The next opens fail (the port stays closed and errCannotOpen is set).
  void setOpenFails(bool fails) { openFails_ = fails; }
  // Bytes waiting in the output buffer; with setGrowOutBuffer(true) every Output adds
  // its size, as a port that does not drain does. Every open or close empties it.
  void setOutBufferCount(std::int32_t n) { outBufferCount_ = n; }
  void setGrowOutBuffer(bool grow) { growOutBuffer_ = grow; }
  // The port refuses the next writes (as a failing device does); logged as "tx-refused".
  void setWriteRefused(bool refused) { writeRefused_ = refused; }
  // The port disappears under the program: it is closed as the host closes a port whose
  // device went away (which resets the driver), and the line-error flag is raised.
  void vanish();

  // Flags of a serial host, for error-message composition in tests.
  bool errCannotOpen = false;
  bool errOverflow = false;
  bool lineLost = false;

  // Removes and returns what was logged / sent so far.
  std::vector<std::string> takeSent();
  std::vector<std::string> takeLog();

 private:
  bool open_ = false;
  bool openFails_ = false;
  std::int16_t portNum_ = 1;
  std::int32_t baud_ = 9600;
  std::int32_t outBufferCount_ = 0;
  bool growOutBuffer_ = false;
  bool writeRefused_ = false;
  clsCmcDornDrv driver_;
};

}  // namespace tarnset::test
