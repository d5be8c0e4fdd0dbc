#include "adapter/adapter.h"
#include "serial/diagnostics.h"
#include "serial/port.h"

namespace {
const char kSetupRequest[] = "KESTRAVIN SETUP";
const char kReadyReply[] = "KESTRAVIN READY";
const int kSetupRequestLength = sizeof(kSetupRequest) - 1;
const int kReadyReplyLength = sizeof(kReadyReply) - 1;
}  // namespace

int PnpHandshake(void) {
  // Any nonzero count counts as sent: the reply shows whether it arrived.
  if (WritePort(kSetupRequest, kSetupRequestLength) == 0) {
    Diagnostic("Write Setup Request failed: %d\n", (int)GetLastError());
    return 0;
  }

  Diagnostic("\n");
  for (int i = 0; i < kReadyReplyLength; ++i) {
    char c = ReadChar();
    EchoByte(c);
    if (c != kReadyReply[i]) return 0;
  }
  Diagnostic("\n");
  return 1;
}
