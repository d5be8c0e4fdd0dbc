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
//   InterruptionStatus()  the run was interrupted (app/interrupt.h: 128 + the
//      signal number on POSIX, 0xC000013A on Windows); its last line is
//      "Interrupted: no module setting was written\n" before the module link
//      opened, "Interrupted: the module may hold only part of the settings;
//      repeat the run\n" after. The port and prodtest's connection are closed
//      as on any failure. Once the third setting is written the run is
//      complete and ends as such.
// and FinishOutput (app/console.h) turns a 0 into
//   3  standard output could not be written
#ifndef CORVANE_APP_RUN_SEQUENCE_H
#define CORVANE_APP_RUN_SEQUENCE_H

enum HandshakeModeValue { HandshakeOff = 0, HandshakeOn = 1 };

extern HandshakeModeValue HandshakeMode;

const int ExitSettingsWritten = 0;
const int ExitRunFailed = 1;
const int ExitUsage = 2;
const int ExitOutputFailed = 3;

int RunHandshake(int argc, char** argv);

#endif
