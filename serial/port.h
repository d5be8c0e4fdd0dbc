// The one serial port the tool has open, and everything done with it.
//
//   OpenPort(n)      opens COMn: 4096-byte queues, 1200 baud 8N1, no flow
//                    control, DTR and RTS under program control, the read and
//                    write time-outs, both directions purged. 1 on success;
//                    0 with the port closed again (a refused step prints
//                    "CreateFile for %s failed %d\n", "SetupComm failed
//                    %d\n", "GetCommState failed %d\n", "SetCommState failed
//                    %d\n" or "SetCommTimeouts failed %d\n").
//   SetFastLine()    the open line to 115200 baud with RTS control enabled,
//                    every other setting as reported at open. 1 on success;
//                    0 with the port dropped.
//   ReadChar()       one byte, waiting at most 1.5 s; 0x00 when nothing came
//                    in time or the read failed ("ReadChar failed\n"), and
//                    at once, without reading, once the run is interrupted.
//   WritePort(b, n)  writes the block; the count the platform reports written,
//                    0 on failure ("Write Failed: %d\n"), and 0 without
//                    writing once the run is interrupted.
//   SetRts(on), SetDtr(on)  raise or drop a modem line; no result.
//   ClosePort()      purges and closes the port if one is open; else nothing.
//   DropPort()       closes the open port without a purge (failure paths).
//
// Every operation works on the process-wide PortHandle; failures print their
// diagnostic and return 0, nothing here ends the process.
#ifndef CORVANE_SERIAL_PORT_H
#define CORVANE_SERIAL_PORT_H

#include "platform/serial_api.h"

// Both directions, pending operations and queued bytes alike (0x0F).
const DWORD kPurgeBothDirections = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// INVALID_HANDLE_VALUE whenever no port is open.
extern HANDLE PortHandle;

// The line settings read back from the port at open and edited since; the
// switch to the fast rate applies the same record again.
extern DCB LineSettings;

int OpenPort(int portNumber);
int SetFastLine(void);
char ReadChar(void);
int WritePort(const char* bytes, int count);
void SetRts(int on);
void SetDtr(int on);
void ClosePort(void);
void DropPort(void);

#endif
