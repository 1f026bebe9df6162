#include "tools/board_app.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace boardsim {

namespace {

// CP437 double-line box drawing characters.
constexpr uint8_t kBoxTopLeft = 0xC9, kBoxTopRight = 0xBB, kBoxBottomLeft = 0xC8,
                  kBoxBottomRight = 0xBC, kBoxHorizontal = 0xCD, kBoxVertical = 0xBA;

constexpr uint8_t kAttrDesktop = 0x17;   // grey on blue
constexpr uint8_t kAttrTitle = 0x70;     // black on grey
constexpr uint8_t kAttrBoardBox = 0x1E;  // yellow on blue
constexpr uint8_t kAttrKeysBox = 0x2F;   // white on green
constexpr uint8_t kAttrDiskBox = 0x3F;   // white on cyan
constexpr uint8_t kAttrEcho = 0x07;      // grey on black

constexpr int kEchoTop = 21, kEchoBottom = 24;
constexpr int kDiskTop = 9, kDiskBottom = 19;

constexpr uint16_t kDelKey = 0x5300;
constexpr uint8_t kShiftCtrl = 0x04, kShiftAlt = 0x08;

std::string Format(const char* fmt, auto... args) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, fmt, args...);
  return buffer;
}

}  // namespace

TBoardApp::TBoardApp(TBoardLink& link, IClock& clock, std::ostream& results, std::ostream& log,
                     const TAppConfig& config)
    : Link(&link), Clock(&clock), Results(&results), Log(&log), Cfg(config),
      BiosCalls(link, PageModel) {}

bool TBoardApp::TimedOut(TClockTime start) const {
  return Cfg.Timeout && Clock->Now() - start >= *Cfg.Timeout;
}

bool TBoardApp::Boot() {
  const TClockTime start = Clock->Now();
  ++BootCount;
  for (;;) {
    const TRegs probe{0x4E56, static_cast<uint16_t>(BootCount), 0, 0x0101};
    if (const auto options = BiosCalls.Handshake(probe)) {
      if (*options & ~uint16_t{kOptionKeyboard | kOptionVideo | kOptionFloppy})
        *Log << "board: unexpected option bits " << *options << "\n";
      *Log << "board: boot " << BootCount << ", console serves"
           << ((*options & kOptionKeyboard) ? " keyboard" : "")
           << ((*options & kOptionVideo) ? " video" : "")
           << ((*options & kOptionFloppy) ? " floppy" : "") << "\n";
      NoiseBurstOnce();
      return true;
    }
    if (TimedOut(start)) return false;
    Clock->SleepFor(Cfg.HandshakeRetry);
  }
}

void TBoardApp::NoiseBurstOnce() {
  if (NoiseDone || !Link->Faults().Config().NoiseBurst) return;
  NoiseDone = true;
  *Log << "board: sending " << TFaultInjector::kNoiseBurstBytes << " bytes of noise\n";
  Link->SendNoise(Link->Faults().Noise(TFaultInjector::kNoiseBurstBytes));
  // Let the host's watchdog drop whatever the noise started, then start over.
  Link->Silence(Link->Config().StallTime);
  Link->DrainUntilQuiet(std::chrono::milliseconds(200), std::chrono::milliseconds(5000));
  const TRegs probe{0x4E56, static_cast<uint16_t>(BootCount), 0, 0x0101};
  while (!BiosCalls.Handshake(probe)) Clock->SleepFor(Cfg.HandshakeRetry);
}

int TBoardApp::RunDemo() {
  try {
    for (;;) {
      try {
        if (!Boot()) {
          *Log << "board: no answer from the console\n";
          return 1;
        }
        DrawDesktop();
        ListDirectory();
        EchoLoop();
      } catch (const TBoardReboot& reboot) {
        *Log << "board: " << reboot.what() << "\n";
      }
    }
  } catch (const TLinkClosed&) {
    *Log << "board: the console went away\n";
    return 0;
  }
}

