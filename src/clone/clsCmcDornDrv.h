#pragma once
// The frame driver of the cloning link: frames out (FE FE EE EF payload FD), frames in
// (cut from the received bytes, EF EE ... accepted, echoes EE EF ignored), the echo and
// answer waits with their time-outs and resends, the answer checks, the clone data
// records and the error codes nowError / lastError.
//
// Every answer belongs to its request. An E8 answer carries the command byte but not
// the monitor channel, so a request that went out more than once (a resend after the
// answer wait) may draw an answer per transmission: the first one answers it, and the
// others are owed. Until they have come, or can no longer come (the longest the radio
// took for this request, a quarter more and 100 ms, after the last transmission), the
// next request that asks for an answer is held back, and each owed answer that arrives
// is dropped and traced, never taken for another request's.
// The error codes are CloneError (clone/CloneCodes.h).
#include <cstdint>
#include <string>
#include <vector>

#include "base/TraceSink.h"
#include "base/Types.h"
#include "base/clsCmcTick.h"
#include "clone/CloneCodes.h"

namespace tarnset {

class ComHost;
class clsCmcEeprom;

class clsCmcDornDrv {
 public:
  clsCmcDornDrv(ComHost& com, const TickSource& clock);

  // The serial host; all port access goes through it.
  ComHost* myObjCom;
  // The support trace of time-outs, resends and failures; nullptr: none.
  void setTrace(TraceSink* trace) { trace_ = trace; }

  // Operation of the current frame. Setting it clears varLastE8Answer and lastEeAdr and
  // expects an answer for identification, clone read and clone write end.
  void setWorkMode(WorkMode mode);
  WorkMode workMode() const { return workMode_; }
  // Overrides the answer expectation (set after workMode for E8 commands).
  void setWaitAnswer(bool on) { waitAnswer_ = on; }
  bool waitAnswer() const { return waitAnswer_; }
  // Resends allowed for the next Send.
  void setRetryCount(std::int16_t n) { retryCount_ = n; }
  // Image that clone data goes to and comes from.
  void setMyEep(clsCmcEeprom* eep) { myEep_ = eep; }
  // Data bytes per clone-write record.
  void setSizDataOfPacket(std::int16_t n) { sizDataOfPacket_ = n; }
  // Address ranges still to be written ("AAAA-BBBB," entries); sets writeAdr to the first.
  void setCloneWriteAdrList(const std::string& list);

  bool Running() const { return running_; }
  CloneError lastError() const { return lastError_; }
  void setLastError(CloneError code) { lastError_ = code; }
  CloneError nowError() const { return nowError_; }
  // Stores the code (an error also in lastError) and ends the exchange.
  void setNowError(CloneError code);
  // The last identification answer (whole frame without preamble and end byte).
  const Bytes& ansInfo() const { return ansInfo_; }
  // Last EEPROM address handled by the clone transfer.
  std::int32_t lastEeAdr() const { return lastEeAdr_; }
  // The last E8 answer from its model code on.
  const Bytes& varLastE8Answer() const { return varLastE8Answer_; }
  // End of the EEPROM area of a clone read, from the identification answer.
  std::int16_t EndAddress() const { return endAddress_; }

  // Ready, port open, and more than 256 bytes free in the output buffer.
  bool SendEnable() const;
  // True in every work mode but None.
  bool waitEcho() const { return workMode_ != WorkMode::None; }

  // Sends a payload as a frame; 0 = sent. Arms the resends of retryCount.
  std::int16_t Send(const Bytes& payload);
  // Sends the last payload again while resends are left; 0 = sent, 1 = none left.
  std::int16_t RetrySend();
  // Appends Wt bytes FE to the send buffer and hands the whole buffer to the port.
  void SendFE(std::int16_t Wt);
  // Builds the frame and hands it to the port; 0 = sent, 1 = not sent (not ready, the
  // port closed or nearly full, or the port refused the bytes).
  std::int16_t RealSend(const Bytes& payload);
  // Bytes of one port read.
  void read(const Bytes& bytes);
  // Time-outs and resends; called every poll tick.
  void task();
  // Ends any exchange (a held request is abandoned) and empties the receive buffer;
  // answers owed by the last request stay owed: the port may still deliver them.
  void Reset();
  void ClearRxBuffer();
  // The port was closed or opened anew: whatever was on its way is gone, and no answer
  // is owed any longer (the serial host calls this, beside Reset).
  void ForgetOwedAnswers();

