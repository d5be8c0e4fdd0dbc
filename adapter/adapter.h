// Finding the Corvane adapter on a COM port and bringing it to the point where
// it takes the hand-over command.
//
//   ContactAdapter(n)  opens COMn, pulses the modem lines, reads and checks
//                      the Plug-and-Play ID reply at 1200 baud, switches to
//                      115200 and runs the setup handshake. 1 with the port
//                      left open at 115200 for the caller; 0 with it closed.
//
// Its steps, each on the open port:
//   PulsePnpLines()    RTS off, DTR on, off, on, RTS on: 200 ms apart, 800 ms.
//   ReadPnpReply()     "(", two revision bytes, the ID, ")". 1 when accepted;
//                      0 also when the reply has not closed within 256 bytes
//                      or 3 s from the "(" (the clock is GetTickCount64).
//   PnpHandshake()     "KESTRAVIN SETUP" out, "KESTRAVIN READY" back. 1 when
//                      the reply matched.
// Only ContactAdapter is meant for callers outside the adapter dialogue.
#ifndef CORVANE_ADAPTER_ADAPTER_H
#define CORVANE_ADAPTER_ADAPTER_H

int ContactAdapter(int portNumber);
void PulsePnpLines(void);
int ReadPnpReply(void);
int PnpHandshake(void);

#endif