void TBoardApp::DrawBox(int left, int top, int right, int bottom, uint8_t attr,
                        const char* title) {
  const auto width = static_cast<uint16_t>(right - left - 1);
  BiosCalls.ScrollUp(left, top, right, bottom, 0, attr);  // blank the inside in the box colour
  BiosCalls.SetCursor(left, top);
  BiosCalls.WriteCharAttr(kBoxTopLeft, attr, 1);
  BiosCalls.WriteCharAttr(kBoxHorizontal, attr, width);
  BiosCalls.WriteCharAttr(kBoxTopRight, attr, 1);
  for (int r = top + 1; r < bottom; ++r) {
    BiosCalls.SetCursor(left, r);
    BiosCalls.WriteCharAttr(kBoxVertical, attr, 1);
    BiosCalls.SetCursor(right, r);
    BiosCalls.WriteCharAttr(kBoxVertical, attr, 1);
  }
  BiosCalls.SetCursor(left, bottom);
  BiosCalls.WriteCharAttr(kBoxBottomLeft, attr, 1);
  BiosCalls.WriteCharAttr(kBoxHorizontal, attr, width);
  BiosCalls.WriteCharAttr(kBoxBottomRight, attr, 1);
  // Teletype output keeps the cell colours, so the title takes the box's.
  BiosCalls.SetCursor(left + 2, top);
  BiosCalls.TeletypeText(std::string(" ") + title + " ");
}

void TBoardApp::DrawDesktop() {
  BiosCalls.ScrollUp(0, 0, 79, kEchoTop - 1, 0, kAttrDesktop);
  BiosCalls.SetCursor(0, 0);
  BiosCalls.WriteCharAttr(' ', kAttrTitle, 80);
  BiosCalls.SetCursor(2, 0);
  BiosCalls.TeletypeText("Nerova board simulator - target application");

  DrawBox(1, 2, 38, 7, kAttrBoardBox, "Board");
  const uint16_t o = BiosCalls.Options();
  const std::string lines[] = {
      Format("Boot number %u", BootCount),
      Format("Keyboard: %s", (o & kOptionKeyboard) ? "remote" : "local"),
      Format("Video:    %s", (o & kOptionVideo) ? "remote" : "local"),
      Format("Floppy:   %s", (o & kOptionFloppy) ? "remote" : "none"),
  };
  for (int i = 0; i < 4; ++i) {
    BiosCalls.SetCursor(3, 3 + i);
    BiosCalls.TeletypeText(lines[i]);
  }

  DrawBox(41, 2, 78, 7, kAttrKeysBox, "Keys");
  const char* help[] = {"Type: keys are echoed below.", "Special keys show their code,",
                        "e.g. Left arrow [4B00].", "Ctrl+Alt+Del reboots the board."};
  for (int i = 0; i < 4; ++i) {
    BiosCalls.SetCursor(43, 3 + i);
    BiosCalls.TeletypeText(help[i]);
  }

  DrawBox(1, kDiskTop, 78, kDiskBottom, kAttrDiskBox, "Drive A:");
  BiosCalls.ScrollUp(0, kEchoTop, 79, kEchoBottom, 0, kAttrEcho);
  BiosCalls.SetCursor(0, kEchoTop);
  BiosCalls.TeletypeText("> ");
}

bool TBoardApp::ReadLba(const TBootParams& p, uint32_t lba, uint32_t count,
                        std::vector<uint8_t>& out) {
  out.assign(size_t{count} * 512, 0);
  uint32_t done = 0;
  while (done < count) {
    const TChs chs = LbaToChs(lba + done, p.SectorsPerTrack, p.Heads);
    const uint32_t n = std::min<uint32_t>(count - done, p.SectorsPerTrack - (chs.Sector - 1));
    const TDiskResult r =
        BiosCalls.ReadSectors(chs.Cylinder, chs.Head, chs.Sector, static_cast<uint8_t>(n),
                              std::span<uint8_t>(out).subspan(size_t{done} * 512));
    if (!r.Ok()) return false;
    done += n;
  }
  return true;
}

