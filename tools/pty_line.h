// A line the board offers on a pseudo-terminal of its own: the board keeps the
// master, and a symlink names the slave for whoever plays the host (ser2net, or
// the console itself). The host may close the slave and open it again; a
// "replug" gives the line a new pty pair under the same symlink, as a USB
// adapter that comes back under another ttyUSB number behind its by-id name.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace boardsim {

class TPtyLine {
 public:
  // Creates the pty (slave raw) and points `link` at its slave; nothing (with
  // `error`) when that fails. An existing `link` is replaced only when it is a symlink.
  static std::unique_ptr<TPtyLine> Create(const std::string& link, std::string& error);
  ~TPtyLine();
  TPtyLine(const TPtyLine&) = delete;
  TPtyLine& operator=(const TPtyLine&) = delete;

  int MasterFd() const { return Master; }
  const std::string& SlavePath() const { return Slave; }

  // Closes this pair (the host sees its port vanish), makes a new one and
  // points the link at it. False (with `error`) when the new pair cannot be made.
  bool Replug(std::string& error);
  // Whether a host has the line open now: what the board writes while nobody
  // has is lost, as on a cable with nobody at the other end. A host that went
  // away leaves what it did not read in the line; that is flushed as soon as it
  // is seen gone, and again when the next host is seen, so a host that opens
  // the line after the board ran alone never reads stale retries first.
  bool HostListening();
  // Waits until the host has the slave open; the time it took, or nothing
  // after `limit`.
  std::optional<std::chrono::milliseconds> WaitForHost(std::chrono::milliseconds limit) const;

 private:
  TPtyLine() = default;
  bool MakePair(std::string& error);
  bool PointLink(std::string& error);
  bool HungUp() const;
  // Empties the slave's input: what the board wrote and no host read.
  void FlushTowardHost() const;

  int Master = -1;
  std::string Slave;
  std::string Link;
  bool Listening = false;  // a host had the line open at the last look
};

}  // namespace boardsim
