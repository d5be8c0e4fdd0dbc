// The plan that times a step of the dialogue: --vanish-at's, which keeps the
// device silent once the step has come, and --signal-at's, which lets it carry
// on. Driven with made-up times and bytes, no line.
#include <gtest/gtest.h>

#include <chrono>

#include "emulator/vanish_plan.h"

namespace emulator {
namespace {

using std::chrono::milliseconds;

const Bytes kReply = {'(', '1', '0', 'K', 'V', 'T', '3', '0', '5', '2', ')'};
const TimePoint kStart = TimePoint{} + std::chrono::hours(1);

TEST(StepPlan, PnpWaitWithholdsTheReplyAndComes400MsAfterItWasDue) {
  VanishPlan plan(VanishStep::kPnpWait);
  plan.OnLineRate(kPnpBaud, false, kStart);
  EXPECT_FALSE(plan.NextDeadline().has_value());
  const TimePoint due = kStart + milliseconds(650);
  EXPECT_TRUE(plan.Pass(kReply, true, kPnpBaud, due).empty());
  ASSERT_TRUE(plan.NextDeadline().has_value());
  EXPECT_EQ(*plan.NextDeadline(), due + milliseconds(400));
  plan.OnTime(due + milliseconds(399));
  EXPECT_FALSE(plan.gone());
  plan.OnTime(due + milliseconds(400));
  EXPECT_TRUE(plan.gone());
}

TEST(StepPlan, OtherStepsLetTheReplyThrough) {
  for (const VanishStep step : {VanishStep::kPulses, VanishStep::kFastLine, VanishStep::kWrite1}) {
    VanishPlan plan(step);
    EXPECT_EQ(plan.Pass(kReply, true, kPnpBaud, kStart), kReply) << VanishStepName(step);
  }
}

// Once it has come, a vanishing holds everything back; a plan that carries on
// lets everything through again, and the module acts on every later request.
TEST(StepPlan, CarryingOnAfterTheStepLetsTheDeviceGoOn) {
  for (const bool carry_on : {false, true}) {
    SCOPED_TRACE(carry_on ? "carries on" : "vanishes");
    VanishPlan plan(VanishStep::kWrite2);
    EXPECT_FALSE(plan.OnSync());
    EXPECT_FALSE(plan.OnConf());
    EXPECT_FALSE(plan.OnWriteRequest());
    EXPECT_FALSE(plan.gone());
    EXPECT_TRUE(plan.OnWriteRequest());  // the second: held back from the module
    ASSERT_TRUE(plan.gone());
    if (carry_on) plan.CarryOn();
    EXPECT_EQ(plan.gone(), !carry_on);
    EXPECT_EQ(plan.OnWriteRequest(), !carry_on);
    EXPECT_EQ(plan.OnSync(), !carry_on);
    EXPECT_EQ(plan.Pass(kReply, false, kFastBaud, kStart), carry_on ? kReply : Bytes{});
    EXPECT_FALSE(plan.NextDeadline().has_value());
  }
}

// The rest of a reply cut at the step stays withheld; what follows goes.
TEST(StepPlan, WhatWasWithheldBeforeCarryingOnStaysWithheld) {
  VanishPlan plan(VanishStep::kPnpReply);
  const Bytes part = plan.Pass(kReply, true, kPnpBaud, kStart);
  EXPECT_EQ(part, Bytes(kReply.begin(), kReply.begin() + 6));
  EXPECT_TRUE(plan.Pass({'x'}, true, kPnpBaud, kStart + milliseconds(10)).empty());
  plan.OnTime(kStart + milliseconds(500));
  ASSERT_TRUE(plan.gone());
  plan.CarryOn();
  EXPECT_EQ(plan.Pass({'y'}, true, kPnpBaud, kStart + milliseconds(600)), Bytes{'y'});
}

TEST(StepPlan, CarryOnBeforeTheStepChangesNothing) {
  VanishPlan plan(VanishStep::kSync);
  plan.CarryOn();
  EXPECT_TRUE(plan.OnSync());
  EXPECT_TRUE(plan.gone());
}

}  // namespace
}  // namespace emulator
