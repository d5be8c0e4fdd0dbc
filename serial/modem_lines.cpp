#include "serial/port.h"

// A port without modem lines (a pseudo-terminal) refuses these; the dialogue
// goes on regardless, so the result is not looked at.

void SetRts(int on)
{
    EscapeCommFunction(PortHandle, on ? SETRTS : CLRRTS);
}

void SetDtr(int on)
{
    EscapeCommFunction(PortHandle, on ? SETDTR : CLRDTR);
}
