#include "keyboard/terminal_keys.h"

#include <limits>

#include "keyboard/keyboard.h"
#include "keyboard/pc_keys.h"

namespace keyboard {

namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kCtrlBracket = 0x1D;
constexpr uint8_t kDel = 0x7F;

// Set-1 scan codes of the keys named here.
constexpr uint8_t kScanEsc = 0x01;
constexpr uint8_t kScanBackspace = 0x0E;
constexpr uint8_t kScanTab = 0x0F;
constexpr uint8_t kScanEnter = 0x1C;
constexpr uint8_t kScanCtrl = 0x1D;
constexpr uint8_t kScanLeftShift = 0x2A;
constexpr uint8_t kScanAlt = 0x38;
constexpr uint8_t kScanHome = 0x47, kScanUp = 0x48, kScanPgUp = 0x49, kScanLeft = 0x4B;
constexpr uint8_t kScanRight = 0x4D, kScanEnd = 0x4F, kScanDown = 0x50, kScanPgDn = 0x51;
constexpr uint8_t kScanIns = 0x52, kScanDelete = 0x53;
constexpr uint8_t kScanF1 = 0x3B, kScanF11 = 0x57, kScanF12 = 0x58;
constexpr uint8_t kVkControl = 0x11;
constexpr uint8_t kVkMenu = 0x12;

// A key pressed with the modifiers held around it.
struct TStroke {
  uint8_t Scan = 0;
  bool Extended = false;  // a gray key (arrows, Home, ...)
  bool Shift = false;
  bool Ctrl = false;
  bool Alt = false;
};

constexpr TStroke Gray(uint8_t scan) { return {scan, true, false, false, false}; }
constexpr TStroke Plain(uint8_t scan) { return {scan, false, false, false, false}; }
constexpr TStroke FKey(int n) {
  return Plain(n <= 10 ? static_cast<uint8_t>(kScanF1 + n - 1) : n == 11 ? kScanF11 : kScanF12);
}

// Control characters that are keys of their own.
struct TByteKey {
  uint8_t Byte;
  uint8_t Scan;
};
constexpr std::array<TByteKey, 6> kNamedControls = {{
    {0x08, kScanBackspace}, {0x09, kScanTab}, {0x0A, kScanEnter},
    {0x0D, kScanEnter}, {kEsc, kScanEsc}, {kDel, kScanBackspace},
}};

// The other control characters that are no Ctrl+letter: the character whose key
// is pressed with Ctrl for them (as xterm sends them).
struct TCtrlChar {
  uint8_t Byte;
  char Key;
};
constexpr std::array<TCtrlChar, 5> kCtrlSymbols = {{
    {0x00, ' '}, {0x1C, '\\'}, {kCtrlBracket, ']'}, {0x1E, '6'}, {0x1F, '-'},
}};

// ESC [ <letter> and ESC O <letter>.
struct TFinalKey {
  uint8_t Final;
  TStroke Key;
};
// With modifiers xterm sends F1-F4 as ESC [ 1 ; m P..S.
constexpr std::array<TFinalKey, 11> kCsiLetters = {{
    {'A', Gray(kScanUp)}, {'B', Gray(kScanDown)}, {'C', Gray(kScanRight)}, {'D', Gray(kScanLeft)},
    {'H', Gray(kScanHome)}, {'F', Gray(kScanEnd)}, {'Z', {kScanTab, false, true, false, false}},
    {'P', FKey(1)}, {'Q', FKey(2)}, {'R', FKey(3)}, {'S', FKey(4)},
}};
constexpr std::array<TFinalKey, 10> kSs3Letters = {{
    {'P', FKey(1)}, {'Q', FKey(2)}, {'R', FKey(3)}, {'S', FKey(4)}, {'H', Gray(kScanHome)},
    {'F', Gray(kScanEnd)}, {'A', Gray(kScanUp)}, {'B', Gray(kScanDown)}, {'C', Gray(kScanRight)},
    {'D', Gray(kScanLeft)},
}};
// The Linux console's F1-F5: ESC [ [ A..E.
constexpr std::array<TFinalKey, 5> kLinuxFKeys = {{
    {'A', FKey(1)}, {'B', FKey(2)}, {'C', FKey(3)}, {'D', FKey(4)}, {'E', FKey(5)},
}};

// ESC [ <number> ~ (xterm, VT220, rxvt).
struct TTildeKey {
  int Number;
  TStroke Key;
};
constexpr std::array<TTildeKey, 20> kTildeKeys = {{
    {1, Gray(kScanHome)}, {2, Gray(kScanIns)}, {3, Gray(kScanDelete)}, {4, Gray(kScanEnd)},
    {5, Gray(kScanPgUp)}, {6, Gray(kScanPgDn)}, {7, Gray(kScanHome)}, {8, Gray(kScanEnd)},
    {11, FKey(1)}, {12, FKey(2)}, {13, FKey(3)}, {14, FKey(4)}, {15, FKey(5)},
    {17, FKey(6)}, {18, FKey(7)}, {19, FKey(8)}, {20, FKey(9)}, {21, FKey(10)},
    {23, FKey(11)}, {24, FKey(12)},
}};

template <typename T, size_t N>
const TStroke* FindFinal(const std::array<T, N>& table, uint8_t final) {
  for (const auto& entry : table) {
    if (entry.Final == final) return &entry.Key;
  }
  return nullptr;
}

// The message of one key going down or up, as the window builds it: a key
// pressed or released while Alt is held (and Ctrl is not) is a system key message.
TKeyMessage Message(uint8_t scan, bool extended, bool down, bool altHeld, bool ctrlHeld) {
  const uint8_t vk = MainBlockVirtualKey(scan);
  const bool system = (altHeld || vk == kVkMenu) && !(ctrlHeld || vk == kVkControl);
  TKeyMessage msg;
  msg.WParam = vk;
  msg.LParam = kLParamRepeatOne | (static_cast<uint32_t>(scan) << 16);
  if (extended) msg.LParam |= kLParamExtended;
  if (down) {
    msg.Message = system ? kWmSysKeyDown : kWmKeyDown;
  } else {
    msg.Message = system ? kWmSysKeyUp : kWmKeyUp;
    msg.LParam |= kLParamPrevious | kLParamRelease;
  }
  return msg;
}

TTerminalInput Keys(const TStroke& s) {
  TTerminalInput input;
  auto& m = input.Messages;
  bool alt = false;
  bool ctrl = false;
  const auto key = [&](uint8_t scan, bool extended, bool down) {
    m.push_back(Message(scan, extended, down, alt, ctrl));
  };
  if (s.Alt) {
    key(kScanAlt, false, true);
    alt = true;
  }
  if (s.Ctrl) {
    key(kScanCtrl, false, true);
    ctrl = true;
  }
  if (s.Shift) key(kScanLeftShift, false, true);
  key(s.Scan, s.Extended, true);
  key(s.Scan, s.Extended, false);
  if (s.Shift) key(kScanLeftShift, false, false);
  if (s.Ctrl) {
    key(kScanCtrl, false, false);
    ctrl = false;
  }
  if (s.Alt) key(kScanAlt, false, false);
  return input;
}

// The key that types an ASCII byte (0x00-0x7F); scan 0 for none.
TStroke StrokeOf(uint8_t b) {
  for (const auto& key : kNamedControls) {
    if (key.Byte == b) return Plain(key.Scan);
  }
  if (b >= 0x01 && b <= 0x1A) {
    TStroke s = Plain(UsLayoutKeyOf(static_cast<uint8_t>('a' + b - 1)).Scan);
    s.Ctrl = true;
    return s;
  }
  for (const auto& key : kCtrlSymbols) {
    if (key.Byte == b) {
      TStroke s = Plain(UsLayoutKeyOf(static_cast<uint8_t>(key.Key)).Scan);
      s.Ctrl = true;
      return s;
    }
  }
  const TUsKey usKey = UsLayoutKeyOf(b);
  TStroke s = Plain(usKey.Scan);
  s.Shift = usKey.Shift;
  return s;
}

void Emit(TStroke s, bool alt, std::vector<TTerminalInput>& out) {
  if (s.Scan == 0) return;
  s.Alt = alt;
  out.push_back(Keys(s));
}

void EmitByte(uint8_t b, bool alt, std::vector<TTerminalInput>& out) { Emit(StrokeOf(b), alt, out); }

bool IsParameterOrIntermediate(uint8_t b) { return b >= 0x20 && b <= 0x3F; }
bool IsFinal(uint8_t b) { return b >= 0x40 && b <= 0x7E; }

}  // namespace

