// Keys typed into a terminal wait for room in the board's queue and go in in
// the order typed, commands among them included; the wait is bounded.
#include "keyboard/key_pacer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "keyboard/keyboard.h"

namespace {

using Codes = std::vector<uint16_t>;

std::vector<keyboard::TTerminalInput> Decode(const std::string& bytes) {
  keyboard::TTerminalKeyDecoder decoder;
  return decoder.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 1000);
}

TEST(KeyPacer, ALineSentAtOnceReachesTheBoardWholeWithItsCommandsInPlace) {
  keyboard::TKeyboard kbd;
  keyboard::TKeyPacer pacer;
  // What the board has read when each command comes to act.
  Codes got;
  std::vector<std::pair<char, size_t>> commands;
  pacer.Apply = [&](const keyboard::TTerminalInput& input) {
    if (input.Kind == keyboard::TTerminalInput::TKind::Command) {
      commands.emplace_back(input.Command, got.size() + kbd.QueueCount());
    } else {
      keyboard::ApplyTerminalInput(kbd, input);
    }
  };
  const std::string line = "> The quick brown fox jumps over the lazy dog 0123456";
  for (auto& input : Decode(line + "\x1dr" + "AB\r")) pacer.Push(std::move(input), kbd);
  size_t most = 0;
  for (int round = 0; round < 1000 && (pacer.Waiting() > 0 || !kbd.QueueEmpty()); ++round) {
    pacer.Feed(kbd);
    most = std::max(most, kbd.QueueCount());
    for (int i = 0; i < 4 && !kbd.QueueEmpty(); ++i) got.push_back(kbd.PopKey());  // the board reads
  }
  ASSERT_EQ(got.size(), line.size() + 3);
  for (size_t i = 0; i < line.size(); ++i) EXPECT_EQ(got[i] & 0xFF, static_cast<uint8_t>(line[i])) << i;
  EXPECT_EQ(got[line.size()], 0x1E41);  // Shift+A
  EXPECT_EQ(got.back(), 0x1C0D);        // Enter
  EXPECT_EQ(commands, (std::vector<std::pair<char, size_t>>{{'r', line.size()}}));
  EXPECT_EQ(most, 15u);
  EXPECT_EQ(kbd.DroppedKeys, 0u);
}

TEST(KeyPacer, ABoardThatReadsNothingHoldsABoundedNumberAndTheRestIsCounted) {
  keyboard::TKeyboard kbd;
  uint64_t told = 0;
  kbd.OnKeyDropped = [&] { ++told; };
  keyboard::TKeyPacer pacer;
  const auto key = Decode("k").front();
  size_t refused = 0;
  for (size_t i = 0; i < 15 + keyboard::TKeyPacer::kMaxWaiting + 3; ++i) {
    refused += pacer.Push(key, kbd) ? 0 : 1;
    pacer.Feed(kbd);
  }
  EXPECT_EQ(kbd.QueueCount(), 15u);
  EXPECT_EQ(pacer.Waiting(), keyboard::TKeyPacer::kMaxWaiting);
  EXPECT_EQ(refused, 3u);
  EXPECT_EQ(kbd.DroppedKeys, 3u);
  EXPECT_EQ(told, 3u);
  kbd.PopKey();
  EXPECT_EQ(pacer.Feed(kbd), 1u);  // one read, one more in
  pacer.Clear();
  EXPECT_EQ(pacer.Waiting(), 0u);
}

}  // namespace
