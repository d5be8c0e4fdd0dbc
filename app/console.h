// Standard output as the tool uses it: on a console every print shows at once,
// down to a single echoed character, so a technician sees each byte the moment
// it is read; toward a file or a pipe it stays buffered.
#ifndef CORVANE_APP_CONSOLE_H
#define CORVANE_APP_CONSOLE_H

void MakeConsoleOutputImmediate(void);

#endif
