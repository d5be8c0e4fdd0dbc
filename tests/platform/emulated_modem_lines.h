// Modem lines for the pty slaves of this process, from the emulator's
// modem-line library (emulator/preload/), and the library's reports of each
// change.
//
// The executable that links emulated_modem_lines.cpp defines its own ioctl,
// which hands every call to the library's (loaded with dlopen): the layer's
// modem-control requests on a pseudo-terminal then meet emulated RTS and DTR
// lines, exactly as under the LD_PRELOAD that corvane-emulator uses, without
// the program's environment or a sanitizer's library order to arrange.
#ifndef CORVANE_TESTS_PLATFORM_EMULATED_MODEM_LINES_H
#define CORVANE_TESTS_PLATFORM_EMULATED_MODEM_LINES_H

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

// The levels of the two lines the layer drives.
struct LineLevels {
  bool rts;
  bool dtr;
  bool operator==(const LineLevels& other) const { return rts == other.rts && dtr == other.dtr; }
};

std::string to_string(const LineLevels& levels);
// For test messages.
void PrintTo(const LineLevels& levels, std::ostream* os);

// A channel on which the library reports every modem-line request it
// answers, named in the process's environment while it lives.
class LineReports {
 public:
  LineReports();
  ~LineReports();
  LineReports(const LineReports&) = delete;
  LineReports& operator=(const LineReports&) = delete;

  bool ok() const { return socket_ >= 0; }
  // The levels after each request on the slave `device` (its st_rdev)
  // reported since the last call, in the order of the requests.
  std::vector<LineLevels> take(std::uint64_t device);

 private:
  int socket_ = -1;
};

#endif
