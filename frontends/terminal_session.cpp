#include "frontends/terminal_session.h"

#include "keyboard/keyboard.h"

namespace app {

std::string ShiftWordsOf(uint8_t shiftFlags) {
  const std::string padded = keyboard::KBDStateText(shiftFlags);
  std::string out;
  for (size_t i = 0; i < padded.size();) {
    const size_t start = padded.find_first_not_of(' ', i);
    if (start == std::string::npos) break;
    const size_t end = padded.find(' ', start);
    if (!out.empty()) out += ' ';
    out += padded.substr(start, end == std::string::npos ? std::string::npos : end - start);
    i = end == std::string::npos ? padded.size() : end;
  }
  return out;
}

std::string TLocalTerminalSession::ShiftWords() const { return ShiftWordsOf(Session.Keyboard.ShiftFlags); }

// One place stays free for a command that queues a code (as the pacer always kept it).
bool TLocalTerminalSession::KeyRoom() const { return Session.Keyboard.QueueCount() + 1 < keyboard::kKeyQueueSize; }

void TLocalTerminalSession::SendKeys(const keyboard::TTerminalInput& input) {
  Session.EndCtrlAltDel();
  keyboard::ApplyTerminalInput(Session.Keyboard, input);
}

}  // namespace app
