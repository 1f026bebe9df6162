// The terminal front-end's pure parts: arbitrary bytes in arbitrary chunks,
// with time going forward, through the key decoder into the keyboard core, and
// random screens through the terminal writer.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "display/screen.h"
#include "display/terminal_writer.h"
#include "keyboard/keyboard.h"
#include "keyboard/terminal_keys.h"

namespace {

enum TOp : uint8_t { opKeys, opFlush, opCells, opCursor, opUpdate, opSize, opCount };

// A key input is one key with its modifiers around it, Alt, Ctrl and Shift at most.
void Apply(keyboard::TKeyboard& kbd, const std::vector<keyboard::TTerminalInput>& inputs) {
  for (const auto& input : inputs) {
    if (input.Kind == keyboard::TTerminalInput::TKind::Keys) {
      if (input.Messages.empty() || input.Messages.size() > 8) __builtin_trap();
      keyboard::ApplyTerminalInput(kbd, input);
      if (kbd.ShiftFlags != 0) __builtin_trap();  // a modifier left held
      while (!kbd.QueueEmpty()) kbd.PopKey();
    }
  }
}

// The writer's output: UTF-8 text, ESC [ sequences, and line feeds only right
// after a cursor position (the scroll of rows 1-25). No other control byte.
void CheckOutput(const std::string& out) {
  size_t i = 0;
  while (i < out.size()) {
    const auto b = static_cast<uint8_t>(out[i]);
    if (b == 0x1B) {
      if (i + 1 >= out.size() || out[i + 1] != '[') __builtin_trap();
      i += 2;
      while (i < out.size() && static_cast<uint8_t>(out[i]) >= 0x20 && static_cast<uint8_t>(out[i]) < 0x40) ++i;
      if (i >= out.size() || static_cast<uint8_t>(out[i]) < 0x40 || static_cast<uint8_t>(out[i]) > 0x7E) __builtin_trap();
      ++i;
    } else if (b == '\n') {
      if (i == 0 || (out[i - 1] != 'H' && out[i - 1] != '\n')) __builtin_trap();
      ++i;
    } else if (b < 0x20 || b == 0x7F) {
      __builtin_trap();
    } else if (b < 0x80) {
      ++i;
    } else {
      const int more = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 ? 1 : -1;
      if (more < 0) __builtin_trap();
      for (int k = 1; k <= more; ++k) {
        if (i + k >= out.size() || (static_cast<uint8_t>(out[i + k]) & 0xC0) != 0x80) __builtin_trap();
      }
      // C1 controls (U+0080-U+009F) are never written either.
      if (b == 0xC2 && static_cast<uint8_t>(out[i + 1]) < 0xA0) __builtin_trap();
      i += static_cast<size_t>(more) + 1;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  keyboard::TTerminalKeyDecoder decoder;
  keyboard::TKeyboard kbd;
  uint64_t now = in.ConsumeIntegral<uint32_t>();
  display::TTerminalWriter writer(in.ConsumeBool());
  display::TScreen screen;
  CheckOutput(writer.Begin());
  int ops = 0;
  while (in.remaining_bytes() > 0 && ++ops < 128) {
    switch (in.ConsumeIntegralInRange<uint8_t>(0, opCount - 1)) {
      case opKeys: {
        now += in.ConsumeIntegralInRange<uint64_t>(0, 120);
        const std::string chunk = in.ConsumeRandomLengthString(64);
        Apply(kbd, decoder.Feed(reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size(), now));
        const auto deadline = decoder.Deadline();
        if (!chunk.empty() && deadline && *deadline != now + keyboard::TTerminalKeyDecoder::kEscapeTimeMs) {
          __builtin_trap();  // a pending sequence waits from its newest byte
        }
        break;
      }
      case opFlush:
        now += in.ConsumeIntegralInRange<uint64_t>(0, 120);
        Apply(kbd, decoder.Flush(now));
        break;
      case opCells: {
        const size_t at = in.ConsumeIntegralInRange<size_t>(0, display::TScreen::kCells * 2 - 1);
        const std::string bytes = in.ConsumeRandomLengthString(400);
        for (size_t k = 0; k < bytes.size() && at + k < display::TScreen::kCells * 2; ++k) {
          screen.Bytes()[at + k] = static_cast<uint8_t>(bytes[k]);
        }
        if (in.ConsumeBool()) screen.ScrollDown();
        break;
      }
      case opCursor:
        screen.CursorCol = in.ConsumeIntegralInRange<int32_t>(-2, 260);
        screen.CursorRow = in.ConsumeIntegralInRange<int32_t>(-2, 260);
        break;
      case opUpdate:
        CheckOutput(writer.Update(screen, in.ConsumeRandomLengthString(120)));
        break;
      case opSize:
        if (in.ConsumeBool()) writer.Invalidate();
        else writer.SetSize({in.ConsumeIntegralInRange<int>(-5, 300), in.ConsumeIntegralInRange<int>(-5, 80)});
        break;
      default:
        break;
    }
  }
  // Once the escape time has passed nothing is pending, and no modifier is held.
  Apply(kbd, decoder.Flush(now + keyboard::TTerminalKeyDecoder::kEscapeTimeMs));
  if (decoder.Deadline().has_value() || kbd.ShiftFlags != 0) __builtin_trap();
  CheckOutput(writer.Update(screen, ""));
  CheckOutput(writer.End());
  return 0;
}
