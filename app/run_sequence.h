// The tool's run: one word from the command line, "on" or "off", then contact
// the adapter on COM1, hand the port over, write the three module settings
// through prodtest and ask for a power cycle. The only place that prints the
// user's messages and the only caller of prodtest.
//
// RunHandshake returns the process's exit status:
//   0  the settings were written
//   1  the adapter was not found, the module link did not open, or a setting
//      write failed
//   2  the command word was missing or not "on" / "off"
#ifndef CORVANE_APP_RUN_SEQUENCE_H
#define CORVANE_APP_RUN_SEQUENCE_H

enum HandshakeModeValue { HandshakeOff = 0, HandshakeOn = 1 };

extern HandshakeModeValue HandshakeMode;

const int ExitSettingsWritten = 0;
const int ExitRunFailed = 1;
const int ExitUsage = 2;

int RunHandshake(int argc, char** argv);

#endif
