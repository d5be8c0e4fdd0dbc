#include "adapter/adapter.h"
#include "serial/diagnostics.h"
#include "serial/port.h"

namespace {
// The adapter needs a moment at the new rate before it listens.
const DWORD kFastLineSettleMs = 200;
}  // namespace

int ContactAdapter(int portNumber) {
  if (!OpenPort(portNumber)) return 0;

  PulsePnpLines();

  if (!ReadPnpReply()) {
    Diagnostic("Do PNP failed\n");
    DropPort();
    return 0;
  }

  if (!SetFastLine()) return 0;

  Sleep(kFastLineSettleMs);

  if (!PnpHandshake()) {
    Diagnostic("PNP HS Failed\n");
    DropPort();
    return 0;
  }
  return 1;
}
