// Standard output that cannot be written, over the scripted platform: the
// device work goes on to its end, the failure is reported on standard error,
// and a run that wrote the settings ends with its own status.
#include <gtest/gtest.h>

#include <stdio_ext.h>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "app/console.h"
#include "app/run_sequence.h"
#include "serial/diagnostics.h"
#include "serial/interruption.h"
#include "serial/port.h"
#include "tests/app/run_state.h"
#include "tests/fake/fake_platform.h"
#include "tests/fake/fake_prodtest.h"

namespace {

const std::string kGoodLine = "(10KVT3052)KESTRAVIN READY";

enum class Target { kDevFull, kClosedPipe, kDevNull };

struct OutputCase {
  const char* name;
  Target target;
  std::vector<std::string> words;
  bool adapterAnswers;
  int status;
  std::string error;  // what standard error shows
};

void PrintTo(const OutputCase& c, std::ostream* os) { *os << c.name; }

class OutputFailure : public ::testing::TestWithParam<OutputCase> {
 protected:
  void SetUp() override { ResetRunState(); }

  // Runs the tool's sequence with standard output on the target, as main()
  // does from SetUpConsoleOutput to FinishOutput; the exit status.
  int RunTo(Target target, std::vector<std::string> words, std::string* error) {
    std::fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    int ends[2] = {-1, -1};
    int into = -1;
    if (target == Target::kClosedPipe) {
      EXPECT_EQ(pipe(ends), 0);
      close(ends[0]);
      into = ends[1];
    } else {
      into = open(target == Target::kDevFull ? "/dev/full" : "/dev/null", O_WRONLY);
    }
    EXPECT_GE(into, 0);
    dup2(into, STDOUT_FILENO);
    close(into);

    words.insert(words.begin(), "corvane-handshake");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);
    testing::internal::CaptureStderr();
    SetUpConsoleOutput();
    int status = FinishOutput(RunHandshake((int)words.size(), argv.data()));
    *error = testing::internal::GetCapturedStderr();

    // Whatever the failed writes left in the buffer belongs to nobody.
    __fpurge(stdout);
    std::clearerr(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::signal(SIGPIPE, SIG_DFL);
    return status;
  }
};

TEST_P(OutputFailure, IsReportedWithoutCuttingTheRunShort) {
  const OutputCase& c = GetParam();
  if (c.adapterAnswers) fake::QueueText(kGoodLine);
  std::string error;
  int status = RunTo(c.target, c.words, &error);
  EXPECT_EQ(status, c.status);
  EXPECT_EQ(error, c.error);
  if (c.adapterAnswers) {
    EXPECT_EQ(fake::ProdtestState().calls.size(), 5u) << "every setting was still written";
  }
  EXPECT_EQ(fake::State().openHandles, 0);
}

const char kNoSpace[] = "failed to write standard output: No space left on device\n";

INSTANTIATE_TEST_SUITE_P(
    Runs, OutputFailure,
    ::testing::Values(OutputCase{"CompleteRunToAFullDevice", Target::kDevFull, {"on"}, true, 3, kNoSpace},
                      // SIGPIPE is ignored: the write fails with EPIPE instead.
                      OutputCase{"CompleteRunToAClosedPipe",
                                 Target::kClosedPipe,
                                 {"off"},
                                 true,
                                 3,
                                 "failed to write standard output: Broken pipe\n"},
                      OutputCase{"CompleteRunToDevNull", Target::kDevNull, {"on"}, true, 0, ""},
                      // A failed run keeps its own status; the lost output is still told.
                      OutputCase{"AdapterAbsentToAFullDevice", Target::kDevFull, {"on"}, false, 1, kNoSpace},
                      OutputCase{"UsageToAFullDevice", Target::kDevFull, {}, false, 2, kNoSpace}),
    [](const ::testing::TestParamInfo<OutputCase>& info) { return std::string(info.param.name); });

struct Finish {
  const char* name;
  int outputError;
  int status;
  int finalStatus;
  std::string error;
};

void PrintTo(const Finish& c, std::ostream* os) { *os << c.name; }

class FinishOutputStatus : public ::testing::TestWithParam<Finish> {};

TEST_P(FinishOutputStatus, OnlyASuccessfulRunTakesTheOutputStatus) {
  OutputError = GetParam().outputError;
  testing::internal::CaptureStderr();
  int status = FinishOutput(GetParam().status);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), GetParam().error);
  EXPECT_EQ(status, GetParam().finalStatus);
  OutputError = 0;
}

const char kBadDescriptor[] = "failed to write standard output: Bad file descriptor\n";

INSTANTIATE_TEST_SUITE_P(Statuses, FinishOutputStatus,
                         ::testing::Values(Finish{"WrittenAndShown", 0, 0, 0, ""},
                                           Finish{"FailedAndShown", 0, 1, 1, ""},
                                           Finish{"WrittenNotShown", EBADF, 0, 3, kBadDescriptor},
                                           Finish{"FailedNotShown", EBADF, 1, 1, kBadDescriptor},
                                           Finish{"UsageNotShown", EBADF, 2, 2, kBadDescriptor},
                                           Finish{"InterruptedNotShown", EBADF, 143, 143, kBadDescriptor}),
                         [](const ::testing::TestParamInfo<Finish>& info) { return std::string(info.param.name); });

}  // namespace
