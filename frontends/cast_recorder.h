// The board's screen as a terminal recording: the terminal writer of
// --terminal (80x25, without the status line) turns each tick's changes into
// an output event; the whole screen comes first, and again now and then as a
// keyframe for the in-memory history. Markers tell of each connect and of a
// lost port that came back. Events go to the history and, with --record FILE,
// to an asciicast v2 file, written at every tick that has any (so at least
// once a second). A file that cannot be written any more (disk full) ends the
// recording with one notice; the console goes on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "display/terminal_writer.h"
#include "frontends/screen_history.h"
#include "session/session.h"

namespace app {

class TCastRecorder : public ISessionView {
 public:
  TCastRecorder(TSession& session, TScreenHistory& history);
  ~TCastRecorder() override;
  TCastRecorder(const TCastRecorder&) = delete;
  TCastRecorder& operator=(const TCastRecorder&) = delete;

  // Records to `path` as well (created or truncated, the header written);
  // false with `error` when it cannot.
  bool OpenFile(const std::string& path, std::string& error);
  // Takes in the changes made since the last tick (before the history is read).
  void CatchUp() { Draw(false); }
  // The last changes (cells held back while the board typed) and the file closed.
  void Finish();
  // The title of the recording: the program and the port.
  std::string Title() const;
  // Why the file stopped (empty while all is well).
  const std::string& WriteError() const { return Error; }

  // Clocks: milliseconds of a steady clock and seconds since the epoch (tests set their own).
  std::function<int64_t()> NowMs;
  std::function<int64_t()> UnixNow;

  // ISessionView
  void Refresh(bool screenDirty) override;
  void ConnectionChanged(bool connected) override;

 private:
  void Draw(bool force);
  void Emit(char kind, std::string data, bool keyframe);
  void WriteOut();

  TSession& Session;
  TScreenHistory& History;
  display::TTerminalWriter Writer;
  int64_t StartMs = 0;
  bool Started = false;
  bool WasLost = false;
  uint64_t ChangesDrawn = ~uint64_t{0};
  int Fd = -1;
  std::string Pending;  // file lines not written yet
  std::string Error;
};

}  // namespace app