  // Bytes of the frame being received (for tests and diagnostics).
  const Bytes& rxBuf() const { return rxBuf_; }
  WaitState waitState() const { return waitState_; }
  // True when the exchange of the last frame sent was cut off by Reset (an open or close
  // of the port) before it ended; the next frame sent clears it. The sequencer uses it
  // so that an exchange lost to a vanished port is never taken for an answered one.
  bool Abandoned() const { return abandoned_; }
  // Answers owed by the last request (see above) that have not come yet.
  std::int16_t owedAnswers() const { return owedAnswers_; }

 private:
  void setWait(WaitState state);
  void advance(std::int16_t reason);
  std::int16_t handleAnswer(const Bytes& frame);
  Bytes makeWritePacket();
  bool checkAnswer(const Bytes& frame);
  std::int16_t storeRecord(const Bytes& frame);
  void endWait();
  void continueCloneWrite();
  bool checkIdentification(const Bytes& frame);
  bool checkRecord(const Bytes& frame);
  bool checkEnd(const Bytes& frame);
  bool checkE8(const Bytes& frame) const;
  // Every address from 0 to EndAddress - 1 was written by a record of this clone read.
  bool readIsWhole() const;
  // Builds the frame of a payload and hands it to the port (RealSend once nothing holds
  // it back).
  std::int16_t transmit(const Bytes& payload);
  // A frame received while answers are owed: an E8 answer pays one of them (dropped).
  void takeOwedAnswer(const Bytes& frame);
  // The owed answers have come or can no longer come: a held request goes out.
  void endDrain();
  // Milliseconds since a tick count (32-bit, with wrap).
  std::int32_t elapsedSince(std::int32_t atMs) const;

  WorkMode workMode_ = WorkMode::None;
  bool waitAnswer_ = false;
  std::int16_t retryCount_ = 0;
  std::int16_t retriesLeft_ = 0;
  clsCmcEeprom* myEep_ = nullptr;
  std::int16_t sizDataOfPacket_ = 16;
  std::string cloneWriteAdrList_;
  static constexpr std::int32_t kEchoTime = 1000;
  static constexpr std::int32_t kAnswerTime = 1200;
  WaitState waitState_ = WaitState::Idle;
  clsCmcTick waitTimer_;
  bool readyToSend_ = true;
  Bytes lastSentData_;
  Bytes sendBuf_;
  Bytes rxBuf_;
  bool hunting_ = true;
  bool running_ = false;
  CloneError nowError_ = CloneError::None;
  CloneError lastError_ = CloneError::None;
  Bytes ansInfo_;
  Bytes varLastE8Answer_;
  std::uint8_t e8CheckByte_ = 0;
  std::int32_t lastEeAdr_ = 0;
  std::int16_t endAddress_ = 15968;
  std::int32_t writeAdr_ = 0;
  bool countMismatch_ = false;
  std::int16_t recordCount_ = 0;
  // The addresses 0 .. EndAddress - 1 that records of the running clone read have
  // written; a read that leaves one unwritten is not whole, whatever its record count.
  std::vector<bool> written_;
  // The clone-write chain runs as a loop: while it runs, a frame handed to the port
  // only asks the loop for the next one instead of sending it from inside the send.
  bool chainActive_ = false;
  bool chainPending_ = false;
  bool abandoned_ = false;
  // The port refused the last frame handed to it.
  bool outputRefused_ = false;
  TraceSink* trace_ = nullptr;
  const TickSource* clock_;
  // The E8 exchange under way: how often its request went out, and when first and last.
  std::int16_t transmissions_ = 0;
  std::int32_t firstTxAt_ = 0;
  std::int32_t lastTxAt_ = 0;
  // Answers owed by the last request, and how long they are waited for.
  std::int16_t owedAnswers_ = 0;
  clsCmcTick owedTimer_;
  // A request held back until the owed answers have come (its payload is lastSentData_).
  bool heldSend_ = false;
};

}  // namespace tarnset
