// Which frames go astray: the random loss of --loss/--seed is reproducible
// frame by frame, follows its probability, draws a stream of its own per
// direction, and sits beside the chosen faults without shifting them.
#include "emulator/frame_faults.h"

#include <gtest/gtest.h>

#include <vector>

namespace emulator {
namespace {

std::vector<FrameFate> Fates(const DirectionFaults& faults, const RandomLoss& loss, LinkDirection direction,
                             unsigned frames) {
  FrameFaults source(faults, loss, direction);
  std::vector<FrameFate> fates;
  for (unsigned i = 0; i < frames; ++i) fates.push_back(source.Next());
  return fates;
}

std::vector<FrameFate> Fates(const RandomLoss& loss, LinkDirection direction, unsigned frames) {
  return Fates(DirectionFaults{}, loss, direction, frames);
}

unsigned LostCount(const std::vector<FrameFate>& fates) {
  unsigned lost = 0;
  for (FrameFate fate : fates) lost += fate == FrameFate::kLose ? 1 : 0;
  return lost;
}

TEST(RandomLoss, SameSeedLosesTheSameFrames) {
  const RandomLoss loss{0.1, 42};
  EXPECT_EQ(Fates(loss, LinkDirection::kFromHost, 2000), Fates(loss, LinkDirection::kFromHost, 2000));
  EXPECT_EQ(Fates(loss, LinkDirection::kToHost, 2000), Fates(loss, LinkDirection::kToHost, 2000));
}

TEST(RandomLoss, SeedsAndDirectionsDrawDifferentFrames) {
  const std::vector<FrameFate> from = Fates(RandomLoss{0.1, 42}, LinkDirection::kFromHost, 2000);
  EXPECT_NE(from, Fates(RandomLoss{0.1, 43}, LinkDirection::kFromHost, 2000));
  EXPECT_NE(from, Fates(RandomLoss{0.1, 42}, LinkDirection::kToHost, 2000));
}

TEST(RandomLoss, LosesAboutTheAskedShareOfFrames) {
  constexpr unsigned kFrames = 100000;
  for (const double probability : {0.01, 0.1, 0.5, 0.9}) {
    for (const LinkDirection direction : {LinkDirection::kFromHost, LinkDirection::kToHost}) {
      const double share =
          static_cast<double>(LostCount(Fates(RandomLoss{probability, 7}, direction, kFrames))) / kFrames;
      EXPECT_NEAR(share, probability, 0.01) << "probability " << probability;
    }
  }
}

TEST(RandomLoss, NoneAtZeroEveryFrameAtOne) {
  EXPECT_EQ(LostCount(Fates(RandomLoss{0.0, 1}, LinkDirection::kFromHost, 5000)), 0u);
  EXPECT_EQ(LostCount(Fates(RandomLoss{1.0, 1}, LinkDirection::kToHost, 5000)), 5000u);
}

TEST(RandomLoss, LeavesTheChosenFaultsWhereTheyAre) {
  DirectionFaults chosen;
  chosen.lose.nth = {3};
  chosen.corrupt.every = 5;
  const RandomLoss loss{0.2, 9};
  const std::vector<FrameFate> random_only = Fates(loss, LinkDirection::kFromHost, 200);
  const std::vector<FrameFate> both = Fates(chosen, loss, LinkDirection::kFromHost, 200);
  for (unsigned n = 1; n <= 200; ++n) {
    const bool lost_at_random = random_only[n - 1] == FrameFate::kLose;
    FrameFate expected = FrameFate::kDeliver;
    if (n == 3 || lost_at_random) {
      expected = FrameFate::kLose;  // lost wins over corrupted
    } else if (n % 5 == 0) {
      expected = FrameFate::kCorrupt;
    }
    EXPECT_EQ(both[n - 1], expected) << "frame " << n;
  }
}

}  // namespace
}  // namespace emulator
