// A scripted stand-in for the platform's serial calls, put in by linking in
// place of the real layer. It records every call in order, feeds ReadFile from
// a script of bytes, time-outs and failures, fails chosen calls with chosen
// error codes, counts open handles, and records Sleep instead of sleeping.
//
// Every call appends one line to calls(), e.g. "CreateFileA(\\.\COM1)",
// "EscapeCommFunction(SETRTS)", "Sleep(200)", "ReadFile(1)", "WriteFile(15)",
// "PurgeComm(0x0F)", so that a test can check the order of what was done.
//
// Time: GetTickCount64 reads a scripted clock that only Sleep and the read
// script move. Interruptions: a chosen call can raise a signal while it runs,
// as if the signal came during its wait; the stand-in of the layer's
// CancelWaits (called by the tool's handler) then makes that wait and every
// later one end at once, as the real layer does: ReadFile and WriteFile fail
// with ERROR_OPERATION_ABORTED (995), Sleep returns without moving the clock.
#ifndef CORVANE_TESTS_FAKE_FAKE_PLATFORM_H
#define CORVANE_TESTS_FAKE_FAKE_PLATFORM_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/serial_api.h"

namespace fake {

// One step of what the line gives ReadFile.
struct ReadStep {
  enum Kind { kByte, kTimeout, kFailure } kind;
  std::uint8_t byte;
  DWORD error;
  DWORD ms = 0;  // how far the step moves the clock before it happens
};

ReadStep Byte(std::uint8_t b);
// A byte that comes `ms` after the read began.
ReadStep LateByte(std::uint8_t b, DWORD ms);
// A read that times out, after `ms`.
ReadStep Timeout(DWORD ms = 0);
ReadStep ReadFailure(DWORD error);

// The code a wait cut short by an interruption leaves behind.
const DWORD kOperationAborted = 995;

struct Platform {
  // What the port reports to GetCommState before anything was set.
  DCB reported{};
  // The read script; once it runs out the line is silent (time-outs).
  std::vector<ReadStep> reads;
  std::size_t nextRead = 0;
  // Calls by name that fail, with the error code they leave behind.
  std::map<std::string, DWORD> failures;
  // How many calls of a failing name still succeed before it fails.
  std::map<std::string, int> failuresAfter;
  // When set, WriteFile reports at most this many bytes written.
  int writeLimit = -1;
  // What GetTickCount64 returns; Sleep and the read script move it.
  ULONGLONG tickMs = 0;
  // The call during which `signalNumber` is raised, as its line in calls
  // reads (e.g. "Sleep(500)"); the first `signalSkips` such calls pass.
  std::string signalDuring;
  int signalSkips = 0;
  int signalNumber = 0;
  // Set by CancelWaits.
  volatile int waitsCancelled = 0;

  // What the code under test did.
  std::vector<std::string> calls;
  std::vector<DCB> statesSet;
  std::vector<COMMTIMEOUTS> timeoutsSet;
  std::vector<std::uint8_t> written;
  std::vector<std::string> openedPaths;
  DWORD createAccess = 0;
  DWORD createShare = 0xFFFFFFFFu;
  DWORD createDisposition = 0;
  DWORD createFlags = 0;
  DWORD inQueue = 0;
  DWORD outQueue = 0;
  int openHandles = 0;
  DWORD lastError = 0;

  // Called when a ReadFile on the open port is about to take from the
  // script, with the count asked for: a caller that plays the far end adds
  // what has arrived by then (and moves its own clock to when it arrived).
  std::function<void(DWORD bytesToRead)> beforeRead;

  // Called after every ReadFile that succeeded, with the count it delivered:
  // a caller that keeps its own clock lets a read that got nothing take the
  // time-out it was given. Unset, reads take no time.
  std::function<void(DWORD bytesRead)> afterRead;
};

// Resets the fake to a fresh port with a distinctive reported state.
void Reset();
Platform& State();

// Adds the bytes of text to the read script.
void QueueText(const std::string& text);

// Calls recorded so far whose line starts with prefix, in order.
std::vector<std::string> CallsStartingWith(const std::string& prefix);

}  // namespace fake

#endif
