// Turns the bytes a character terminal sends for typed keys (ASCII, control
// characters, ESC sequences of xterm, rxvt and the Linux console) into the key
// messages the window would synthesise for the same keys on a US layout, so that
// the board sees the same BIOS codes and shift flags from either front-end.
//
// A lone ESC is the Esc key only after kEscapeTimeMs without a byte following;
// ESC followed by a key is that key with Alt held. Ctrl-] (0x1D) starts a
// command for the front-end: the next byte is returned as a Command.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "keyboard/key_message.h"

namespace keyboard {

class TKeyboard;

struct TTerminalInput {
  enum class TKind { Keys, Command };
  TKind Kind = TKind::Keys;
  std::vector<TKeyMessage> Messages;  // Keys: key-down/key-up messages for TKeyboard::AppMessage, in order
  char Command = 0;                   // Command: the byte typed after Ctrl-]
};

class TTerminalKeyDecoder {
 public:
  static constexpr uint64_t kEscapeTimeMs = 50;
  // Bytes kept of an escape sequence; longer ones are skipped to their end.
  static constexpr size_t kMaxSequence = 16;

  // Decodes bytes typed at `nowMs` (monotonic milliseconds). A sequence pending
  // since before the escape time is taken as typed keys first.
  std::vector<TTerminalInput> Feed(const uint8_t* data, size_t size, uint64_t nowMs);
  // A lone ESC (or an incomplete sequence) older than kEscapeTimeMs becomes its key(s) now.
  std::vector<TTerminalInput> Flush(uint64_t nowMs);
  // When Flush should next be called (nullopt: nothing pending). A command
  // waiting for its byte has no deadline.
  std::optional<uint64_t> Deadline() const;
  // Ctrl-] was typed and its command byte has not come yet.
  bool CommandPending() const { return Command_; }

 private:
  enum class TState : uint8_t { Ground, Escape, Csi, Ss3, LinuxFKey, Mouse, Skip };

  void Byte(uint8_t b, std::vector<TTerminalInput>& out);
  void GroundByte(uint8_t b, std::vector<TTerminalInput>& out);
  // A byte that cannot continue the pending sequence: the sequence is dropped
  // and the byte read afresh.
  void Abort(uint8_t b, std::vector<TTerminalInput>& out);
  void FinishCsi(uint8_t final, std::vector<TTerminalInput>& out);
  // The pending sequence as the keys it would be if typed by hand.
  void Expire(std::vector<TTerminalInput>& out);

  TState State_ = TState::Ground;
  bool Alt_ = false;  // ESC ESC: the key that follows has Alt held
  bool Command_ = false;
  std::array<uint8_t, kMaxSequence> Seq_{};  // the bytes after ESC [
  size_t SeqLen_ = 0;
  int MouseBytes_ = 0;
  uint64_t LastMs_ = 0;  // when the pending sequence got its last byte
};

// The messages for Ctrl+] (the board reads 1B1D): for the front-end to send
// when its command asks for the key itself.
TTerminalInput CtrlBracketKey();

// The messages of the key (with Shift or Ctrl held around it) that types an
// ASCII byte, as a terminal sends it; no messages for a byte without a key.
TTerminalInput TypedKeysOf(uint8_t byte);

// Hands a decoded key input to the keyboard core (AppMessage for each message);
// a command is not for the board and is ignored.
void ApplyTerminalInput(TKeyboard& keyboard, const TTerminalInput& input);

}  // namespace keyboard
