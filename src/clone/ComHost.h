#pragma once
// What the clone layer uses of the serial host that owns the port (implemented by the
// serial host frmCom of the link room, and by fakes in tests).
#include <cstdint>

#include "base/Types.h"

namespace tarnset {

class clsCmcDornDrv;

class ComHost {
 public:
  virtual ~ComHost() = default;

  // Opens (true) or closes (false) the port; every open and close resets the driver.
  virtual void setComOpen(bool open) = 0;
  virtual bool comOpen() const = 0;
  // Equals comOpen.
  virtual bool comSendEnable() const = 0;
  // Port number for the next open; values outside 1..10 are ignored.
  virtual void setComPortNum(std::int16_t n) = 0;
  virtual std::int16_t comPortNum() const = 0;
  // Baud rate used at the next open.
  virtual std::int32_t comBaud() const = 0;
  // Closes the port and restores the 9600-baud settings; clears the error flags.
  virtual void Reset() = 0;
  // As Reset, but the next open runs at 38400 baud.
  virtual void HighSpeedBRatioSet() = 0;
  // Size of the output buffer and the bytes waiting in it.
  virtual std::int32_t OutBufferSize() const = 0;
  virtual std::int32_t OutBufferCount() const = 0;
  // Hands bytes to the port for sending; false when the port refused them (nothing of
  // them will reach the line).
  virtual bool Output(const Bytes& data) = 0;
  // The program's frame driver, owned by the serial host.
  virtual clsCmcDornDrv& dornD() = 0;
};

}  // namespace tarnset
