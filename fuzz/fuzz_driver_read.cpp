// Fuzzes the receive side of the frame driver: arbitrary byte blocks fed to read() in
// every work mode and wait state, with poll ticks (and time-outs) in between.
//
// Input layout:
//   byte 0  selector: work mode = b % 6; how the exchange starts = (b / 6) % 3
//           (0: nothing sent, the driver idle; 1: a frame sent as the mode sends it;
//           2: a frame sent with an answer expected whatever the mode); bit 7 set:
//           no EEPROM image attached
//   byte 1  auxiliary: E8 check byte, resends, record size of a clone write, clock start
//   then blocks, each a length byte L followed by its bytes: L < 0x80 gives L % 97 + 1
//   bytes, otherwise (L & 0x7F) * 4 + 1 (blocks longer than a frame's 256-byte limit).
//   Every block is followed by a poll tick of 50 ms; L % 7 == 0 adds 1200 ms first, so
//   answer waits run out and resends happen.
//
// The echo state (1) is passed inside the send and is never seen between calls, so the
// reachable wait states here are 0 and 2; the invariants below check that too.
//
// Input from the radio must never throw, never grow the receive buffer past 256 bytes,
// and leave the driver in a consistent state.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "FuzzTarget.h"
#include "base/TickSource.h"
#include "clone/clsCmcDornDrv.h"
#include "radio/clsCmcEeprom.h"
#include "support/FakeComHost.h"

namespace {

using tarnset::Bytes;
using tarnset::clsCmcDornDrv;

using tarnset::fuzz::violated;

void checkInvariants(const clsCmcDornDrv& drv) {
  if (drv.rxBuf().size() > 256) violated("receive buffer above 256 bytes");
  const std::int16_t state = tarnset::number(drv.waitState());
  if (state != 0 && state != 2 && state != 3)
    violated("wait state other than idle, answer or drain between calls");
  if (drv.Running() != (state != 0)) violated("Running differs from the wait state");
  const std::int16_t e = tarnset::number(drv.nowError());
  if (!(e == 0 || e == 1 || e == 2 || e == 3 || e == 4 || e == 5 || e == 7 || e == 8))
    violated("unknown error code");
  if (e != 0 && drv.Running()) violated("an error left the exchange running");
  if (drv.lastError() == tarnset::CloneError::None && e != 0) violated("nowError set without lastError");
  if (drv.EndAddress() < 16) violated("end address below one record");
  if (drv.lastEeAdr() < -1 || drv.lastEeAdr() > 0xFFFF + 255) violated("last EEPROM address out of range");
  const Bytes& info = drv.ansInfo();
  if (!info.empty() && (info.size() < 59 || info[0] != 0xEF || info[1] != 0xEE || info[2] != 0xE1)) {
    violated("identification answer stored without passing its check");
  }
  if (drv.varLastE8Answer().size() > 256) violated("E8 answer above 256 bytes");
}

}  // namespace

const char* const tarnset::fuzz::kTargetName = "fuzz_driver_read";

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t sel = data[0];
  const std::uint8_t aux = data[1];

  tarnset::ManualTickSource clock(static_cast<std::int32_t>(static_cast<std::uint32_t>(aux) << 24));
  tarnset::test::FakeComHost com(clock);
  clsCmcDornDrv& drv = com.dornD();
  tarnset::clsCmcEeprom eep;
  com.setComOpen(true);
  drv.setMyEep((sel & 0x80) != 0 ? nullptr : &eep);

  const auto mode = static_cast<std::int16_t>((sel & 0x7F) % 6);
  const int how = ((sel & 0x7F) / 6) % 3;
  drv.setWorkMode(static_cast<tarnset::WorkMode>(mode));
  if (how == 2) drv.setWaitAnswer(true);
  if (mode == 3) {
    drv.setSizDataOfPacket(static_cast<std::int16_t>(1 + aux % 32));
    drv.setCloneWriteAdrList("0000-003F,0100-0107,");
    drv.setMyEep(&eep);  // a clone write reads the image it sends
  }
  drv.setRetryCount(static_cast<std::int16_t>(aux % 3));
  const Bytes payload =
      mode == 5 ? Bytes{0xE8, 0x26, 0x51, 0x01, 0x00, aux, 0x30, 0x30} : Bytes{0xE0, 0x26, 0x51, 0x00, 0x00};
  if (how != 0) drv.Send(payload);
  checkInvariants(drv);

  std::size_t pos = 2;
  while (pos < size) {
    const std::uint8_t l = data[pos++];
    std::size_t len = (l < 0x80) ? (l % 97u) + 1u : (l & 0x7Fu) * 4u + 1u;
    if (len > size - pos) len = size - pos;
    const Bytes block(data + pos, data + pos + len);
    pos += len;

    drv.read(block);
    checkInvariants(drv);
    if (l % 7 == 0) clock.advance(1200);
    clock.advance(50);
    drv.task();
    checkInvariants(drv);
  }
  return 0;
}
