// The board's screen and keyboard on a character terminal: what the session's
// screen model shows is drawn by changed cells, and the bytes typed there reach
// the board through the same key translation as the window's keys. The view
// works on a pair of descriptors: the invoking terminal (--terminal) or the
// master side of a pseudo-terminal (--pty). Ctrl-] starts a command.
#pragma once

#include <QSocketNotifier>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "display/terminal_writer.h"
#include "keyboard/key_pacer.h"
#include "keyboard/terminal_keys.h"
#include "frontends/cast_player.h"
#include "frontends/terminal_session.h"
#include "session/session.h"

namespace app {

// Bytes for a descriptor that must never block the service loop: what cannot be
// written now waits, and a peer that reads nothing for too long loses the
// backlog (the view then draws everything afresh).
class TTerminalOutput {
 public:
  static constexpr size_t kMaxBacklog = 1 << 20;

  explicit TTerminalOutput(int fd);
  // Queues and writes what the descriptor takes now; false when the backlog was
  // dropped (or the descriptor failed) and the terminal's contents are unknown.
  bool Write(const std::string& bytes);
  // Writes what is queued without waiting; as Write.
  bool Flush();
  // Writes what is queued, waiting up to `timeoutMs` (at exit).
  void Drain(int timeoutMs);
  void Discard() { Backlog.clear(); }
  bool Pending() const { return !Backlog.empty(); }
  bool Failed() const { return Broken; }

 private:
  int Fd;
  std::string Backlog;
  bool Broken = false;
  std::unique_ptr<QSocketNotifier> Notifier;
};

class TTerminalView : public ISessionView {
 public:
  struct TConfig {
    int InFd = 0;
    int OutFd = 1;
    display::TTerminalStyle Style;
    // The invoking terminal: the alternate screen, restored at exit. A pty peer
    // gets the screen drawn afresh instead.
    bool AlternateScreen = true;
  };

  // The console's own session (--terminal, --pty).
  TTerminalView(TSession& session, const TConfig& config);
  // Any seat (--attach: a console behind its control socket).
  TTerminalView(ITerminalSession& session, const TConfig& config);
  ~TTerminalView() override;
  TTerminalView(const TTerminalView&) = delete;
  TTerminalView& operator=(const TTerminalView&) = delete;

  // Switches the terminal over and draws the whole screen.
  void Start();
  // Puts the terminal back as it was (alternate screen left, cursor shown).
  void Stop();
  // Stops drawing without writing anything (the peer went away).
  void Pause();
  // The next bytes typed make everything be drawn again (a peer that just came
  // may have set its terminal up after the first drawing).
  void RedrawOnNextInput() { RedrawOnInput = true; }
  void SetSize(display::TTerminalSize size);
  // What the terminal shows is unknown (a new peer): everything is drawn again now.
  void Redraw();
  // Input stops being read (a peer that went away) or starts again.
  void SetReading(bool on);

  // Ctrl-] q (with --attach: the console goes on).
  std::function<void()> OnQuit;
  // End of input, or the input descriptor failed (EOF, EIO).
  std::function<void()> OnInputEnded;
  // Extra status words (e.g. "pty /dev/pts/4").
  std::function<std::string()> StatusExtra;

  // A line for the user (a lost port, a trace that cannot be written): on the
  // status line for a while.
  void ShowNotice(const std::string& text);

  // The text of the status line as drawn now.
  std::string StatusLine() const;
  // For tests: feeds bytes as if typed at `nowMs`.
  void Typed(const uint8_t* data, size_t size, uint64_t nowMs);

  // ISessionView
  void Refresh(bool screenDirty) override;
  void StatusChanged(const std::string& text) override;
  void ConnectionChanged(bool connected) override;
  void Failure(const std::string& text, const std::string& detail) override;
  void KeysRead() override;
  void WriterChanged() override;

 private:
  void Init();
  void ReadInput();
  // Hands waiting keys on while the session has room for them.
  void FeedKeys();
  const char* StartHint() const;
  void Handle(const keyboard::TTerminalInput& input);
  // Keys, and the commands that act on the board, wait their turn in Pacer.
  void Paced(keyboard::TTerminalInput input);
  void Apply(const keyboard::TTerminalInput& input);
  void Command(char command);
  void ArmEscapeTimer();
  void Draw();
  void Show(const std::string& bytes);
  void Note(const std::string& text, int ticks);
  // The columns of the status line: the terminal's.
  size_t StatusWidth() const;
  // The link statistics in pages that each fit the status line.
  std::vector<std::string> StatsPages() const;
  // Ctrl-] f: the path of another floppy image is typed on the status line.
  // Returns how many of the bytes the prompt took (up to its Enter or Esc).
  size_t PromptInput(const uint8_t* data, size_t size);
  // Ctrl-] h: the console's last ten minutes played, then live again.
  void AskHistory();
  void StartReplay(const std::string& cast, const std::string& error);
  void PlayOn();
  void EndReplay();

  // The console's own session when the view was made for it.
  std::unique_ptr<TLocalTerminalSession> Local;
  ITerminalSession& Session;
  TConfig Config;
  display::TTerminalWriter Writer;
  keyboard::TTerminalKeyDecoder Decoder;
  keyboard::TKeyPacer Pacer;
  TTerminalOutput Output;
  std::unique_ptr<QSocketNotifier> Input;
  QTimer EscapeTimer;
  std::string LastWord;
  int WordTicks = 0;   // ticks LastWord still stands
  int StartTicks = 0;  // ticks the command key's hint still leads the line
  std::string NoteText;  // a help or command line, shown on the status line for a while
  int NoteTicks = 0;
  bool Prompting = false;
  std::string PromptText;
  bool StatsNote = false;  // the note is the link statistics (Ctrl-] i)
  size_t StatsPage = 0;
  bool Started = false;
  // A replay of the history in progress (nothing live is drawn meanwhile).
  std::unique_ptr<TCastPlayer> Player;
  uint64_t PlayStartMs = 0;
  bool HistoryAsked = false;
  // Answers that come after the view is gone find this expired.
  std::shared_ptr<int> Alive = std::make_shared<int>(0);
  bool RedrawOnInput = false;
};

// Monotonic milliseconds, the decoder's clock.
uint64_t NowMs();

}  // namespace app
