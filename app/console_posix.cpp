#include <cstdio>

#include <unistd.h>

#include "app/console.h"

void MakeConsoleOutputImmediate(void)
{
    if (isatty(STDOUT_FILENO))
        std::setvbuf(stdout, NULL, _IONBF, 0);
}
