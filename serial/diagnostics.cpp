#include "serial/diagnostics.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "serial/interruption.h"

int ShowDiagnostics = 1;
int EchoVisibleOnly = 0;
int OutputError = 0;

namespace {

int lineOpen = 0;

// Right after the print, while errno still belongs to the write that failed.
void NoteOutputFailure(void) {
  if (OutputError == 0 && std::ferror(stdout)) OutputError = errno != 0 ? errno : EIO;
}

void Print(const char* format, va_list args) {
  errno = 0;
  std::vfprintf(stdout, format, args);
  NoteOutputFailure();
  std::size_t length = std::strlen(format);
  lineOpen = length > 0 && format[length - 1] != '\n';
}

int Visible(unsigned char byte) { return byte >= 0x20 && byte <= 0x7E; }

}  // namespace

void Message(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Print(format, args);
  va_end(args);
}

void Diagnostic(const char* format, ...) {
  if (!ShowDiagnostics || RunInterrupted()) return;
  va_list args;
  va_start(args, format);
  Print(format, args);
  va_end(args);
}

void EchoByte(char c) {
  if (!ShowDiagnostics || RunInterrupted()) return;
  unsigned char byte = (unsigned char)c;
  errno = 0;
  if (EchoVisibleOnly && !Visible(byte))
    std::fprintf(stdout, "\\x%02x", byte);
  else
    std::fputc(byte, stdout);
  NoteOutputFailure();
  lineOpen = EchoVisibleOnly || byte != '\n';
}

int OutputLineOpen(void) { return lineOpen; }
