#include <gtest/gtest.h>

#include <stdexcept>

#include "console/clsConsole.h"
#include "radio/clsCmcEeprom.h"
#include "unit/console/ConsoleFakes.h"

namespace tarnset {
namespace {

using test::EventCall;
using Calls = std::vector<EventCall>;

class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest() {
    con.setMyListBox(&list);
    con.setMyEventClass(&events);
    con.setMyDornSeq(&sender);
    con.setMyEeprom(&eeprom);
    con.Clear();
  }

  // Appends a titled item with the given limits and returns its index.
  std::int16_t add(const std::string& title, std::int16_t min = 0, std::int16_t max = 255) {
    con.AddItem();
    const auto i = static_cast<std::int16_t>(con.ListCount() - 1);
    con.setTitle(i, title);
    con.setMin(i, min);
    con.setMax(i, max);
    return i;
  }

  static std::string bar(int filled) {
    return " [" + std::string(filled, '#') + std::string(20 - filled, '-') + "]";
  }

  test::FakeListBox list;
  test::RecordingEvents events;
  test::RecordingSender sender;
  clsCmcEeprom eeprom;
  clsConsole con;
};

// ---- formatting and bars ----

TEST_F(ConsoleTest, TitleRedrawsTheLastLineOnly) {
  con.AddItem();
  EXPECT_EQ(list.lines, std::vector<std::string>{":   0"});
  con.setTitle(0, " Power(Hi)");
  EXPECT_EQ(list.lines[0], " Power(Hi):   0");
  con.AddItem();
  con.setTitle(0, "Renamed");  // redraws line 1, not line 0
  EXPECT_EQ(list.lines, (std::vector<std::string>{" Power(Hi):   0", ":   0"}));
  con.Disp(0);
  EXPECT_EQ(list.lines[0], "Renamed:   0");
  EXPECT_FALSE(con.flgChanged(0));
}

TEST_F(ConsoleTest, ValueIsRightAlignedInFourCharactersKeepingTheLast) {
  const auto i = add("X", -32768, 32767);
  const std::pair<std::int16_t, std::string> cases[] = {
      {5, "X:   5"}, {-5, "X:  -5"}, {1234, "X:1234"}, {-1000, "X:1000"}, {12345, "X:2345"}};
  for (const auto& [v, text] : cases) {
    con.setValue(i, v);
    EXPECT_EQ(list.lines[i], text) << v;
  }
}

TEST_F(ConsoleTest, BarRoundsHalvesToEven) {
  const auto i = add("B");
  con.setBarExist(i, true);
  con.setValue(i, 128);  // 10.04 cells over 0..255
  EXPECT_EQ(list.lines[i], "B: 128" + bar(10));
  con.setMax(i, 40);
  for (const auto& [v, filled] : {std::pair{1, 0}, {3, 2}, {5, 2}, {7, 4}, {39, 20}, {40, 20}}) {
    con.setValue(i, static_cast<std::int16_t>(v));
    EXPECT_EQ(con.BarString(i), bar(filled)) << v;
  }
  const auto s = add("S", -128, 127);
  con.setBarExist(s, true);
  con.setValue(s, 0);  // 128 * 20 / 255
  EXPECT_EQ(con.BarString(s), bar(10));
  con.setValue(s, -128);
  EXPECT_EQ(con.BarString(s), bar(0));
}

TEST_F(ConsoleTest, BarWithoutRangeIsEmptyAndBarOverflowThrows) {
  const auto i = add("B", 7, 7);
  con.setBarExist(i, true);
  EXPECT_EQ(con.DefaultString(i), "B:   7" + bar(0));
  con.setMin(i, 0);
  con.setMax(i, 2000);
  con.setValue(i, 1638);  // 32760 still fits 16 bits
  EXPECT_EQ(con.BarString(i), bar(16));
  EXPECT_THROW(con.setValue(i, 1639), std::overflow_error);
}

TEST_F(ConsoleTest, EventDispAsksTheOwnerForTheLine) {
  const auto i = add("CH", 0, 9);
  con.setEvent_Disp(i, 3);
  EXPECT_EQ(events.calls, (Calls{{"Disp", i, 3, 0}}));
  con.setValue(i, 4);
  EXPECT_EQ(list.lines[i], "ev3=4");
  EXPECT_EQ(con.DefaultString(i), "CH:   4");
}

// ---- limits and stepping ----

TEST_F(ConsoleTest, AssignmentIsLimitedAndAlwaysFlagsTheItem) {
  const auto i = add("P");
  con.setValue(i, 300);
  EXPECT_EQ(con.Value(i), 255);
  con.setFlgChanged(i, false);
  const int redraws = list.redraws[i];
  con.UpDown(i, 1);  // at the limit: same value, no redraw, sent again
  EXPECT_EQ(con.Value(i), 255);
  EXPECT_EQ(list.redraws[i], redraws);
  EXPECT_TRUE(con.flgChanged(i));
  con.UpDown(i, -5);
  EXPECT_EQ(list.lines[i], "P: 250");
  con.setValue(i, -3);
  EXPECT_EQ(con.Value(i), 0);
}

TEST_F(ConsoleTest, LoopValWrapsOnlyFromTheLimits) {
  const auto i = add("L", 0, 7);
  con.setLoopVal(i, true);
  const struct {
    std::int16_t from, step, to;
  } cases[] = {{7, 1, 0}, {0, -1, 7}, {6, 5, 7}, {7, 5, 0}, {2, -5, 0}, {3, 1, 4}};
  for (const auto& c : cases) {
    con.setValue(i, c.from);
    con.UpDown(i, c.step);
    EXPECT_EQ(con.Value(i), c.to) << c.from << " " << c.step;
  }
}

TEST_F(ConsoleTest, CrossingLimitsMovesTheOtherLimitAndTheValue) {
  const auto i = add("M");
  con.setValue(i, 100);
  con.setMin(i, 300);
  EXPECT_EQ(con.Max(i), 300);
  EXPECT_EQ(con.Value(i), 300);
  EXPECT_EQ(list.lines[i], "M: 300");
  con.setMax(i, 10);
  EXPECT_EQ(con.Min(i), 10);
  EXPECT_EQ(con.Value(i), 10);
}

TEST_F(ConsoleTest, FlgChangedTrueRedrawsFalseDoesNot) {
  const auto i = add("F");
  con.setEvent_Disp(i, 1);
  events.calls.clear();
  con.setFlgChanged(i, false);
  EXPECT_TRUE(events.calls.empty());
  con.setFlgChanged(i, true);
  EXPECT_EQ(events.calls.size(), 1u);
}

TEST_F(ConsoleTest, SixteenBitLimitsAreProgrammingErrors) {
  const auto i = add("W", 0, 32767);
  con.setValue(i, 32767);
  EXPECT_THROW(con.UpDown(i, 1), std::overflow_error);

  con.setMyListBox(nullptr);  // quicker; a console without list box draws nothing
  while (con.ListCount() < 32767) con.AddItem();
  EXPECT_THROW(con.AddItem(), std::overflow_error);
  EXPECT_EQ(con.ListCount(), 32767);
}

TEST_F(ConsoleTest, ClearEmptiesItemsAndListButKeepsReferences) {
  add("A");
  con.Clear();
  EXPECT_EQ(con.ListCount(), 0);
  EXPECT_TRUE(list.lines.empty());
  add("C");
  EXPECT_EQ(list.lines, std::vector<std::string>{"C:   0"});
  EXPECT_EQ(con.myEventClass(), &events);
}

TEST_F(ConsoleTest, IndexOutsideTheStoreIsRefusedWithoutSideEffects) {
  const auto i = add("A");
  con.setEeAdr(i, 10);
  con.setE8Command(i, 5);
  con.EnterPushed(i);
  const auto lines = list.lines;
  for (const std::int16_t bad : {std::int16_t{-1}, std::int16_t{1}}) {
    con.setValue(bad, 9);
    con.setTitle(bad, "X");
    con.setEvent_Disp(bad, 1);
    con.setFlgEnterOn(bad, true);
    con.UpDown(bad, 1);
    con.SendE8(bad);
    con.EnterExec(bad);
    EXPECT_EQ(con.Value(bad), 0);
    EXPECT_EQ(con.EeAdr(bad), -1);
    EXPECT_EQ(con.DefaultString(bad), "");
  }
  EXPECT_EQ(list.lines, lines);
  EXPECT_TRUE(con.flgEnterOn(i));
  EXPECT_TRUE(events.calls.empty());
  EXPECT_TRUE(sender.noAnswer.empty());
}

// ---- EEPROM binding ----

TEST_F(ConsoleTest, ReadFromEeHonoursSignednessAndLimits) {
  eeprom.WriteByte(68, 255);
  eeprom.WriteByte(69, 128);
  const auto u = add("U");
  const auto s = add("S", -128, 127);
  const auto lim = add("L", 0, 100);
  const auto s2 = add("T", -128, 127);
  for (auto n : {u, s, lim}) con.setEeAdr(n, 68);
  con.setEeAdr(s2, 69);
  con.setEeDataSigned(s, true);
  con.setEeDataSigned(s2, true);
  for (auto n : {u, s, lim, s2}) con.ReadFromEe(n);
  EXPECT_EQ(con.Value(u), 255);
  EXPECT_EQ(con.Value(s), -1);
  EXPECT_EQ(con.Value(lim), 100);
  EXPECT_EQ(con.Value(s2), -128);
  EXPECT_TRUE(con.flgChanged(s));
  EXPECT_EQ(list.lines[s], "S:  -1");
}

TEST_F(ConsoleTest, WriteToEeStoresTheLowByteOrNothing) {
  const auto i = add("S", -128, 127);
  con.setValue(i, -1);
  con.setEeAdr(i, 69);
  con.WriteToEe(i);
  EXPECT_EQ(eeprom.ReadByte(69), 255);

  eeprom.WriteByte(0, 77);
  const auto none = add("N");
  con.setValue(none, 12);
  con.ReadFromEe(none);
  con.WriteToEe(none);
  EXPECT_EQ(con.Value(none), 12);
  EXPECT_EQ(eeprom.ReadByte(0), 77);

  con.setEeAdr(none, 15968);  // outside the image: the write is refused silently
  con.WriteToEe(none);
  con.ReadFromEe(none);
  EXPECT_EQ(con.Value(none), 0);
}

// ---- sending ----

TEST_F(ConsoleTest, StandardSendBuildsTheE8DataString) {
  const auto i = add(" Power(Hi)");
  con.setEeAdr(i, 79);
  con.setE8Command(i, 5);
  con.setValue(i, 200);
  con.SendE8(i);
  EXPECT_EQ(sender.noAnswer, std::vector<std::string>{"054338"});
  EXPECT_EQ(events.waits, std::vector<std::int32_t>{200});
  EXPECT_EQ(eeprom.ReadByte(79), 200);

  const auto s = add("    BPF T1", -128, 127);  // no EEPROM byte: still sent
  con.setE8Command(s, 0x0C);
  con.setWaitAfterE8(s, 0);
  for (const auto& [v, text] : {std::pair{-56, "0C4338"}, {90, "0C3541"}, {0, "0C3030"}}) {
    con.setValue(s, static_cast<std::int16_t>(v));
    con.SendE8(s);
    EXPECT_EQ(sender.noAnswer.back(), text);
    EXPECT_EQ(events.waits.back(), 0);
  }
  EXPECT_TRUE(sender.reqAnswer.empty());
}

TEST_F(ConsoleTest, OwnSendEventOrNoCommandStillStoresTheValue) {
  const auto ch = add("    CH No.", 0, 20);
  con.setE8Command(ch, 0);
  con.setEvent_SendE8(ch, 0);
  con.setEeAdr(ch, 300);
  con.setValue(ch, 7);
  con.SendE8(ch);
  EXPECT_EQ(events.calls, (Calls{{"SendE8", ch, 0, 7}}));

  const auto x = add("X");
  con.setEeAdr(x, 5);
  con.setValue(x, 99);
  con.SendE8(x);
  EXPECT_EQ(events.calls.size(), 1u);
  EXPECT_TRUE(sender.noAnswer.empty());
  EXPECT_TRUE(events.waits.empty());
  EXPECT_EQ(eeprom.ReadByte(300), 7);
  EXPECT_EQ(eeprom.ReadByte(5), 99);

  con.setE8Command(x, 5);  // a standard send needs the sequencer
  con.setMyDornSeq(nullptr);
  EXPECT_THROW(con.SendE8(x), std::logic_error);
}

TEST_F(ConsoleTest, AValueThePortRefusedIsNotStoredAndAsksNoPause) {
  const auto i = add(" Power(Hi)");
  con.setEeAdr(i, 79);
  con.setE8Command(i, 5);
  eeprom.WriteByte(79, 120);
  sender.refuse = true;
  con.setValue(i, 121);
  con.SendE8(i);
  EXPECT_EQ(sender.noAnswer, std::vector<std::string>{"053739"}) << "the send was tried";
  EXPECT_EQ(eeprom.ReadByte(79), 120) << "the image keeps what the radio holds";
  EXPECT_TRUE(events.waits.empty());
}

// ---- Enter ----

TEST_F(ConsoleTest, OnlyTheLastEnterStaysPending) {
  for (int n = 0; n < 6; ++n) con.AddItem();
  con.EnterPushed(3);
  con.EnterPushed(5);
  for (std::int16_t n = 0; n < 6; ++n) EXPECT_EQ(con.flgEnterOn(n), n == 5) << n;
  con.setFlgEnterOn(4, false);
  EXPECT_TRUE(con.flgEnterOn(5));
  con.setFlgEnterOn(5, false);
  EXPECT_FALSE(con.flgEnterOn(5));
}

TEST_F(ConsoleTest, EnterExecRunsTheOwnersActionAndRedraws) {
  const auto plain = add("P");
  const auto txf = add("       TXF");
  con.setEvent_Disp(txf, 1);
  con.setEvent_Enter(txf, 0);
  con.setValue(txf, 33);
  events.calls.clear();
  con.EnterExec(plain);
  EXPECT_TRUE(events.calls.empty());
  con.EnterExec(txf);
  EXPECT_EQ(events.calls, (Calls{{"Enter", txf, 0, 33}, {"Disp", txf, 1, 33}}));
  EXPECT_EQ(list.lines[txf], "ev1=33 entered");
}

}  // namespace
}  // namespace tarnset
