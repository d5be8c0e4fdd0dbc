#include "adapter/adapter.h"
#include "serial/diagnostics.h"
#include "serial/port.h"

namespace {

const char kFirstDeviceId[] = "KVT4062";
const char kSecondDeviceId[] = "KVT3052";
const int kComparedIdLength = sizeof(kFirstDeviceId) - 1;

// A Plug-and-Play ID string is at most 256 bytes, parentheses included. Past
// the compared characters nothing else would end a reply that never closes.
const int kMaxReplyBytes = 256;
// And in time: a device that trickles bytes without ever closing would hold
// the tool for minutes within the byte bound. 256 bytes take 2.1 s at 1200
// baud, so 3 s from the opening parenthesis is ample for any real reply.
const ULONGLONG kMaxReplyMs = 3000;

// Each position may match either ID on its own.
int IdCharacterAccepted(int position, char c) {
  return c == kFirstDeviceId[position] || c == kSecondDeviceId[position];
}

}  // namespace

int ReadPnpReply(void) {
  Diagnostic("Waiting for PNP Reply\n");

  if (ReadChar() != '(') return 0;
  ULONGLONG opened = GetTickCount64();
  // The revision field is not checked; a ')' here does not end the reply.
  ReadChar();
  ReadChar();
  int bytesRead = 3;

  for (int position = 0; bytesRead < kMaxReplyBytes; ++position) {
    if (GetTickCount64() - opened >= kMaxReplyMs) return 0;
    char c = ReadChar();
    ++bytesRead;
    if (c == ')') return 1;
    // Past the compared characters a 0x00 is a silent line, not an ID
    // character: waiting on would never end.
    if (position >= kComparedIdLength && c == 0x00) return 0;
    EchoByte(c);
    if (position < kComparedIdLength && !IdCharacterAccepted(position, c)) return 0;
  }
  return 0;
}
