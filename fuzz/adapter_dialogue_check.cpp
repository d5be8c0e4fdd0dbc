#include "fuzz/adapter_dialogue_check.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "adapter/adapter.h"
#include "fuzz/fuzz_assert.h"
#include "fuzz/pnp_reference.h"
#include "serial/diagnostics.h"
#include "serial/port.h"
#include "tests/fake/fake_platform.h"

namespace fuzzcheck {
namespace {

// The diagnostics go to stdout; while the dialogue runs, stdout is a memory
// stream so that they can be compared byte for byte, NULs and all.
class CapturedStdout {
 public:
  CapturedStdout() : console_(stdout), stream_(open_memstream(&text_, &size_)) {
    FUZZ_ASSERT(stream_ != nullptr, "stdout can be captured");
    stdout = stream_;
  }
  ~CapturedStdout() {
    Release();
    std::free(text_);
  }
  std::string Take() {
    Release();
    return std::string(text_, size_);
  }

 private:
  void Release() {
    if (stream_ == nullptr) return;
    stdout = console_;
    std::fclose(stream_);
    stream_ = nullptr;
  }

  FILE* console_;
  char* text_ = nullptr;
  std::size_t size_ = 0;
  FILE* stream_;
};

}  // namespace

namespace {

void CheckWithEcho(const std::vector<std::uint8_t>& line, bool onTerminal) {
  EchoVisibleOnly = onTerminal ? 1 : 0;
  fake::Reset();
  PortHandle = INVALID_HANDLE_VALUE;
  for (std::uint8_t byte : line) fake::State().reads.push_back(fake::Byte(byte));

  CapturedStdout captured;
  const int result = ContactAdapter(1);
  const std::string diagnostics = captured.Take();

  EchoVisibleOnly = 0;
  const fuzzref::DialogueVerdict expected = fuzzref::ExpectedDialogue(line, onTerminal);
  const fake::Platform& port = fake::State();
  FUZZ_ASSERT(result == expected.result, "the verdict follows the reply rules");
  FUZZ_ASSERT(diagnostics == expected.diagnostics, "the diagnostics and echo follow the reply rules");
  const std::size_t scripted = expected.bytesRead < line.size() ? expected.bytesRead : line.size();
  FUZZ_ASSERT(port.nextRead == scripted, "no byte is read beyond what the rules read");
  const std::string written(port.written.begin(), port.written.end());
  FUZZ_ASSERT(written == (expected.setupSent ? "KESTRAVIN SETUP" : ""),
              "the setup request goes out once, and only after an accepted reply");
  FUZZ_ASSERT(port.openHandles == result, "the port stays open after success only");

  ClosePort();
  FUZZ_ASSERT(fake::State().openHandles == 0, "nothing is left open");
  if (onTerminal)
    for (char c : diagnostics)
      FUZZ_ASSERT(c == '\n' || (c >= 0x20 && c <= 0x7E), "a terminal is shown only visible text");
}

}  // namespace

void CheckAdapterDialogue(const std::vector<std::uint8_t>& line) {
  CheckWithEcho(line, false);
  CheckWithEcho(line, true);
}

}  // namespace fuzzcheck
