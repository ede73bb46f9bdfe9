// The command line of kv-tarn-sim.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "sim/SimCli.h"

namespace kvsim {
namespace {

TEST(SimCli, ReadsEveryOption) {
  std::string error;
  const auto cfg = parseCommandLine({"--link",
                                     "/tmp/kv",
                                     "--image=img.bin",
                                     "--sub-model",
                                     "01a0",
                                     "--no-pacing",
                                     "--fault",
                                     "echo",
                                     "--fault=silence-after=4",
                                     "--fault",
                                     "repeat-record=3",
                                     "--log",
                                     "sim.log",
                                     "--temperature",
                                     "-12.5",
                                     "--drift",
                                     "0.25",
                                     "--sd-noise",
                                     "3",
                                     "--seed",
                                     "99",
                                     "--signal",
                                     "-7"},
                                    error);
  ASSERT_TRUE(cfg.has_value()) << error;
  EXPECT_EQ(cfg->linkPath, "/tmp/kv");
  EXPECT_EQ(cfg->imagePath, "img.bin");
  EXPECT_EQ(cfg->logPath, "sim.log");
  EXPECT_EQ(cfg->options.subModel, "01a0");
  EXPECT_FALSE(cfg->options.pacing);
  ASSERT_EQ(cfg->options.faults.size(), 3u);
  EXPECT_EQ(cfg->options.faults[1].kind, Fault::SilenceAfter);
  EXPECT_EQ(cfg->options.faults[1].record, 4);
  EXPECT_EQ(cfg->options.faults[2].kind, Fault::RepeatRecord);
  EXPECT_EQ(cfg->options.faults[2].record, 3);
  EXPECT_DOUBLE_EQ(cfg->options.temperatureC, -12.5);
  EXPECT_DOUBLE_EQ(cfg->options.driftCPerMinute, 0.25);
  EXPECT_EQ(cfg->options.sdNoise, 3);
  EXPECT_EQ(cfg->options.seed, 99u);
  EXPECT_DOUBLE_EQ(cfg->options.signalLevelDbu, -7.0);
  EXPECT_FALSE(cfg->help);
  EXPECT_FALSE(cfg->version);
  const auto v = parseCommandLine({"--version"}, error);
  ASSERT_TRUE(v.has_value()) << error;
  EXPECT_TRUE(v->version);
  EXPECT_FALSE(parseCommandLine({"--version=1"}, error).has_value());
}

TEST(SimCli, RefusesWhatItCannotUse) {
  const std::vector<std::vector<std::string>> bad = {
      {"--bogus"},
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
      {"stray"},
      // Bytes that mark frames cannot be served.
      {"--sub-model", "FE00"},
      {"--sub-model", "00FD"},
      {"--sub-model=fdfd"},
      // Records the clone read never sends.
      {"--fault", "bad-checksum=998"},
      {"--fault", "outside-image=998"},
      {"--fault", "silence-after=998"},
      {"--fault", "repeat-record=997"},
      // Faults that could never show.
      {"--fault", "silent", "--fault", "noise"},
      {"--fault", "version-02", "--fault", "version-04"},
      {"--fault", "sub-model-0101", "--sub-model", "0200"},
      {"--fault", "silence-after=5", "--fault", "bad-count"},
      {"--fault", "silence-after=5", "--fault", "outside-image=6"},
      // A second value would replace the first unseen.
      {"--temperature", "20", "--temperature", "30"},
      {"--sub-model", "0100", "--sub-model=0200"},
      {"--log", "a.log", "--log", "b.log"}};
  for (const auto& args : bad) {
    std::string error;
    EXPECT_FALSE(parseCommandLine(args, error).has_value()) << args[0] << " " << args.back();
    EXPECT_FALSE(error.empty()) << args[0];
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
  std::string error;
  EXPECT_FALSE(parseCommandLine({"--sub-model", "FE00"}, error).has_value());
  EXPECT_NE(error.find("FE"), std::string::npos) << error;
  EXPECT_FALSE(parseCommandLine({"--fault", "repeat-record=997"}, error).has_value());
  EXPECT_NE(error.find("0..996"), std::string::npos) << error;
}

TEST(SimCli, AcceptsTheLimitsAndRepeatedFaults) {
  std::string error;
  const auto cfg = parseCommandLine(
      {"--fault", "bad-checksum=997", "--fault", "bad-checksum=0", "--fault", "outside-image=997", "--fault",
       "repeat-record=996", "--fault", "silence-after=997", "--sub-model", "FCFC"},
      error);
  ASSERT_TRUE(cfg.has_value()) << error;
  EXPECT_EQ(cfg->options.faults.size(), 5u);
  EXPECT_TRUE(parseCommandLine({"--fault", "silent", "--fault", "echo"}, error).has_value()) << error;
}

TEST(SimCli, UsageTextNamesTheNewFaultAndTheSignals) {
  const std::string text = usageText();
  for (const char* word : {"repeat-record=K", "SIGUSR1", "SIGUSR2", "0..997", "0..996"}) {
    EXPECT_NE(text.find(word), std::string::npos) << word;
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
