#pragma once
// A pseudo-terminal that plays the modem's side of a serial port. The slave end is what a fax
// program opens (through a stable symbolic link); the master end is ours.
#include <string>

namespace kv {

class PseudoTerminal {
 public:
  // Creates the pty, makes the slave raw (no echo, no CR/LF mapping: a fresh slave is cooked
  // and would echo the modem's own replies back into it) and, when linkPath is not empty,
  // points linkPath at the slave, replacing whatever was there. Throws std::system_error.
  explicit PseudoTerminal(const std::string &linkPath = {});
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal &) = delete;
  PseudoTerminal &operator=(const PseudoTerminal &) = delete;

  int masterFd() const { return master_; }
  // Our own descriptor on the slave. Held open so the master never sees a hang-up between two
  // programs using the port, and so settings made here stay until a program changes them.
  int slaveFd() const { return slave_; }
  // The /dev/pts/N node, and the path a program should open (the link, or the node).
  const std::string &slaveName() const { return slaveName_; }
  const std::string &path() const { return linkPath_.empty() ? slaveName_ : linkPath_; }

  // True while the program on the slave has asked for B0 (its way of dropping DTR).
  bool dtrDropped() const;

  // Closes the master: the program on the slave then reads EOF or EIO, as from a modem that
  // was unplugged. The link is removed too.
  void close();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slaveName_;
  std::string linkPath_;
};

}  // namespace kv
