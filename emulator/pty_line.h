// The pseudo-terminal that stands in for the serial line. The master stays
// open for the whole run (the slave's path vanishes with it) and is put in
// raw mode before anything is written, so a slave that opens finds nothing
// echoed or translated. Opens and closes of the slave come from inotify on
// its path; the master's hang-up signal misses a close followed at once by a
// reopen. Packet mode with EXTPROC makes every settings change on the slave
// wake the master with a status byte, which is only a hint: the settings
// themselves are read with tcgetattr.
#ifndef CORVANE_EMULATOR_PTY_LINE_H
#define CORVANE_EMULATOR_PTY_LINE_H

#include <string>
#include <vector>

#include "emulator/byte_text.h"

namespace emulator {

enum class PortEvent { kOpened, kClosed };

struct MasterRead {
  Bytes data;                  // bytes the host wrote
  bool settings_hint = false;  // a status byte came: re-read the settings
  bool hung_up = false;        // nobody holds the slave
  bool failed = false;
};

class PtyLine {
 public:
  PtyLine() = default;
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;
  ~PtyLine();

  // hold_slave: open and lock the slave ourselves, before the watch starts,
  // so that every other open of the port fails.
  bool Create(unsigned initial_baud, bool hold_slave, std::string* error);

  // Called before Create when the line may vanish: a slave descriptor of our
  // own, opened before the watch starts, then keeps the pseudo-terminal's
  // number taken after the master closes, so that no other pseudo-terminal
  // appears under the vanished port's path while the host still uses it.
  void PrepareToVanish() { keep_number_ = true; }
  // Closes the master: the holder's handle is hung up and the path is gone.
  void Vanish();
  bool vanished() const { return master_ < 0 && !slave_path_.empty(); }

  const std::string& slave_path() const { return slave_path_; }
  int master_fd() const { return master_; }
  int watch_fd() const { return watch_; }

  // The slave's output rate in baud; 0 when unknown.
  unsigned ReadBaud() const;
  // Every open and close reported since the last call, in order. Never blocks.
  bool ReadPortEvents(std::vector<PortEvent>* events, std::string* error);
  // What the master holds now. Never blocks.
  MasterRead ReadMaster();
  // As much as the slave's input takes now; -1 on failure.
  long WriteMaster(const std::uint8_t* data, std::size_t size);

 private:
  int master_ = -1;
  int watch_ = -1;
  int held_slave_ = -1;
  bool keep_number_ = false;
  int number_keeper_ = -1;
  std::string slave_path_;
};

}  // namespace emulator

#endif
