#include "serial/diagnostics.h"

#include <cstdarg>
#include <cstdio>

int ShowDiagnostics = 1;

void Diagnostic(const char* format, ...)
{
    if (!ShowDiagnostics)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
}
