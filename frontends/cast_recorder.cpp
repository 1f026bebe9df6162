#include "frontends/cast_recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "frontends/cast_format.h"
#include "session/append_file.h"

namespace app {

TCastRecorder::TCastRecorder(TSession& session, TScreenHistory& history)
    : Session(session), History(history), Writer(display::TTerminalStyle{}) {
  NowMs = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };
  UnixNow = [] {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  // 80x25: the board's screen whole, no status line.
  Writer.SetSize({display::TScreen::kCols, display::TScreen::kRows});
  Session.AddView(this);
}

TCastRecorder::~TCastRecorder() {
  Finish();
  Session.RemoveView(this);
}

std::string TCastRecorder::Title() const {
  return "consolew " + Session.PortName() + " " + Session.PortDevice();
}

bool TCastRecorder::OpenFile(const std::string& path, std::string& error) {
  Fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0644);
  if (Fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  Pending = CastHeader(UnixNow(), Title());
  if (Started) Pending += CastEvent(0, 'o', "");  // times count from here
  WriteOut();  // a full disk stops the recording here already, with its notice
  return true;
}

void TCastRecorder::Emit(char kind, std::string data, bool keyframe) {
  const int64_t now = NowMs();
  if (!Started) {
    Started = true;
    StartMs = now;
  }
  if (Fd >= 0) Pending += CastEvent(static_cast<double>(now - StartMs) / 1000, kind, data);
  History.Add(now, kind, std::move(data), keyframe);
}

void TCastRecorder::Draw(bool force) {
  const display::TScreen& screen = Session.Screen;
  if (!force && screen.Changes == ChangesDrawn) return;
  ChangesDrawn = screen.Changes;
  const bool keyframe = History.WantsKeyframe(NowMs());
  if (keyframe) Writer.Invalidate();
  std::string out = Writer.Update(screen, {});
  if (!out.empty() || keyframe) Emit('o', std::move(out), keyframe);
}

void TCastRecorder::Refresh(bool screenDirty) {
  const bool lost = Session.PortLost();
  if (WasLost && !lost && Session.Connected()) {
    Emit('m', "connect " + Session.PortName() + " " + Session.PortDevice() + " (port back)", false);
  }
  WasLost = lost;
  Draw(screenDirty || !Started);
  WriteOut();
}

void TCastRecorder::ConnectionChanged(bool connected) {
  if (!Started) Draw(true);
  Emit('m', connected ? "connect " + Session.PortName() + " " + Session.PortDevice() : std::string("disconnect"),
       false);
  WasLost = false;
}

void TCastRecorder::WriteOut() {
  if (Fd < 0 || Pending.empty()) return;
  const std::string why = WriteFully(Fd, Pending.data(), Pending.size());
  Pending.clear();
  if (why.empty()) return;
  Error = why;
  ::close(Fd);
  Fd = -1;
  Session.Notice("the recording cannot be written (" + why + "); recording stops");
}

void TCastRecorder::Finish() {
  // Twice: the first may still hold cells right of a cursor that just moved.
  Draw(true);
  Draw(true);
  WriteOut();
  if (Fd >= 0) ::close(Fd);
  Fd = -1;
}

}  // namespace app
