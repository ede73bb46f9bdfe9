// The command line of kv-tarn-sim.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "sim/SimCli.h"

namespace kvsim {
namespace {

TEST(SimCli, ReadsEveryOption) {
  std::string error;
  const auto cfg = parseCommandLine({"--link",      "/tmp/kv",  "--image=img.bin",
                                     "--sub-model", "01a0",     "--no-pacing",
                                     "--fault",     "echo",     "--fault=silence-after=4",
                                     "--log",       "sim.log",  "--temperature",
                                     "-12.5",       "--drift",  "0.25",
                                     "--sd-noise",  "3",        "--seed",
                                     "99",          "--signal", "-7"},
                                    error);
  ASSERT_TRUE(cfg.has_value()) << error;
  EXPECT_EQ(cfg->linkPath, "/tmp/kv");
  EXPECT_EQ(cfg->imagePath, "img.bin");
  EXPECT_EQ(cfg->logPath, "sim.log");
  EXPECT_EQ(cfg->options.subModel, "01a0");
  EXPECT_FALSE(cfg->options.pacing);
  ASSERT_EQ(cfg->options.faults.size(), 2u);
  EXPECT_EQ(cfg->options.faults[1].kind, Fault::SilenceAfter);
  EXPECT_EQ(cfg->options.faults[1].record, 4);
  EXPECT_DOUBLE_EQ(cfg->options.temperatureC, -12.5);
  EXPECT_DOUBLE_EQ(cfg->options.driftCPerMinute, 0.25);
  EXPECT_EQ(cfg->options.sdNoise, 3);
  EXPECT_EQ(cfg->options.seed, 99u);
  EXPECT_DOUBLE_EQ(cfg->options.signalLevelDbu, -7.0);
  EXPECT_FALSE(cfg->help);
}

TEST(SimCli, RefusesWhatItCannotUse) {
  const std::vector<std::vector<std::string>> bad = {{"--bogus"},
                                                     {"--link"},
                                                     {"--sub-model", "100"},
                                                     {"--sub-model", "01G0"},
                                                     {"--fault", "smoke"},
                                                     {"--temperature", "hot"},
                                                     {"--temperature", "300"},
                                                     {"--sd-noise", "-1"},
                                                     {"--seed", "1e3"},
                                                     {"--no-pacing=yes"},
                                                     {"--drift", "25"},
                                                     {"stray"}};
  for (const auto& args : bad) {
    std::string error;
    EXPECT_FALSE(parseCommandLine(args, error).has_value()) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
}

TEST(SimCli, ImageFileMustHoldTheWholeMemory) {
  const std::string path = ::testing::TempDir() + "sim_cli_image.bin";
  std::string error;
  { std::ofstream(path, std::ios::binary) << std::string(15968, '\x5A'); }
  const auto image = loadImageFile(path, error);
  ASSERT_TRUE(image.has_value()) << error;
  EXPECT_EQ(image->size(), 15968u);
  EXPECT_EQ((*image)[15967], 0x5A);
  { std::ofstream(path, std::ios::binary) << std::string(15969, '\x5A'); }
  EXPECT_FALSE(loadImageFile(path, error).has_value());
  std::remove(path.c_str());
  EXPECT_FALSE(loadImageFile(path, error).has_value());
}

}  // namespace
}  // namespace kvsim
