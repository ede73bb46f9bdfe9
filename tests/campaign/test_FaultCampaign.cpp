// The fault campaign in the test suite: 720 schedules from a fixed base seed (the
// sanitizer tree the first 120), in shards that ctest runs side by side. Every invariant holds in every run,
// and the runs met every kind of fault (a campaign that stopped meeting one would test less than it says). A
// failing run is replayed alone with `fault_campaign --replay SEED`.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "FaultCampaign.h"

using namespace tarnset::testing;

namespace {

constexpr std::uint64_t kBaseSeed = 20261207;
constexpr int kRunsPerShard = 120;
#ifdef TARNSET_CAMPAIGN_SHARDS
constexpr int kShards = TARNSET_CAMPAIGN_SHARDS;
#else
constexpr int kShards = 6;
#endif

class FaultCampaign : public ::testing::TestWithParam<int> {};

}  // namespace

TEST_P(FaultCampaign, EveryInvariantHoldsInEveryRun) {
  CampaignFigures figures;
  const std::uint64_t first = kBaseSeed + static_cast<std::uint64_t>(GetParam()) * kRunsPerShard;
  for (int i = 0; i < kRunsPerShard; ++i) figures.add(runCampaign(first + static_cast<std::uint64_t>(i)));
  std::ostringstream text;
  printFigures(text, figures);
  std::cout << "seeds " << first << ".." << first + kRunsPerShard - 1 << "\n" << text.str();
  EXPECT_EQ(figures.totalViolations(), 0) << text.str();
  for (std::size_t k = 0; k < kCampaignFaults; ++k)
    EXPECT_GT(figures.met[k], 0) << "no run met a " << faultLabel(static_cast<CampaignFault>(k));
}

INSTANTIATE_TEST_SUITE_P(Shards, FaultCampaign, ::testing::Range(0, kShards));
