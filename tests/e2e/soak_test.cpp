// Many complete runs of corvane-handshake on a line that loses frames: each
// run is one emulator in command mode with --loss P and a seed of its own,
// the tool running "on" and "off" in turn. A run is
//   a success        exit 0, the exact console text of a complete run, and
//                    the module holding the values the word asks for;
//   a right failure  exit 1 after "Success", with the link's or a setting
//                    write's failure as the last line, exactly;
//   a wrong verdict  anything else: above all exit 0 with the module's
//                    values wrong, but also any other text or exit status,
//                    or an emulator that did not run cleanly;
//   a hang           no end within the limit (killed).
// Prints a line for each run that was not a success, then one summary line;
// the test fails on any wrong verdict or hang. scripts/soak builds and runs
// it.
//
// Usage: e2e_soak [GoogleTest flags] [--runs N] [--loss P] [--first-seed S] [--limit SECONDS]
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <sstream>
#include <string>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/tool_under_test.h"

namespace e2e {
namespace {

struct SoakSettings {
  unsigned long runs = 100;
  std::string loss = "0.1";  // passed to the emulator, which checks it
  unsigned long first_seed = 1;
  unsigned long limit_seconds = 60;  // for one run, before it counts as a hang
};

SoakSettings settings;  // from the command line

const char* const kUsage =
    "Usage: e2e_soak [GoogleTest flags] [--runs N] [--loss P] [--first-seed S] [--limit SECONDS]\n"
    "  --runs N          runs (default 100)\n"
    "  --loss P          probability of losing each frame (default 0.1)\n"
    "  --first-seed S    seed of the first run; then one up (default 1)\n"
    "  --limit SECONDS   time a run may take before it counts as a hang (default 60)\n";

// A decimal number, all of text.
bool ReadCount(const std::string& text, unsigned long* out) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9) return false;
  *out = std::stoul(text);
  return true;
}

// False, with *error set, on anything but the options above.
bool ReadSettings(int argc, char** argv, SoakSettings* out, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) {
      *error = option == "--runs" || option == "--loss" || option == "--first-seed" || option == "--limit"
                   ? option + " needs a value"
                   : "unknown option " + option;
      return false;
    }
    const std::string value = argv[++i];
    bool read = true;
    if (option == "--runs") {
      read = ReadCount(value, &out->runs);
    } else if (option == "--loss") {
      out->loss = value;
    } else if (option == "--first-seed") {
      read = ReadCount(value, &out->first_seed);
    } else if (option == "--limit") {
      read = ReadCount(value, &out->limit_seconds) && out->limit_seconds > 0;
    } else {
      *error = "unknown option " + option;
      return false;
    }
    if (!read) {
      *error = option + ": \"" + value + "\" is not a count";
      return false;
    }
  }
  return true;
}

// Text as a reader of a failure line wants it: control bytes escaped.
std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (const char ch : text) {
    const unsigned char byte = static_cast<unsigned char>(ch);
    if (ch == '\n') {
      quoted += "\\n";
    } else if (ch == '"' || ch == '\\') {
      quoted += std::string("\\") + ch;
    } else if (byte < 0x20 || byte >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      quoted += hex;
    } else {
      quoted += ch;
    }
  }
  return quoted + "\"";
}

enum class Verdict { kSuccess, kRightFailure, kWrong, kHang };

struct Judgement {
  Verdict verdict;
  std::string why;  // as printed for a run that was not a success
};

Judgement Judge(const std::string& word, const EmulatorRun& run) {
  if (run.process.timed_out) return {Verdict::kHang, "hang"};
  if (run.process.exit_status != 0 || !run.report_error.empty()) {
    return {Verdict::kWrong, "wrong verdict: the emulator did not run cleanly (" +
                                 std::to_string(run.process.exit_status) + "): " + run.process.err + run.report_error};
  }
  try {
    const Json& exit_status = At(run.report, "command_exit");
    if (exit_status == 0) {
      if (run.text != Complete(word))
        return {Verdict::kWrong, "wrong verdict: exit 0 with the text " + Quoted(run.text)};
      const ModuleValues written = word == "on" ? kWrittenOn : kWrittenOff;
      const ModuleValues held = ModuleValuesIn(run.report);
      if (!(held == written)) {
        std::ostringstream why;
        why << "wrong verdict: exit 0 but the module holds " << held;
        return {Verdict::kWrong, why.str()};
      }
      return {Verdict::kSuccess, "success"};
    }
    for (const std::string& last_line : {kLinkFailed, kUartConfigFailed, kHostInterfaceFailed, kVmDisableFailed}) {
      if (exit_status == 1 && run.text == Found() + last_line) return {Verdict::kRightFailure, "right failure"};
    }
    return {Verdict::kWrong, "wrong verdict: exit " + exit_status.dump() + " with the text " + Quoted(run.text)};
  } catch (const std::exception& e) {
    return {Verdict::kWrong, std::string("wrong verdict: ") + e.what()};
  }
}

long long CountIn(const Json& report, const std::string& path) {
  try {
    return At(report, path).get<long long>();
  } catch (const std::exception&) {
    return 0;  // a run without it was judged a wrong verdict already
  }
}

TEST(Soak, EveryRunOnALossyLineEndsWithTheRightVerdict) {
  const ToolUnderTest& tool = TheTool();
  const std::chrono::seconds limit = RunLimit(tool, std::chrono::seconds(settings.limit_seconds));
  unsigned long succeeded = 0;
  unsigned long failed_rightly = 0;
  unsigned long wrong = 0;
  unsigned long hangs = 0;
  long long lost_from_host = 0;
  long long lost_to_host = 0;
  const auto started = std::chrono::steady_clock::now();
  for (unsigned long index = 0; index < settings.runs; ++index) {
    const unsigned long seed = settings.first_seed + index;
    const std::string word = index % 2 == 0 ? "on" : "off";
    const EmulatorRun run =
        RunUnderEmulator(tool, {"--loss", settings.loss, "--seed", std::to_string(seed)}, {word}, limit);
    const Judgement judged = Judge(word, run);
    switch (judged.verdict) {
      case Verdict::kSuccess: ++succeeded; break;
      case Verdict::kRightFailure: ++failed_rightly; break;
      case Verdict::kWrong: ++wrong; break;
      case Verdict::kHang: ++hangs; break;
    }
    if (run.report_error.empty()) {
      lost_from_host += CountIn(run.report, "module/lost_from_host");
      lost_to_host += CountIn(run.report, "module/lost_to_host");
    }
    if (judged.verdict != Verdict::kSuccess) {
      std::printf("seed %lu (%s): %s\n", seed, word.c_str(), judged.why.c_str());
      std::fflush(stdout);
    }
  }
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - started;
  std::printf(
      "soak: %lu runs at loss %s (seeds %lu-%lu): %lu succeeded, %lu failed rightly, %lu wrong verdicts, "
      "%lu hangs; %lld frames lost from the host, %lld to the host; %.1f s wall\n",
      settings.runs, settings.loss.c_str(), settings.first_seed, settings.first_seed + settings.runs - 1, succeeded,
      failed_rightly, wrong, hangs, lost_from_host, lost_to_host, wall.count());
  std::fflush(stdout);
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(hangs, 0u);
}

}  // namespace
}  // namespace e2e

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  std::string error;
  if (!e2e::ReadSettings(argc, argv, &e2e::settings, &error)) {
    std::fprintf(stderr, "e2e_soak: %s\n%s", error.c_str(), e2e::kUsage);
    return 2;
  }
  return RUN_ALL_TESTS();
}
