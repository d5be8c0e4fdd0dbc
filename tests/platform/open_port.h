// A fixture that holds a pty pair with the slave opened and set up through
// the platform layer the way the tool does it: exclusive open, the reported
// line settings edited to 8N1 without flow control, then written back.
#ifndef CORVANE_TESTS_PLATFORM_OPEN_PORT_H
#define CORVANE_TESTS_PLATFORM_OPEN_PORT_H

#include <gtest/gtest.h>

#include "platform/serial_api.h"
#include "tests/platform/pty_pair.h"

// Opens `path` the way the tool opens its port (read and write, exclusive).
HANDLE open_exclusive(const char* path);

// The tool's time-outs: 1000 ms between bytes, 500 ms per byte plus 1000 ms
// in all, for reads and for writes.
COMMTIMEOUTS tool_timeouts();

class OpenPort : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void use_timeouts(COMMTIMEOUTS timeouts);
  // Waits (up to `timeout_ms`) until bytes the master wrote are in the
  // slave's input queue, and returns how many are there.
  int wait_for_input(int timeout_ms);
  // The DCB the port reports, for a test to edit and apply.
  DCB reported_state();

  PtyPair pty;
  HANDLE port = INVALID_HANDLE_VALUE;
  // A second descriptor of the slave, opened before the layer's, through
  // which the test watches the slave's input queue without reading it.
  int watch = -1;
};

#endif