void TBoardApp::ListDirectory() {
  const int left = 3;
  int row = kDiskTop + 1;
  auto line = [&](const std::string& text) {
    if (row >= kDiskBottom) return;
    BiosCalls.SetCursor(left, row++);
    BiosCalls.TeletypeText(text);
  };
  if (!(BiosCalls.Options() & kOptionFloppy)) {
    line("No diskette: the console serves no floppy.");
    BiosCalls.SetCursor(2, kEchoTop);
    return;
  }
  std::vector<uint8_t> boot(512);
  const TDiskResult r = BiosCalls.ReadSectors(0, 0, 1, 1, boot);
  const auto params = r.Ok() ? ParseBootSector(boot) : std::nullopt;
  std::vector<uint8_t> fat, root;
  if (!params) {
    line(r.Ok() ? "Not a FAT12 diskette." : Format("Disk error %02X.", r.Status));
  } else if (!ReadLba(*params, params->ReservedSectors, params->SectorsPerFat, fat) ||
             !ReadLba(*params, params->RootDirSector(), params->RootDirSectors(), root)) {
    line("Disk error while reading the FAT or the directory.");
  } else {
    const auto label = VolumeLabel(root);
    line(Format("Volume %s, %u sectors, %u heads, %u sectors per track",
                label ? label->c_str() : "(no label)", params->TotalSectors, params->Heads,
                params->SectorsPerTrack));
    const auto entries = ParseDirectory(root);
    const size_t room = static_cast<size_t>(kDiskBottom - row - 1);
    for (size_t i = 0; i < entries.size() && i < room; ++i) {
      const auto& e = entries[i];
      if (i + 1 == room && entries.size() > room) {
        line(Format("... and %zu more", entries.size() - i));
        break;
      }
      line(e.IsDirectory() ? Format("%-12s     <DIR>", e.Name.c_str())
                           : Format("%-12s %10u", e.Name.c_str(), e.Size));
    }
    const uint32_t freeBytes = CountFreeClusters(fat, params->ClusterCount()) *
                               params->SectorsPerCluster * 512u;
    row = kDiskBottom - 1;
    line(Format("%zu entries, %u bytes free", entries.size(), freeBytes));
  }
  BiosCalls.SetCursor(2, kEchoTop);
}

void TBoardApp::EchoNewLine() {
  if (PageModel.CursorRow() >= kEchoBottom) {
    BiosCalls.ScrollUp(0, kEchoTop, 79, kEchoBottom, 1, kAttrEcho);
    BiosCalls.SetCursor(0, kEchoBottom);
  } else {
    BiosCalls.TeletypeText("\r\n");
  }
}

void TBoardApp::EchoKey(uint16_t code) {
  const uint8_t ch = wire::Lo(code);
  if (ch == 0x0D) {
    EchoNewLine();
    return;
  }
  if (ch == 0x08) {
    if (PageModel.CursorCol() > 0) BiosCalls.TeletypeText("\b \b");
    return;
  }
  const std::string text = (ch == 0 || ch == 0xE0) ? Format("[%04X]", code)
                                                   : std::string(1, static_cast<char>(ch));
  for (char c : text) {
    if (PageModel.CursorCol() >= 79) EchoNewLine();
    BiosCalls.Teletype(static_cast<uint8_t>(c));
  }
}

void TBoardApp::EchoLoop() {
  for (;;) {
    uint16_t code = 0;
    switch (BiosCalls.CheckKey(code)) {
      case TKeyState::None:
      case TKeyState::Failed:
        Clock->SleepFor(Cfg.KeyPoll);
        continue;
      case TKeyState::Refresh:
        BiosCalls.Upload();
        continue;
      case TKeyState::Key:
        break;
    }
    const auto key = BiosCalls.ReadKey();
    if (!key) continue;
    if (*key == kDelKey) {
      const auto shift = BiosCalls.ShiftFlags();
      if (shift && (*shift & (kShiftCtrl | kShiftAlt)) == (kShiftCtrl | kShiftAlt)) {
        EchoNewLine();
        BiosCalls.TeletypeText("Ctrl+Alt+Del: rebooting...");
        throw TBoardReboot("Ctrl+Alt+Del");
      }
    }
    EchoKey(*key);
  }
}

void TBoardApp::PrintLinkStats() {
  const TLinkStats& s = Link->Stats();
  const TFaultStats& f = Link->Faults().Stats();
  *Results << "\"requests\":" << s.RequestsSent << ",\"resends\":" << s.Resends
           << ",\"naks_sent\":" << s.NaksSent << ",\"naks_received\":" << s.NaksReceived
           << ",\"timeouts\":" << s.Timeouts << ",\"failed_calls\":" << BiosCalls.FailedCalls()
           << ",\"boots\":" << BootCount << ",\"bits_flipped\":" << f.BitsFlipped
           << ",\"bytes_dropped\":" << f.BytesDropped << ",\"naks_injected\":" << f.NaksInjected
           << ",\"stalls\":" << f.Stalls << ",\"reboots\":" << f.Reboots
           << ",\"noise_bytes\":" << f.NoiseBytes << ",\"replugs\":" << s.Replugs
           << ",\"replug_reopen_ms\":" << s.ReplugReopenMs;
}

}  // namespace boardsim
