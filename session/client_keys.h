// Keys sent by clients of the session (control socket, web page) wait here for
// room in the board's key queue and go in in the order sent, none dropped:
// a key, a raw key code or an action takes one place; typed text goes in as
// "Paste text as keys" does (a few places stay free for the local typist).
// Each entry's completion is told when its last key is in the queue, or why it
// was dropped. What waits is bounded.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "keyboard/key_paster.h"

namespace keyboard {
class TKeyboard;
}

namespace app {

class TClientKeys {
 public:
  // Entries that may wait, and characters of text among them.
  static constexpr size_t kMaxEntries = 4096;
  static constexpr size_t kMaxChars = 1 << 20;

  // ok, or the reason the keys did not go in.
  using TDone = std::function<void(bool ok, const std::string& error)>;

  // Something that puts one code into the queue (or changes the shift state),
  // carried out once there is room for one code. False (done told at once,
  // "keyboard busy") when too much waits already.
  bool PushAction(const void* client, std::function<void(keyboard::TKeyboard&)> apply, TDone done);
  // UTF-8 text typed as a US keyboard types it.
  bool PushText(const void* client, std::string_view text, TDone done);
  // Carries out what the queue has room for; returns the entries finished.
  size_t Feed(keyboard::TKeyboard& keyboard);
  // Drops the entries of `client` (nullptr: every entry), telling each `why`;
  // with an empty `why` they are dropped untold (the client is gone).
  void Drop(const void* client, const std::string& why);
  // Drops every entry not of `client`, telling each `why`.
  void DropOthers(const void* client, const std::string& why);
  size_t Waiting() const { return Entries.size(); }

  // Runs before each entry is carried out (the session ends a Ctrl+Alt+Del held for the board).
  std::function<void()> BeforeEach;

 private:
  struct TEntry {
    const void* Client = nullptr;
    std::function<void(keyboard::TKeyboard&)> Apply;
    std::unique_ptr<keyboard::TKeyPaster> Text;
    size_t Chars = 0;
    TDone Done;
  };
  bool Room(size_t chars) const;
  void DropIf(const std::function<bool(const TEntry&)>& which, const std::string& why);

  std::deque<TEntry> Entries;
  size_t Chars = 0;
  bool Feeding = false;
};

}  // namespace app
