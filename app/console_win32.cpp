#include <cstdio>

#include <io.h>

#include "app/console.h"

void MakeConsoleOutputImmediate(void)
{
    if (_isatty(_fileno(stdout)))
        std::setvbuf(stdout, NULL, _IONBF, 0);
}
