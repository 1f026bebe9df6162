// Keys sent by control clients: in the order sent, each answered when its last
// key is in the board's queue, typed text paced as a paste, what waits dropped
// (and told why) for a client that is no longer the writer.
#include "session/client_keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "keyboard/keyboard.h"

namespace {

using app::TClientKeys;

struct TLog {
  std::vector<std::string> Done;
  TClientKeys::TDone Note(std::string name) {
    return [this, name](bool ok, const std::string& why) { Done.push_back(name + (ok ? "" : ":" + why)); };
  }
};

std::vector<uint16_t> Drain(keyboard::TKeyboard& kb) {
  std::vector<uint16_t> codes;
  while (!kb.QueueEmpty()) codes.push_back(kb.PopKey());
  return codes;
}

TEST(ClientKeys, WaitForRoomGoInInOrderAndAreAnsweredWhenQueued) {
  keyboard::TKeyboard kb;
  TClientKeys keys;
  TLog log;
  const int a = 0;
  for (uint16_t i = 0; i < 20; ++i) {
    keys.PushAction(&a, [i](keyboard::TKeyboard& k) { k.PushKey(static_cast<uint16_t>(0x1000 + i)); },
                    log.Note("k" + std::to_string(i)));
  }
  keys.PushText(&a, "xyz", log.Note("text"));
  EXPECT_EQ(keys.Feed(kb), 15u);  // the queue holds 15 codes
  EXPECT_EQ(log.Done.size(), 15u);
  std::vector<uint16_t> got = Drain(kb);
  keys.Feed(kb);  // the board has read: the other five, then the text
  for (uint16_t c : Drain(kb)) got.push_back(c);
  ASSERT_EQ(got.size(), 23u);
  for (uint16_t i = 0; i < 20; ++i) EXPECT_EQ(got[i], 0x1000 + i) << i;
  EXPECT_EQ(got[20], 0x2D78);  // x
  EXPECT_EQ(got[22], 0x2C7A);  // z
  EXPECT_EQ(log.Done.back(), "text");
  EXPECT_EQ(kb.DroppedKeys, 0u);
  EXPECT_EQ(keys.Waiting(), 0u);
}

TEST(ClientKeys, TextLeavesRoomForTheLocalTypistAndLosesNothing) {
  keyboard::TKeyboard kb;
  TClientKeys keys;
  TLog log;
  const int a = 0;
  const std::string text(40, 'q');
  keys.PushText(&a, text, log.Note("text"));
  keys.Feed(kb);
  EXPECT_EQ(kb.QueueCount(), keyboard::kKeyQueueSize - 1 - keyboard::TKeyPaster::kRoomForTyping);
  size_t typed = 0;
  for (int round = 0; round < 20 && keys.Waiting() > 0; ++round) {
    typed += Drain(kb).size();
    keys.Feed(kb);
  }
  typed += Drain(kb).size();
  EXPECT_EQ(typed, text.size());
  EXPECT_EQ(log.Done, std::vector<std::string>{"text"});
}

TEST(ClientKeys, DroppedEntriesAreToldWhyOrNotAtAllForAClientThatIsGone) {
  keyboard::TKeyboard kb;
  for (int i = 0; i < 15; ++i) kb.PushKey(0x1E61);  // full: everything waits
  TClientKeys keys;
  TLog log;
  const int a = 0, b = 0;
  keys.PushAction(&a, [](keyboard::TKeyboard& k) { k.PushKey(1); }, log.Note("a1"));
  keys.PushAction(&b, [](keyboard::TKeyboard& k) { k.PushKey(2); }, log.Note("b1"));
  keys.PushText(&a, "hello", log.Note("a2"));
  keys.Feed(kb);
  EXPECT_TRUE(log.Done.empty());
  keys.DropOthers(&b, "not the writer");
  EXPECT_EQ(log.Done, (std::vector<std::string>{"a1:not the writer", "a2:not the writer"}));
  keys.Drop(&b, {});  // gone: untold
  EXPECT_EQ(log.Done.size(), 2u);
  EXPECT_EQ(keys.Waiting(), 0u);
  // What waits is bounded: past the bound a push is answered at once.
  for (size_t i = 0; i < TClientKeys::kMaxEntries; ++i) keys.PushAction(&a, {}, {});
  keys.PushAction(&a, {}, log.Note("over"));
  EXPECT_EQ(log.Done.back(), "over:keyboard busy");
  EXPECT_FALSE(keys.PushText(&a, std::string(TClientKeys::kMaxChars + 1, 'x'), {}));
}

}  // namespace