std::vector<TTerminalInput> TTerminalKeyDecoder::Feed(const uint8_t* data, size_t size, uint64_t nowMs) {
  std::vector<TTerminalInput> out = Flush(nowMs);
  for (size_t i = 0; i < size; ++i) Byte(data[i], out);
  // Any byte either ends what was pending or is its newest part.
  if (size > 0 && State_ != TState::Ground) LastMs_ = nowMs;
  return out;
}

std::vector<TTerminalInput> TTerminalKeyDecoder::Flush(uint64_t nowMs) {
  std::vector<TTerminalInput> out;
  const auto deadline = Deadline();
  if (deadline && nowMs >= *deadline) Expire(out);
  return out;
}

std::optional<uint64_t> TTerminalKeyDecoder::Deadline() const {
  if (State_ == TState::Ground) return std::nullopt;
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  return LastMs_ > kMax - kEscapeTimeMs ? kMax : LastMs_ + kEscapeTimeMs;
}

void TTerminalKeyDecoder::Byte(uint8_t b, std::vector<TTerminalInput>& out) {
  switch (State_) {
    case TState::Ground:
      GroundByte(b, out);
      return;
    case TState::Escape:
      if (b == '[' || b == 'O') {
        State_ = b == '[' ? TState::Csi : TState::Ss3;
        SeqLen_ = 0;
      } else if (b == kEsc) {
        // ESC ESC: Alt with a key that is a sequence itself; a third ESC makes
        // the first one a key of its own.
        if (Alt_) EmitByte(kEsc, false, out);
        Alt_ = true;
      } else if (b == kCtrlBracket) {
        // Ctrl-] always reaches the front-end: what was pending is Esc.
        Expire(out);
        GroundByte(b, out);
      } else if (b >= 0x80) {
        // Alt with a character beyond ASCII: no key for it.
        if (Alt_) EmitByte(kEsc, false, out);
        State_ = TState::Ground;
        Alt_ = false;
      } else {
        if (Alt_) EmitByte(kEsc, false, out);
        State_ = TState::Ground;
        Alt_ = false;
        EmitByte(b, true, out);
      }
      return;
    case TState::Csi:
      if (SeqLen_ == 0 && b == '[') {
        State_ = TState::LinuxFKey;
      } else if (SeqLen_ == 0 && b == 'M') {
        State_ = TState::Mouse;  // X10 mouse report: three raw bytes follow
        MouseBytes_ = 3;
      } else if (IsParameterOrIntermediate(b)) {
        if (SeqLen_ < Seq_.size()) Seq_[SeqLen_++] = b;
        else State_ = TState::Skip;
      } else if (IsFinal(b)) {
        FinishCsi(b, out);
      } else {
        Abort(b, out);
      }
      return;
    case TState::Ss3:
    case TState::LinuxFKey:
      if (IsFinal(b)) {
        const TStroke* key =
            State_ == TState::Ss3 ? FindFinal(kSs3Letters, b) : FindFinal(kLinuxFKeys, b);
        if (key != nullptr) Emit(*key, Alt_, out);
        State_ = TState::Ground;
        Alt_ = false;
      } else if (IsParameterOrIntermediate(b)) {
        State_ = TState::Skip;
      } else {
        Abort(b, out);
      }
      return;
    case TState::Mouse:
      if (b < 0x20) {
        Abort(b, out);
      } else if (--MouseBytes_ == 0) {
        State_ = TState::Ground;
        Alt_ = false;
      }
      return;
    case TState::Skip:
      if (IsFinal(b)) {
        State_ = TState::Ground;
        Alt_ = false;
      } else if (!IsParameterOrIntermediate(b)) {
        Abort(b, out);
      }
      return;
  }
}

