#include "frontends/terminal_view.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <string_view>
#include <vector>

#include "keyboard/keyboard.h"
#include "session/floppy_status.h"
#include "session/link_stats.h"

namespace app {

namespace {

constexpr int kNoteTicks = 50;       // a help line stands 5 s
constexpr int kStatsPageTicks = 30;  // each page of the statistics 3 s
constexpr int kWordTicks = 5;        // "Ping!", "Timeout!"... 500 ms
constexpr int kStartTicks = 50;      // the command key's hint after the start 5 s
constexpr const char* kStartHint = "Ctrl-] q quit, Ctrl-] ? help";
constexpr const char* kSharedStartHint = "Ctrl-] w take keyboard, q detach, ? help";
constexpr const char* kHelp = "Ctrl-] q quit  r refresh  d Ctrl+Alt+Del  f floppy  ] Ctrl-]  l redraw  i stats";
// A seat that shares the console: q leaves it running.
constexpr const char* kSharedHelp =
    "Ctrl-] q detach  w take keyboard  v give back  r refresh  d Ctrl+Alt+Del  f floppy  h last 10 min  ] Ctrl-]  l "
    "redraw  i stats";
// Ctrl-] h asks for this much of the screen's history.
constexpr int kHistorySeconds = 600;
constexpr const char* kPrompt = " Floppy image (Enter: change, Esc: cancel): ";
// Commands that act on the board keep their place among the keys typed around
// them; the others (quit, redraw, help, statistics, floppy prompt) act at once.
constexpr std::string_view kPacedCommands = "rRdD";

bool IsCount(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

}  // namespace

uint64_t NowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

TTerminalOutput::TTerminalOutput(int fd) : Fd(fd) {
  Notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
  Notifier->setEnabled(false);
  QObject::connect(Notifier.get(), &QSocketNotifier::activated, [this] { Flush(); });
}

bool TTerminalOutput::Write(const std::string& bytes) {
  if (Broken) return false;
  if (Backlog.size() + bytes.size() > kMaxBacklog) {
    // Nobody has read for a long time: what is queued no longer matters.
    Backlog.clear();
    Notifier->setEnabled(false);
    return false;
  }
  Backlog += bytes;
  return Flush();
}

bool TTerminalOutput::Flush() {
  while (!Backlog.empty() && !Broken) {
    const ssize_t n = ::write(Fd, Backlog.data(), Backlog.size());
    if (n > 0) {
      Backlog.erase(0, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    // EIO (a pty without a peer), EPIPE, a closed terminal: the bytes are lost.
    Backlog.clear();
    if (n < 0 && errno != EIO) Broken = true;
    Notifier->setEnabled(false);
    return false;
  }
  Notifier->setEnabled(!Backlog.empty() && !Broken);
  return !Broken;
}

void TTerminalOutput::Drain(int timeoutMs) {
  const uint64_t deadline = NowMs() + static_cast<uint64_t>(timeoutMs);
  while (!Backlog.empty() && !Broken && NowMs() < deadline) {
    Flush();
    if (Backlog.empty()) break;
    pollfd p{Fd, POLLOUT, 0};
    ::poll(&p, 1, 20);
  }
}

TTerminalView::TTerminalView(TSession& session, const TConfig& config)
    : Local(std::make_unique<TLocalTerminalSession>(session)),
      Session(*Local),
      Config(config),
      Writer(config.Style),
      Output(config.OutFd) {
  Init();
}

TTerminalView::TTerminalView(ITerminalSession& session, const TConfig& config)
    : Session(session), Config(config), Writer(config.Style), Output(config.OutFd) {
  Init();
}

void TTerminalView::Init() {
  Input = std::make_unique<QSocketNotifier>(Config.InFd, QSocketNotifier::Read);
  QObject::connect(Input.get(), &QSocketNotifier::activated, [this] { ReadInput(); });
  EscapeTimer.setSingleShot(true);
  QObject::connect(&EscapeTimer, &QTimer::timeout, [this] {
    for (const auto& input : Decoder.Flush(NowMs())) Handle(input);
    ArmEscapeTimer();
  });
  Pacer.Apply = [this](const keyboard::TTerminalInput& input) { Apply(input); };
  Session.AddView(this);
}

TTerminalView::~TTerminalView() {
  Session.RemoveView(this);
  Stop();
}

void TTerminalView::Start() {
  if (Started) return;
  Started = true;
  StartTicks = kStartTicks;
  if (Config.AlternateScreen) Show(Writer.Begin());
  Writer.Invalidate();
  Draw();
}

void TTerminalView::Stop() {
  if (!Started) return;
  Started = false;
  Output.Discard();
  if (Config.AlternateScreen) {
    Output.Write(Writer.End());
  } else {
    Output.Write("\x1b[0m\x1b[?25h");
  }
  Output.Drain(500);
}

void TTerminalView::Pause() {
  Started = false;
  Output.Discard();
}

void TTerminalView::SetSize(display::TTerminalSize size) {
  Writer.SetSize(size);
  Draw();
}

void TTerminalView::Redraw() {
  Output.Discard();
  Writer.Invalidate();
  Draw();
}

void TTerminalView::SetReading(bool on) { Input->setEnabled(on); }

void TTerminalView::Show(const std::string& bytes) {
  if (bytes.empty()) return;
  // A backlog that had to be dropped leaves the terminal unknown: all again later.
  if (!Output.Write(bytes)) Writer.Invalidate();
}

void TTerminalView::Draw() {
  // While the terminal has not taken the last bytes, the changes wait: the next
  // tick sends them against what it will show then.
  if (!Started || Output.Pending() || Player) return;
  Show(Writer.Update(Session.Screen(), StatusLine(), StartTicks > 0 ? StartHint() : ""));
}

const char* TTerminalView::StartHint() const { return Session.Shared() ? kSharedStartHint : kStartHint; }

size_t TTerminalView::StatusWidth() const {
  return static_cast<size_t>(std::min(Writer.Size().Cols, display::TTerminalWriter::kMaxCols));
}

std::vector<std::string> TTerminalView::StatsPages() const {
  using display::TTerminalWriter;
  const auto items = FormatStatsItems(Session.Counts());
  std::string all;
  for (const auto& item : items) all += (all.empty() ? "" : " | ") + item;
  if (TTerminalWriter::Columns(all) + 1 <= StatusWidth()) return {" " + all};
  // Pages of whole items, each after its number: " (1/2) ".
  constexpr size_t kMarkColumns = 8;
  std::vector<std::string> bodies;
  std::string page;
  for (const auto& item : items) {
    const std::string longer = page.empty() ? item : page + " | " + item;
    if (!page.empty() && TTerminalWriter::Columns(longer) + kMarkColumns > StatusWidth()) {
      bodies.push_back(page);
      page = item;
    } else {
      page = longer;
    }
  }
  bodies.push_back(page);
  std::vector<std::string> pages;
  for (size_t i = 0; i < bodies.size(); ++i) {
    pages.push_back(" (" + std::to_string(i + 1) + "/" + std::to_string(bodies.size()) + ") " + bodies[i]);
  }
  return pages;
}

std::string TTerminalView::StatusLine() const {
  if (Prompting) return kPrompt + PromptText + "_";
  if (NoteTicks > 0 && StatsNote) {
    const auto pages = StatsPages();
    return pages[std::min(StatsPage, pages.size() - 1)];
  }
  if (NoteTicks > 0) return NoteText;
  // The parts in the order shown. A line wider than the terminal loses parts,
  // the least needed first: the help hint, the extra words, the device path,
  // the request count (DropOrder 1 to 4; 0 stays: the floppy's trouble too).
  // For a while after the start the command key's hint leads the line.
  struct TPart {
    std::string Text;
    const char* Separator;
    int DropOrder;
  };
  std::vector<TPart> parts;
  if (StartTicks > 0) parts.push_back({StartHint(), " | ", 0});
  parts.push_back({Session.PortName(), " | ", 0});
  parts.push_back({Session.PortDevice(), " ", 3});
  parts.push_back({!Session.Connected() ? "disconnected" : Session.PortLost() ? "Lost" : "connected", " | ", 0});
  parts.push_back({std::to_string(Session.RxCount()) + " bytes", " | ", 0});
  const std::string stats = FormatStatsWord(Session.Counts());
  if (!stats.empty()) parts.push_back({stats, " | ", 4});
  const std::string floppy = FloppyStatusWord(Session.FloppyStatus());
  if (!floppy.empty()) parts.push_back({floppy, " | ", 0});
  if (!LastWord.empty()) parts.push_back({LastWord, " | ", 0});
  const std::string shift = Session.ShiftWords();
  if (!shift.empty()) parts.push_back({shift, " | ", 0});
  if (!Session.MayType()) parts.push_back({"view", " | ", 0});
  if (StatusExtra) {
    const std::string extra = StatusExtra();
    if (!extra.empty()) parts.push_back({extra, " | ", 2});
  }
  if (StartTicks == 0) parts.push_back({"Ctrl-] ? help", " | ", 1});
  const auto join = [&parts] {
    std::string line;
    for (const auto& p : parts) line += (line.empty() ? " " : p.Separator) + p.Text;
    return line;
  };
  std::string line = join();
  for (int drop = 1; drop <= 4 && display::TTerminalWriter::Columns(line) > StatusWidth(); ++drop) {
    std::erase_if(parts, [drop](const TPart& p) { return p.DropOrder == drop; });
    line = join();
  }
  return line;
}

void TTerminalView::Refresh(bool) {
  FeedKeys();
  if (Player) PlayOn();
  Draw();
  if (NoteTicks > 0 && --NoteTicks == 0 && StatsNote && StatsPage + 1 < StatsPages().size()) {
    ++StatsPage;  // the next page of the statistics
    NoteTicks = kStatsPageTicks;
  }
  if (WordTicks > 0 && --WordTicks == 0) LastWord.clear();
  if (StartTicks > 0) --StartTicks;
}

void TTerminalView::StatusChanged(const std::string& text) {
  // The byte count has its own place on the line, and so has a lost port; a
  // word gives way to the count after 500 ms, as on the window's label.
  if (IsCount(text) || text == "Lost") return;
  LastWord = text;
  WordTicks = kWordTicks;
}

void TTerminalView::ConnectionChanged(bool) {
  // Keys typed for another connection never reach this one.
  Pacer.Clear();
}

void TTerminalView::KeysRead() { FeedKeys(); }

void TTerminalView::FeedKeys() {
  Pacer.Feed([this] { return Session.KeyRoom(); });
}

void TTerminalView::WriterChanged() {
  if (Session.MayType()) {
    Note(Session.Shared() ? "the keyboard is yours" : "the keyboard is back", kNoteTicks);
  } else {
    Pacer.Clear();  // keys typed before the change never follow it
    Note("view: " + Session.ViewReason(), kNoteTicks);
  }
}

void TTerminalView::Failure(const std::string& text, const std::string& detail) {
  Note(text + (detail.empty() ? "" : ": " + detail), kNoteTicks);
}

void TTerminalView::ShowNotice(const std::string& text) { Note(text, kNoteTicks); }

void TTerminalView::Note(const std::string& text, int ticks) {
  NoteText = " " + text;
  NoteTicks = ticks;
  StatsNote = false;
}

void TTerminalView::ReadInput() {
  uint8_t buffer[4096];
  const ssize_t n = ::read(Config.InFd, buffer, sizeof buffer);
  if (n > 0) {
    if (RedrawOnInput) {
      RedrawOnInput = false;
      Redraw();
    }
    Typed(buffer, static_cast<size_t>(n), NowMs());
    return;
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR || errno == EWOULDBLOCK)) return;
  // End of input (a closed terminal, a pty whose peer went away).
  Input->setEnabled(false);
  if (OnInputEnded) OnInputEnded();
}

void TTerminalView::Typed(const uint8_t* data, size_t size, uint64_t nowMs) {
  if (Player && size > 0) {
    EndReplay();  // any key ends a replay; it is not for the board
    return;
  }
  if (size == 0) {
    for (const auto& input : Decoder.Feed(data, 0, nowMs)) Handle(input);
  }
  // A byte at a time: what follows the command that opens the floppy prompt,
  // in the same read, goes to the prompt.
  for (size_t i = 0; i < size;) {
    if (Prompting) {
      // Keys typed into the prompt are not for the board.
      i += PromptInput(data + i, size - i);
      Draw();
      continue;
    }
    for (const auto& input : Decoder.Feed(data + i, 1, nowMs)) Handle(input);
    ++i;
  }
  ArmEscapeTimer();
}

size_t TTerminalView::PromptInput(const uint8_t* data, size_t size) {
  constexpr uint8_t kEsc = 0x1B, kCtrlU = 0x15, kBackspace = 0x08, kDel = 0x7F;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t b = data[i];
    if (b == '\r' || b == '\n') {
      Prompting = false;
      if (!PromptText.empty()) {
        Session.ChangeImage(PromptText);
        Note("floppy image: " + PromptText, 20);
      }
      return i + 1;
    }
    if (b == kEsc) {
      // Esc, or the start of a key's sequence (an arrow...): the prompt ends
      // and the rest of what came with it is dropped.
      Prompting = false;
      return size;
    }
    if (b == kBackspace || b == kDel) {
      // One character back, a UTF-8 one whole.
      while (!PromptText.empty() && (static_cast<uint8_t>(PromptText.back()) & 0xC0) == 0x80) PromptText.pop_back();
      if (!PromptText.empty()) PromptText.pop_back();
    } else if (b == kCtrlU) {
      PromptText.clear();
    } else if (b >= 0x20) {
      PromptText += static_cast<char>(b);
    }
  }
  return size;
}

void TTerminalView::ArmEscapeTimer() {
  const auto deadline = Decoder.Deadline();
  if (!deadline) {
    EscapeTimer.stop();
    return;
  }
  const uint64_t now = NowMs();
  EscapeTimer.start(static_cast<int>(*deadline > now ? *deadline - now : 0));
}

void TTerminalView::Handle(const keyboard::TTerminalInput& input) {
  if (input.Kind == keyboard::TTerminalInput::TKind::Command) {
    if (input.Command == ']') {
      Paced(keyboard::CtrlBracketKey());  // the key itself
    } else if (kPacedCommands.find(input.Command) != std::string_view::npos) {
      Paced(input);
    } else {
      Command(input.Command);
    }
    return;
  }
  Paced(input);
}

void TTerminalView::Paced(keyboard::TTerminalInput input) {
  if (!Session.MayType()) {
    Note("view: " + Session.ViewReason() + "; keys are not sent", kNoteTicks);
    return;
  }
  if (!Pacer.Push(std::move(input))) {
    Session.KeyDropped();
    Note("key dropped: " + std::to_string(Pacer.Waiting()) + " keys wait for the board already", kNoteTicks);
  }
  FeedKeys();
}

void TTerminalView::Apply(const keyboard::TTerminalInput& input) {
  if (input.Kind == keyboard::TTerminalInput::TKind::Command) {
    Command(input.Command);
    return;
  }
  Session.SendKeys(input);
}

void TTerminalView::Command(char command) {
  switch (command) {
    case 'q':
    case 'Q':
      if (OnQuit) OnQuit();
      break;
    case 'w':
    case 'W':
    case 'v':
    case 'V':
      if (!Session.Shared()) {
        Note(kHelp, kNoteTicks);
      } else if (command == 'w' || command == 'W') {
        Session.TakeKeyboard();
      } else {
        Session.ReleaseKeyboard();
      }
      break;
    case 'r':
    case 'R':
      Session.RequestScreen();
      Note("the board is asked for its screen", 10);
      break;
    case 'd':
    case 'D':
      Session.CtrlAltDel();
      Note("Ctrl+Alt+Del sent", 10);
      break;
    case 'l':
    case 'L':
      Redraw();
      break;
    case 'f':
    case 'F':
      Prompting = true;
      PromptText = Session.FloppyStatus().Name;
      break;
    case 'h':
    case 'H':
      AskHistory();
      break;
    case 'i':
    case 'I': {
      // The link statistics on the status line, kept up to date while they
      // stand, in pages as wide as the terminal; `i` again: the next page.
      const size_t pages = StatsPages().size();
      StatsPage = StatsNote && NoteTicks > 0 ? (StatsPage + 1) % pages : 0;
      StatsNote = true;
      NoteTicks = pages > 1 ? kStatsPageTicks : kNoteTicks;
      break;
    }
    default:
      Note(Session.Shared() ? kSharedHelp : kHelp, kNoteTicks);
      break;
  }
}

void TTerminalView::AskHistory() {
  if (Player || HistoryAsked) return;
  const std::weak_ptr<int> alive = Alive;
  HistoryAsked = Session.History(kHistorySeconds, [this, alive](const std::string& cast, const std::string& error) {
    if (!alive.expired()) StartReplay(cast, error);
  });
  Note(HistoryAsked ? "asking the console for its last 10 minutes..."
                    : "no history here: Ctrl-] h is for a terminal attached with --attach",
       kNoteTicks);
}

void TTerminalView::StartReplay(const std::string& cast, const std::string& error) {
  HistoryAsked = false;
  auto player = std::make_unique<TCastPlayer>();
  if (!error.empty() || !player->Load(cast)) {
    Note("history: " + (error.empty() ? std::string("nothing to replay") : error), kNoteTicks);
    return;
  }
  Player = std::move(player);
  PlayStartMs = NowMs();
  // The screen as it was first, with a line saying what this is.
  std::string start = "\x1b[0m\x1b[2J";
  if (Writer.Size().Rows > display::TScreen::kRows) {
    start += "\x1b[" + std::to_string(display::TScreen::kRows + 1) +
             ";1H\x1b[7m the console's last 10 minutes, pauses shortened, 4x; any key: live\x1b[0m\x1b[H";
  }
  Output.Discard();
  Show(start);
  PlayOn();
}

void TTerminalView::PlayOn() {
  // The last picture stays a moment before the live screen comes back.
  constexpr uint64_t kLingerMs = 2000;
  const uint64_t elapsed = NowMs() - PlayStartMs;
  Show(Player->Due(elapsed));
  if (Player->Done() && elapsed >= Player->LengthMs() + kLingerMs) EndReplay();
}

void TTerminalView::EndReplay() {
  Player.reset();
  Redraw();
  Note("live again", kNoteTicks);
}

}  // namespace app
