// The read time-out rules as a pure function: for a table of COMMTIMEOUTS,
// counts and moments of a read, whether the read returns now and, if not,
// until when it waits. Times are milliseconds on a made-up clock.
#include <gtest/gtest.h>
#include <cstdint>
#include <ostream>

#include "platform/posix/read_rules.h"

namespace {

using corvane_posix::next_read_step;
using corvane_posix::read_rule_for;
using corvane_posix::ReadProgress;
using corvane_posix::ReadStep;

constexpr std::int64_t ms = 1000000;
constexpr std::int64_t began = 5000 * ms;  // any clock reading will do
constexpr std::int64_t forever = -1;       // expected: wait with no end
constexpr std::int64_t now = -2;           // expected: return now

const COMMTIMEOUTS tool{1000, 500, 1000, 500, 1000};

struct StepCase {
  const char* name;
  COMMTIMEOUTS timeouts;
  DWORD count;
  DWORD got;
  std::int64_t last_byte_ms;  // after the start; read only when got > 0
  std::int64_t now_ms;        // after the start
  std::int64_t expected;      // now, forever, or the ms after the start to wait until
};

void PrintTo(const StepCase& c, std::ostream* os) { *os << c.name; }

class ReadRules : public ::testing::TestWithParam<StepCase> {};

TEST_P(ReadRules, DecideTheNextStep) {
  const StepCase& c = GetParam();
  ReadProgress progress;
  progress.got = c.got;
  progress.began_ns = began;
  progress.last_byte_ns = began + c.last_byte_ms * ms;
  progress.now_ns = began + c.now_ms * ms;
  ReadStep step = next_read_step(read_rule_for(c.timeouts, c.count), c.count, progress);
  if (c.expected == now) {
    EXPECT_TRUE(step.finished);
  } else if (c.expected == forever) {
    EXPECT_FALSE(step.finished);
    EXPECT_TRUE(step.wait_forever);
  } else {
    EXPECT_FALSE(step.finished);
    EXPECT_FALSE(step.wait_forever);
    EXPECT_EQ(step.wait_until_ns, began + c.expected * ms);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadRules,
    ::testing::Values(
        // All zero: no time-out at all; only the count ends the read.
        StepCase{"all_zero_nothing_yet", {0, 0, 0, 0, 0}, 4, 0, 0, 0, forever},
        StepCase{"all_zero_some_bytes_long_after", {0, 0, 0, 0, 0}, 4, 2, 10, 900000, forever},
        StepCase{"all_zero_count_reached", {0, 0, 0, 0, 0}, 4, 4, 300, 300, now},

        // MAXDWORD/0/0: whatever is there, at once, even nothing.
        StepCase{"maxdword_0_0_nothing", {MAXDWORD, 0, 0, 0, 0}, 16, 0, 0, 0, now},
        StepCase{"maxdword_0_0_some", {MAXDWORD, 0, 0, 0, 0}, 16, 3, 0, 0, now},

        // MAXDWORD/MAXDWORD/C: wait up to C for the first byte, then return.
        StepCase{"maxdword_maxdword_c_waits_for_a_byte", {MAXDWORD, MAXDWORD, 5000, 0, 0}, 16, 0, 0, 0, 5000},
        StepCase{"maxdword_maxdword_c_returns_on_a_byte", {MAXDWORD, MAXDWORD, 5000, 0, 0}, 16, 2, 200, 200, now},
        StepCase{"maxdword_maxdword_c_bytes_at_the_start", {MAXDWORD, MAXDWORD, 5000, 0, 0}, 16, 1, 0, 0, now},
        StepCase{"maxdword_maxdword_c_times_out", {MAXDWORD, MAXDWORD, 300, 0, 0}, 4, 0, 0, 300, now},
        StepCase{"maxdword_maxdword_c_counts_no_multiplier", {MAXDWORD, MAXDWORD, 300, 0, 0}, 4000, 0, 0, 0, 300},
        StepCase{"maxdword_maxdword_0_returns_at_once", {MAXDWORD, MAXDWORD, 0, 0, 0}, 4, 0, 0, 0, now},

        // Interval MAXDWORD with other totals: return as soon as a byte is
        // in, having waited up to M x n + C for the first.
        StepCase{"maxdword_0_c_waits_for_a_byte", {MAXDWORD, 0, 5000, 0, 0}, 16, 0, 0, 1200, 5000},
        StepCase{"maxdword_0_c_returns_on_a_byte", {MAXDWORD, 0, 5000, 0, 0}, 16, 2, 200, 200, now},
        StepCase{"maxdword_0_c_times_out", {MAXDWORD, 0, 5000, 0, 0}, 16, 0, 0, 5000, now},
        StepCase{"maxdword_m_c_total_counts_bytes", {MAXDWORD, 100, 1000, 0, 0}, 4, 0, 0, 0, 1400},
        StepCase{"maxdword_m_c_returns_on_a_byte", {MAXDWORD, 100, 1000, 0, 0}, 4, 1, 30, 30, now},
        StepCase{"maxdword_m_0_waits_m_x_n", {MAXDWORD, 250, 0, 0, 0}, 2, 0, 0, 0, 500},
        // With C = MAXDWORD the driver sets no timer: the count decides.
        StepCase{"maxdword_0_maxdword_no_time_out", {MAXDWORD, 0, MAXDWORD, 0, 0}, 2, 1, 10, 20, forever},
        StepCase{"maxdword_maxdword_maxdword_no_time_out", {MAXDWORD, MAXDWORD, MAXDWORD, 0, 0}, 2, 0, 0, 0, forever},

        // Interval only: no limit before the first byte, then I after each.
        StepCase{"interval_only_before_the_first_byte", {100, 0, 0, 0, 0}, 16, 0, 0, 3000, forever},
        StepCase{"interval_only_after_a_byte", {100, 0, 0, 0, 0}, 16, 3, 3000, 3010, 3100},
        StepCase{"interval_only_gap_passed", {100, 0, 0, 0, 0}, 16, 3, 3000, 3100, now},
        StepCase{"interval_only_runs_from_the_latest_byte", {100, 0, 0, 0, 0}, 16, 5, 3080, 3150, 3180},

        // Totals only: M x n + C from the start, bytes or not.
        StepCase{"totals_only_multiplier_per_byte", {0, 300, 100, 0, 0}, 3, 0, 0, 0, 1000},
        StepCase{"totals_only_bytes_do_not_extend", {0, 300, 100, 0, 0}, 3, 1, 900, 950, 1000},
        StepCase{"totals_only_times_out", {0, 300, 100, 0, 0}, 3, 1, 900, 1000, now},
        StepCase{"totals_constant_only", {0, 0, 250, 0, 0}, 8, 0, 0, 0, 250},
        StepCase{"totals_multiplier_only", {0, 40, 0, 0, 0}, 8, 0, 0, 0, 320},

        // Both: whichever limit comes first.
        StepCase{"both_interval_first", {100, 0, 5000, 0, 0}, 16, 3, 100, 150, 200},
        StepCase{"both_interval_passed", {100, 0, 5000, 0, 0}, 16, 3, 100, 200, now},
        StepCase{"both_total_first", {500, 0, 250, 0, 0}, 8, 1, 100, 120, 250},
        StepCase{"both_total_passed", {500, 0, 250, 0, 0}, 8, 2, 240, 250, now},
        StepCase{"both_before_the_first_byte_only_total", {100, 0, 5000, 0, 0}, 16, 0, 0, 4000, 5000},

        // The tool's one-byte read: 500 x 1 + 1000 ms, the interval never
        // matters for a single byte.
        StepCase{"tool_read_waits", tool, 1, 0, 0, 0, 1500}, StepCase{"tool_read_times_out", tool, 1, 0, 0, 1500, now},
        StepCase{"tool_read_gets_its_byte", tool, 1, 1, 700, 700, now},
        StepCase{"tool_two_bytes_interval_first", tool, 2, 1, 100, 100, 1100}),
    [](const ::testing::TestParamInfo<StepCase>& info) { return info.param.name; });

// Limits beyond any wait saturate, far in the future, instead of wrapping
// round into the past; long ones that fit are kept exactly.
TEST(ReadRule, HugeLimitsSaturate) {
  ReadProgress progress;
  progress.began_ns = began;
  progress.now_ns = began;
  ReadStep total = next_read_step(read_rule_for({0, MAXDWORD, MAXDWORD, 0, 0}, MAXDWORD), MAXDWORD, progress);
  EXPECT_FALSE(total.finished || total.wait_forever);
  EXPECT_EQ(total.wait_until_ns, began + INT64_MAX / 4);

  progress.got = 1;
  progress.last_byte_ns = began;
  ReadStep interval = next_read_step(read_rule_for({MAXDWORD - 1, 0, 0, 0, 0}, 2), 2, progress);
  EXPECT_FALSE(interval.finished || interval.wait_forever);
  EXPECT_EQ(interval.wait_until_ns, began + std::int64_t{MAXDWORD - 1} * ms);
}

// The limits themselves: what kind of wait each combination is.
TEST(ReadRule, SortsTheCombinations) {
  corvane_posix::ReadRule at_once = read_rule_for({MAXDWORD, 0, 0, 0, 0}, 8);
  EXPECT_TRUE(at_once.return_at_once);

  corvane_posix::ReadRule on_any = read_rule_for({MAXDWORD, 20, 100, 0, 0}, 8);
  EXPECT_FALSE(on_any.return_at_once);
  EXPECT_TRUE(on_any.return_on_any);
  EXPECT_TRUE(on_any.has_total);
  EXPECT_EQ(on_any.total_ns, 260 * ms);
  EXPECT_FALSE(on_any.has_interval);

  corvane_posix::ReadRule both = read_rule_for(tool, 3);
  EXPECT_FALSE(both.return_at_once);
  EXPECT_FALSE(both.return_on_any);
  EXPECT_TRUE(both.has_total);
  EXPECT_EQ(both.total_ns, 2500 * ms);
  EXPECT_TRUE(both.has_interval);
  EXPECT_EQ(both.interval_ns, 1000 * ms);

  corvane_posix::ReadRule none = read_rule_for({0, 0, 0, 0, 0}, 3);
  EXPECT_FALSE(none.return_at_once || none.return_on_any || none.has_total || none.has_interval);
}

}  // namespace
