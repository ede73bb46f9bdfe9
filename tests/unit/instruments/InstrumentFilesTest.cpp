// Instruments.ini, its profiles and Limits.ini: what is read, what is refused, what is written.
#include <gtest/gtest.h>

#include <filesystem>

#include "instruments/InstrumentsFile.h"
#include "instruments/LimitsFile.h"
#include "support/TempDir.h"

namespace tarnset {
namespace {

using testing::readAll;
using testing::TempDir;

bool mentions(const std::vector<std::string>& problems, const std::string& what) {
  for (const std::string& p : problems) {
    if (p.find(what) != std::string::npos) return true;
  }
  return false;
}

TEST(InstrumentProfile, TemplatesAreFilledWithoutTheLocale) {
  const InstrumentProfile& generic = *builtInProfile("GENERIC");
  EXPECT_EQ(expandTemplate(generic.generatorFrequency, 450012500.5, 0, true), "FREQ 450012500.5");
  EXPECT_EQ(expandTemplate(generic.generatorLevel, 0, -47.25, true), "POW -47.25");
  EXPECT_EQ(expandTemplate(generic.generatorOutput, 0, 0, false), "OUTP OFF");
  EXPECT_EQ(expandTemplate("A {hz} B {hz} {on}", 1e6, 0, true), "A 1000000 B 1000000 ON");
  EXPECT_EQ(generic.query(Role::PowerMeter), "MEAS:POW?");
  EXPECT_EQ(generic.defaultUnit(Role::PowerMeter), "DBM");
  EXPECT_TRUE(generic.query(Role::Generator).empty());
  for (const InstrumentProfile& p : builtInProfiles()) EXPECT_TRUE(profileProblems(p).empty()) << p.name;
  EXPECT_EQ(builtInProfile("nope"), nullptr);
}

TEST(InstrumentProfile, ProblemsOfAShopProfileAreSaid) {
  InstrumentProfile p;
  p.generatorFrequency = "FREQ";
  p.generatorLevel = "POW? {dbm}";
  p.counterQuery = "MEAS:FREQ";
  p.powerUnit = "V";
  p.deviationQuery = "MEAS:FM:DEV? {khz}";
  const std::vector<std::string> problems = profileProblems(p);
  EXPECT_TRUE(mentions(problems, "lacks {hz}"));
  EXPECT_TRUE(mentions(problems, "is a query"));
  EXPECT_TRUE(mentions(problems, "has no '?'"));
  EXPECT_TRUE(mentions(problems, "'V' is none of DBM, W, MW"));
  EXPECT_TRUE(mentions(problems, "{khz}"));
  EXPECT_EQ(problems.size(), 5u);
}

TEST(InstrumentsFile, ASetupIsWrittenAndReadBackWithTheShopsComments) {
  TempDir t;
  const std::string file =
      t.write("Instruments.ini", "; the bench of room 2\n[Old meter]\nAddress=ASRL1::INSTR\n");
  InstrumentsSetup s;
  InstrumentProfile shop;
  shop.name = "shop-monitor";
  shop.generatorFrequency = "RF {hz} HZ";
  shop.powerUnit = "W";
  s.profiles.push_back(shop);
  InstrumentEntry monitor;
  monitor.name = "Service monitor";
  monitor.address = "TCPIP::192.168.1.20::5025::SOCKET";
  monitor.roles = {Role::Generator, Role::Counter, Role::PowerMeter, Role::DeviationMeter};
  monitor.profile = "shop-monitor";
  monitor.settleMs = 350;
  monitor.timeoutMs = 1500;
  monitor.cableLossDb = 0.75;
  monitor.calibrationDue = "2028-02-29";
  InstrumentEntry counter;
  counter.name = "Counter";
  counter.address = "ASRL/dev/ttyUSB1::INSTR";
  counter.baud = 19200;
  s.instruments = {monitor, counter};
  std::string why;
  ASSERT_TRUE(saveInstruments(s, file, why)) << why;
  const std::string text = readAll(file);
  EXPECT_EQ(text.rfind("; the bench of room 2\n", 0), 0u);
  EXPECT_EQ(text.find("[Old meter]"), std::string::npos);  // no longer listed: removed

  const InstrumentsSetup r = loadInstruments(file);
  EXPECT_TRUE(r.problems.empty()) << r.problems.front();
  ASSERT_EQ(r.instruments.size(), 2u);
  const InstrumentEntry& m = r.instruments[0];
  EXPECT_EQ(m.name, "Service monitor");
  EXPECT_EQ(m.address, monitor.address);
  EXPECT_EQ(m.roles, monitor.roles);
  EXPECT_EQ(m.settleMs, 350);
  EXPECT_EQ(m.timeoutMs, 1500);
  EXPECT_DOUBLE_EQ(m.cableLossDb, 0.75);
  EXPECT_EQ(m.calibrationDue, "2028-02-29");
  EXPECT_EQ(r.instruments[1].baud, 19200);
  EXPECT_TRUE(r.instruments[1].roles.empty());
  ASSERT_EQ(r.profiles.size(), 1u);
  EXPECT_EQ(r.profile("SHOP-MONITOR")->generatorFrequency, "RF {hz} HZ");
  EXPECT_EQ(r.profile("shop-monitor")->powerUnit, "W");
  EXPECT_EQ(r.profile("shop-monitor")->counterQuery, "MEAS:FREQ?");
  EXPECT_EQ(r.forRole(Role::DeviationMeter)->name, "Service monitor");
}

TEST(InstrumentsFile, WhatCannotBeUsedIsLeftOutAndSaid) {
  TempDir t;
  const std::string file = t.write("Instruments.ini",
                                   "[Profile broken]\nCounterQuery=MEAS:FREQ\n"
                                   "[Profile derived]\nBase=kv-tarn-bench\nPowerUnit=w\n"
                                   "[Profile generic]\nPowerUnit=W\n"
                                   "[No address]\nRoles=counter\n"
                                   "[Bad profile]\nAddress=ASRL2::INSTR\nProfile=broken\n"
                                   "[Bench]\nAddress=TCPIP::127.0.0.1::5025::SOCKET\nProfile=derived\n"
                                   "Roles=counter, power, oven\nSettleMs=-5\nTimeoutMs=abc\nCableLossDb=1,5\n"
                                   "CalibrationDue=2025-02-29\n"
                                   "[Second]\nAddress=ASRL4::INSTR\nRoles=COUNTER,deviation\n");
  const InstrumentsSetup s = loadInstruments(file);
  ASSERT_EQ(s.instruments.size(), 2u);
  const InstrumentEntry& bench = s.instruments[0];
  EXPECT_EQ(bench.roles, (std::vector<Role>{Role::Counter, Role::PowerMeter}));
  EXPECT_EQ(bench.settleMs, 200);
  EXPECT_EQ(bench.timeoutMs, 2000);
  EXPECT_DOUBLE_EQ(bench.cableLossDb, 0.0);
  EXPECT_TRUE(bench.calibrationDue.empty());
  EXPECT_EQ(s.instruments[1].roles, (std::vector<Role>{Role::DeviationMeter}));
  const InstrumentProfile* derived = s.profile("derived");
  ASSERT_NE(derived, nullptr);
  EXPECT_EQ(derived->powerUnit, "W");
  EXPECT_EQ(derived->counterQuery, builtInProfile("kv-tarn-bench")->counterQuery);
  EXPECT_EQ(s.profile("generic")->powerUnit, "DBM");  // a built-in cannot be replaced

  for (const char* what :
       {"[Profile broken]", "[Profile generic] a profile of that name", "[No address] Address",
        "[Bad profile] Profile=broken", "'oven'", "SettleMs=-5", "TimeoutMs=abc", "CableLossDb=1,5",
        "CalibrationDue=2025-02-29", "the frequency counter is [Bench]"}) {
    EXPECT_TRUE(mentions(s.problems, what)) << what;
  }
}

TEST(InstrumentsFile, MissingOrUnreadableFilesGiveAnEmptySetup) {
  TempDir t;
  EXPECT_TRUE(loadInstruments(t.path("none.ini")).instruments.empty());
  std::filesystem::create_directories(t.path("dir.ini"));
  const InstrumentsSetup d = loadInstruments(t.path("dir.ini"));
  EXPECT_TRUE(d.instruments.empty());
  std::string why;
  InstrumentsSetup s;
  s.instruments.push_back(InstrumentEntry{});
  s.instruments.back().name = "X";
  s.instruments.back().address = "ASRL1::INSTR";
  EXPECT_FALSE(saveInstruments(s, t.path("dir.ini"), why));
  EXPECT_NE(why.find("dir.ini"), std::string::npos);
  // Binary junk reads as nothing usable, and never throws.
  const std::string junk = t.write("junk.ini", std::string("\0[\xff]\n=\n[a\n]b=c\n\x01", 16));
  EXPECT_NO_THROW(loadInstruments(junk));
  EXPECT_EQ(instrumentsFilePath("/home/t/.config/TarnsetADJ/TarnsetADJ.rs"),
            "/home/t/.config/TarnsetADJ/Instruments.ini");
  EXPECT_EQ(instrumentsFilePath("TarnsetADJ.rs"), "Instruments.ini");
}

TEST(InstrumentsFile, CalendarDates) {
  for (const char* good : {"2024-02-29", "2000-02-29", "2025-12-31", "2025-01-01"})
    EXPECT_TRUE(isCalendarDate(good)) << good;
  for (const char* bad : {"1900-02-29", "2025-02-29", "2025-04-31", "2025-13-01", "2025-00-10", "2025-1-01",
                          "25-01-2025", "2025/01/01", "+025-01-01", ""}) {
    EXPECT_FALSE(isCalendarDate(bad)) << bad;
  }
}

TEST(LimitsFile, ItemsAreWrittenAndReadBackAndFoundByTitle) {
  TempDir t;
  const std::string file = t.path("Limits.ini");
  LimitsSetup l;
  l.items.push_back(ItemLimit{"Power(Hi)", Quantity::Power, "W", 25.0, 24.0, 26.0});
  l.items.push_back(ItemLimit{"TXF", Quantity::FrequencyError, "ppm", 0.0, -0.5, 0.5});
  l.items.push_back(ItemLimit{"MOD W", Quantity::Deviation, "kHz", 4.0, 3.9, 4.1});
  std::string why;
  ASSERT_TRUE(saveLimits(l, file, why)) << why;
  const LimitsSetup r = loadLimits(file);
  EXPECT_TRUE(r.problems.empty());
  ASSERT_EQ(r.items.size(), 3u);
  const ItemLimit* hi = r.find(" Power(Hi)");
  ASSERT_NE(hi, nullptr);
  EXPECT_EQ(hi->quantity, Quantity::Power);
  EXPECT_DOUBLE_EQ(hi->upper, 26.0);
  EXPECT_TRUE(hi->within(hi->inUnit(25.5)));
  EXPECT_FALSE(hi->within(hi->inUnit(26.01)));
  const ItemLimit* txf = r.find("       txf");
  ASSERT_NE(txf, nullptr);
  EXPECT_NEAR(txf->inUnit(45.0, 450e6), 0.1, 1e-12);  // 45 Hz at 450 MHz
  EXPECT_NEAR(r.find("MOD W")->inUnit(4050.0), 4.05, 1e-12);
  EXPECT_EQ(r.find("SQL"), nullptr);
  ItemLimit dbm{"x", Quantity::Power, "dBm", 0, 0, 0};
  EXPECT_NEAR(dbm.inUnit(1.0), 30.0, 1e-12);
}

TEST(LimitsFile, BadItemsAreLeftOutAndSaid) {
  TempDir t;
  const std::string file = t.write("Limits.ini",
                                   "[A]\nQuantity=volume\n[B]\nQuantity=power\nUnit=V\n"
                                   "[C]\nQuantity=power\nUnit=W\nTarget=x\nLower=1\nUpper=2\n"
                                   "[D]\nQuantity=power\nUnit=W\nTarget=5\nLower=1\nUpper=2\n"
                                   "[E]\nQuantity=level\nUnit=dbm\nTarget=-47\nLower=-48\nUpper=-46\n");
  const LimitsSetup l = loadLimits(file);
  ASSERT_EQ(l.items.size(), 1u);
  EXPECT_EQ(l.items[0].unit, "dBm");
  for (const char* what : {"[A] Quantity=volume", "[B] Unit=V", "[C] Target=x", "[D] the target 5"}) {
    EXPECT_TRUE(mentions(l.problems, what)) << what;
  }
  EXPECT_TRUE(loadLimits(t.path("none.ini")).items.empty());
}

TEST(LimitsFile, TheShippedFileOfTheVirtualRadioIsWhole) {
  const LimitsSetup l = loadLimits(TARNSET_SOURCE_DIR "/Limits.ini");
  EXPECT_TRUE(l.problems.empty()) << (l.problems.empty() ? "" : l.problems.front());
  for (const char* title : {" Power(Hi)", " Power(L2)", " Power(L1)", "   Balance", "     MOD W",
                            "     MOD N", " CTCS/DTCS", "       TXF"}) {
    EXPECT_NE(l.find(title), nullptr) << title;
  }
}

}  // namespace
}  // namespace tarnset
