// A pseudo-terminal the simulator serves: the tools open its slave side as a serial port.
#pragma once

#include <string>

namespace sim {

class Pty {
 public:
  // Creates the pair, puts the slave side in raw mode and keeps it open (so that a
  // tool closing the port does not hang the line up). When link_path is not empty a
  // symbolic link to the slave is made there (removed again by the destructor).
  explicit Pty(const std::string& link_path = "");
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool ok() const { return master_ >= 0; }
  int master_fd() const { return master_; }
  const std::string& slave_path() const { return slave_path_; }
  const std::string& error() const { return error_; }
  // Clears the exclusive-use flag a tool set on the line: we hold the slave open, so
  // the flag would otherwise outlive the tool and keep the next one out. The tools'
  // own lock (flock) still keeps two tools apart.
  void release_exclusive() const;
  // Puts the master in packet mode: every read then starts with a status byte, 0
  // before data, or TIOCPKT_FLUSHREAD / TIOCPKT_FLUSHWRITE bits alone when the tool
  // flushed the line (as it does when it opens the port).
  bool watch_flushes() const;
  // The bit rate the line is set to (a pseudo-terminal keeps what a tool set, though
  // it carries bytes at any rate); -1 when it cannot be read.
  long line_rate() const;

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
  std::string link_path_;
  std::string error_;
};

}  // namespace sim