void TTerminalKeyDecoder::GroundByte(uint8_t b, std::vector<TTerminalInput>& out) {
  if (Command_) {
    Command_ = false;
    TTerminalInput input;
    input.Kind = TTerminalInput::TKind::Command;
    input.Command = static_cast<char>(b);
    out.push_back(std::move(input));
  } else if (b == kEsc) {
    State_ = TState::Escape;
    Alt_ = false;
  } else if (b == kCtrlBracket) {
    Command_ = true;
  } else if (b < 0x80) {
    // Bytes of 0x80 and above belong to UTF-8 characters beyond ASCII (or to
    // none): a US keyboard has no key for them. ASCII bytes never occur inside
    // a UTF-8 character, so dropping the others keeps the rest in step.
    EmitByte(b, false, out);
  }
}

void TTerminalKeyDecoder::Abort(uint8_t b, std::vector<TTerminalInput>& out) {
  State_ = TState::Ground;
  Alt_ = false;
  GroundByte(b, out);
}

void TTerminalKeyDecoder::FinishCsi(uint8_t final, std::vector<TTerminalInput>& out) {
  // The parameters: none, "n", or xterm's "n;m" whose m - 1 holds the
  // modifiers (1 Shift, 2 Alt, 4 Ctrl): ESC [ 1 ; 5 D is Ctrl+Left. Anything
  // else (private markers, more parameters) is no key here.
  int number = 0;
  int modifiers = 0;
  int field = 0;
  bool wellFormed = true;
  for (size_t i = 0; i < SeqLen_ && wellFormed; ++i) {
    const uint8_t c = Seq_[i];
    if (c == ';' && field == 0 && i > 0) {
      field = 1;
    } else if (c >= '0' && c <= '9') {
      int& value = field == 0 ? number : modifiers;
      value = value * 10 + (c - '0');
      wellFormed = value < 100;
    } else {
      wellFormed = false;
    }
  }
  wellFormed = wellFormed && (field == 0 || (modifiers >= 1 && modifiers <= 16));
  const TStroke* key = nullptr;
  if (wellFormed && final == '~') {
    for (const auto& entry : kTildeKeys) {
      if (entry.Number == number) key = &entry.Key;
    }
  } else if (wellFormed && (SeqLen_ == 0 || (field == 1 && number == 1))) {
    key = FindFinal(kCsiLetters, final);
  }
  if (key != nullptr) {
    TStroke stroke = *key;
    const int held = field == 1 ? modifiers - 1 : 0;
    stroke.Shift = stroke.Shift || (held & 1) != 0;
    stroke.Ctrl = stroke.Ctrl || (held & 4) != 0;
    Emit(stroke, Alt_ || (held & 2) != 0, out);
  }
  State_ = TState::Ground;
  Alt_ = false;
}

