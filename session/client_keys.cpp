#include "session/client_keys.h"

#include "keyboard/keyboard.h"

namespace app {

bool TClientKeys::Room(size_t chars) const {
  return Entries.size() < kMaxEntries && Chars + chars <= kMaxChars;
}

bool TClientKeys::PushAction(const void* client, std::function<void(keyboard::TKeyboard&)> apply,
                             TDone done) {
  if (!Room(0)) {
    if (done) done(false, "keyboard busy");
    return false;
  }
  TEntry entry;
  entry.Client = client;
  entry.Apply = std::move(apply);
  entry.Done = std::move(done);
  Entries.push_back(std::move(entry));
  return true;
}

bool TClientKeys::PushText(const void* client, std::string_view text, TDone done) {
  if (!Room(text.size())) {
    if (done) done(false, "keyboard busy");
    return false;
  }
  TEntry entry;
  entry.Client = client;
  entry.Text = std::make_unique<keyboard::TKeyPaster>();
  entry.Text->Paste(text);
  entry.Chars = text.size();
  entry.Done = std::move(done);
  Chars += entry.Chars;
  Entries.push_back(std::move(entry));
  return true;
}

size_t TClientKeys::Feed(keyboard::TKeyboard& keyboard) {
  // A completion may lead back here (an answer that sends more keys): the
  // outer loop goes on in order.
  if (Feeding) return 0;
  Feeding = true;
  size_t finished = 0;
  while (!Entries.empty()) {
    TEntry& front = Entries.front();
    if (front.Text) {
      if (BeforeEach) BeforeEach();
      front.Text->Feed(keyboard);
      if (front.Text->Waiting() > 0) break;  // the rest when the board has read
    } else {
      if (keyboard.QueueCount() + 1 >= keyboard::kKeyQueueSize) break;
      if (BeforeEach) BeforeEach();
      if (front.Apply) front.Apply(keyboard);
    }
    TEntry done = std::move(front);
    Entries.pop_front();
    Chars -= done.Chars;
    ++finished;
    if (done.Done) done.Done(true, {});
  }
  Feeding = false;
  return finished;
}

void TClientKeys::DropIf(const std::function<bool(const TEntry&)>& which, const std::string& why) {
  std::deque<TEntry> dropped;
  for (auto it = Entries.begin(); it != Entries.end();) {
    if (which(*it)) {
      Chars -= it->Chars;
      dropped.push_back(std::move(*it));
      it = Entries.erase(it);
    } else {
      ++it;
    }
  }
  if (why.empty()) return;
  for (TEntry& e : dropped) {
    if (e.Done) e.Done(false, why);
  }
}

void TClientKeys::Drop(const void* client, const std::string& why) {
  DropIf([client](const TEntry& e) { return client == nullptr || e.Client == client; }, why);
}

void TClientKeys::DropOthers(const void* client, const std::string& why) {
  DropIf([client](const TEntry& e) { return e.Client != client; }, why);
}

}  // namespace app