void TTerminalKeyDecoder::Expire(std::vector<TTerminalInput>& out) {
  const TState state = State_;
  if (Alt_) EmitByte(kEsc, false, out);
  switch (state) {
    case TState::Escape:
      EmitByte(kEsc, false, out);
      break;
    case TState::Csi:
    case TState::LinuxFKey:
      // Typed by hand: Alt+[ and what followed.
      EmitByte('[', true, out);
      if (state == TState::LinuxFKey) EmitByte('[', false, out);
      for (size_t i = 0; i < SeqLen_; ++i) EmitByte(Seq_[i], false, out);
      break;
    case TState::Ss3:
      EmitByte('O', true, out);
      break;
    default:  // the rest of a mouse report or of an overlong sequence: no keys
      break;
  }
  State_ = TState::Ground;
  Alt_ = false;
  SeqLen_ = 0;
}

TTerminalInput CtrlBracketKey() { return Keys(StrokeOf(kCtrlBracket)); }

TTerminalInput TypedKeysOf(uint8_t byte) {
  if (byte >= 0x80) return {};
  const TStroke stroke = StrokeOf(byte);
  if (stroke.Scan == 0) return {};
  return Keys(stroke);
}

void ApplyTerminalInput(TKeyboard& keyboard, const TTerminalInput& input) {
  if (input.Kind != TTerminalInput::TKind::Keys) return;
  for (const auto& msg : input.Messages) {
    bool handled = false;
    keyboard.AppMessage(msg.Message, msg.WParam, msg.LParam, handled);
  }
}

}  // namespace keyboard
