#include "keyboard/terminal_keys.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "keyboard/keyboard.h"
#include "keyboard/pc_keys.h"

namespace keyboard {
namespace {

using TKind = TTerminalInput::TKind;

std::vector<TTerminalInput> FeedText(TTerminalKeyDecoder& decoder, std::string_view bytes,
                                     uint64_t nowMs) {
  return decoder.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), nowMs);
}

// The codes the board reads after the inputs are applied to a fresh keyboard;
// the shift flags must be back to 0 after every input.
std::vector<uint16_t> BoardCodes(const std::vector<TTerminalInput>& inputs) {
  TKeyboard kbd;
  std::vector<uint16_t> codes;
  for (const auto& input : inputs) {
    EXPECT_EQ(input.Kind, TKind::Keys);
    ApplyTerminalInput(kbd, input);
    EXPECT_EQ(kbd.ShiftFlags, 0) << "modifier left held";
    while (!kbd.QueueEmpty()) codes.push_back(kbd.PopKey());
  }
  return codes;
}

// Bytes typed at once, then the escape time passes.
std::vector<uint16_t> Typed(std::string_view bytes) {
  TTerminalKeyDecoder decoder;
  auto inputs = FeedText(decoder, bytes, 1000);
  for (auto& input : decoder.Flush(1000 + TTerminalKeyDecoder::kEscapeTimeMs)) inputs.push_back(input);
  EXPECT_FALSE(decoder.Deadline().has_value());
  return BoardCodes(inputs);
}

struct TTypedCase {
  const char* Name;
  std::string Bytes;
  std::vector<uint16_t> Codes;
};

class TerminalKeysTest : public ::testing::TestWithParam<TTypedCase> {};

TEST_P(TerminalKeysTest, BoardReadsTheWindowsCodes) {
  EXPECT_EQ(Typed(GetParam().Bytes), GetParam().Codes);
}

// With the full key codes, Ctrl+arrows typed in a terminal reach the board as the window's do.
TEST(TerminalKeysFull, CtrlArrowsGiveTheBiosCodes) {
  TTerminalKeyDecoder decoder;
  TKeyboard kbd;
  kbd.FullKeys = true;
  for (const auto& input : FeedText(decoder, "\x1b[1;5D\x1b[1;5C\x1b[1;5H", 1000)) ApplyTerminalInput(kbd, input);
  std::vector<uint16_t> codes;
  while (!kbd.QueueEmpty()) codes.push_back(kbd.PopKey());
  EXPECT_EQ(codes, (std::vector<uint16_t>{0x7300, 0x7400, 0x7700}));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, TerminalKeysTest,
    ::testing::Values(
        TTypedCase{"a", "a", {0x1E61}}, TTypedCase{"A", "A", {0x1E41}}, TTypedCase{"One", "1", {0x0231}},
        TTypedCase{"Bang", "!", {0x0221}}, TTypedCase{"Cr", "\r", {0x1C0D}},
        TTypedCase{"Lf", "\n", {0x1C0D}}, TTypedCase{"Del", "\x7f", {0x0E08}},
        TTypedCase{"Bs", "\b", {0x0E08}}, TTypedCase{"Tab", "\t", {0x0F09}},
        TTypedCase{"CtrlA", "\x01", {0x1E01}}, TTypedCase{"CtrlC", "\x03", {0x2E03}},
        TTypedCase{"CtrlZ", "\x1a", {0x2C1A}}, TTypedCase{"CtrlBackslash", "\x1c", {0x2B1C}},
        TTypedCase{"CtrlSpace", std::string(1, '\0'), {0x3900}},
        TTypedCase{"Esc", "\x1b", {0x011B}}, TTypedCase{"EscEsc", "\x1b\x1b", {0x011B, 0x011B}},
        TTypedCase{"Up", "\x1b[A", {0x4800}}, TTypedCase{"Down", "\x1b[B", {0x5000}},
        TTypedCase{"Right", "\x1b[C", {0x4D00}}, TTypedCase{"Left", "\x1b[D", {0x4B00}},
        TTypedCase{"AppUp", "\x1bOA", {0x4800}},
        TTypedCase{"Home", "\x1b[H\x1b[1~\x1bOH\x1b[7~", {0x4700, 0x4700, 0x4700, 0x4700}},
        TTypedCase{"End", "\x1b[F\x1b[4~\x1bOF\x1b[8~", {0x4F00, 0x4F00, 0x4F00, 0x4F00}},
        TTypedCase{"PgUpPgDn", "\x1b[5~\x1b[6~", {0x4900, 0x5100}},
        TTypedCase{"InsDel", "\x1b[2~\x1b[3~", {0x5200, 0x5300}},
        TTypedCase{"F1toF4", "\x1bOP\x1bOQ\x1bOR\x1bOS", {0x3B00, 0x3C00, 0x3D00, 0x3E00}},
        TTypedCase{"F1toF5Rxvt", "\x1b[11~\x1b[12~\x1b[13~\x1b[14~\x1b[15~",
                   {0x3B00, 0x3C00, 0x3D00, 0x3E00, 0x3F00}},
        TTypedCase{"F5toF12", "\x1b[15~\x1b[17~\x1b[18~\x1b[19~\x1b[20~\x1b[21~\x1b[23~\x1b[24~",
                   {0x3F00, 0x4000, 0x4100, 0x4200, 0x4300, 0x4400, 0x8500, 0x8600}},
        TTypedCase{"LinuxF1toF5", "\x1b[[A\x1b[[B\x1b[[C\x1b[[D\x1b[[E",
                   {0x3B00, 0x3C00, 0x3D00, 0x3E00, 0x3F00}},
        TTypedCase{"BackTab", "\x1b[Z", {0x0F09}},
        // xterm's modifiers (ESC [ n ; m): the keys held around the key, as the window holds them.
        TTypedCase{"CtrlRight", "\x1b[1;5C", {0x4D00}}, TTypedCase{"ShiftF5", "\x1b[15;2~", {0x5800}},
        TTypedCase{"CtrlF1", "\x1b[1;5P", {0x5E00}}, TTypedCase{"AltF2", "\x1b[1;3Q", {0x6900}},
        TTypedCase{"CtrlDelete", "\x1b[3;5~", {0x5300}},
        TTypedCase{"AltX", "\x1bx", {0x2D78}}, TTypedCase{"AltShiftX", "\x1bX", {0x2D58}},
        TTypedCase{"AltEnter", "\x1b\r", {0x1C0D}}, TTypedCase{"AltCtrlC", "\x1b\x03", {0x2E03}},
        TTypedCase{"AltUp", "\x1b\x1b[A", {0x4800}}, TTypedCase{"AltF1", "\x1b\x1bOP", {0x6800}},
        // An escape sequence typed slowly by hand: the keys themselves.
        TTypedCase{"AltBracket", "\x1b[", {0x1A5B}}, TTypedCase{"AltO", "\x1bO", {0x184F}},
        TTypedCase{"HalfTilde", "\x1b[1", {0x1A5B, 0x0231}},
        TTypedCase{"HalfLinux", "\x1b[[", {0x1A5B, 0x1A5B}},
        // Nothing the US layout has no key for, no sequence that is no key here.
        TTypedCase{"Private", "\x1b[?1;2cx", {0x2D78}}, TTypedCase{"BadModifier", "\x1b[1;0Cx", {0x2D78}},
        TTypedCase{"F13", "\x1b[25~\x1b[1~", {0x4700}},
        TTypedCase{"MouseX10", "\x1b[M !!x", {0x2D78}}, TTypedCase{"MouseSgr", "\x1b[<0;12;5Mx", {0x2D78}},
        TTypedCase{"Paste", "\x1b[200~hi\x1b[201~", {0x2368, 0x1769}},
        TTypedCase{"FocusIn", "\x1b[Ix", {0x2D78}},
        TTypedCase{"Utf8", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80x", {0x2D78}},
        TTypedCase{"BadUtf8", "\xff\xfe\x80\xc3(x", {0x0A28, 0x2D78}},
        TTypedCase{"AltUtf8", "\x1b\xc3\xa9x", {0x2D78}},
        TTypedCase{"Overlong", "\x1b[" + std::string(5000, '1') + "~x", {0x2D78}},
        // A control byte cuts a sequence short: the sequence is dropped, the byte typed.
        TTypedCase{"Cut", "\x1b[1\r", {0x1C0D}}, TTypedCase{"CutByEsc", "\x1b[1\x1b[B", {0x5000}}),
    [](const auto& info) { return std::string(info.param.Name); });

// Every printable character arrives as itself, with the scan code of its US key.
TEST(TerminalKeys, PrintableAsciiArrivesAsItself) {
  for (int c = 0x20; c <= 0x7E; ++c) {
    const auto codes = Typed(std::string(1, static_cast<char>(c)));
    ASSERT_EQ(codes.size(), 1u) << c;
    EXPECT_EQ(codes[0] & 0xFF, c);
    EXPECT_EQ(codes[0] >> 8, UsLayoutKeyOf(static_cast<uint8_t>(c)).Scan) << c;
  }
}

TEST(TerminalKeys, MessagesAreTheWindows) {
  TTerminalKeyDecoder decoder;
  const auto inputs = FeedText(decoder, "A\x1bx\x1b[D", 0);
  ASSERT_EQ(inputs.size(), 3u);
  const std::vector<TKeyMessage> shiftA = {
      {256, 0x10, 0x002A0001}, {256, 0x41, 0x001E0001}, {257, 0x41, 0xC01E0001}, {257, 0x10, 0xC02A0001}};
  const std::vector<TKeyMessage> altX = {
      {260, 0x12, 0x00380001}, {260, 0x58, 0x002D0001}, {261, 0x58, 0xC02D0001}, {261, 0x12, 0xC0380001}};
  const std::vector<TKeyMessage> left = {{256, 0x25, 0x014B0001}, {257, 0x25, 0xC14B0001}};
  EXPECT_EQ(inputs[0].Messages, shiftA);
  EXPECT_EQ(inputs[1].Messages, altX);
  EXPECT_EQ(inputs[2].Messages, left);
}

TEST(TerminalKeys, LoneEscWaitsForTheEscapeTime) {
  TTerminalKeyDecoder decoder;
  EXPECT_TRUE(FeedText(decoder, "\x1b", 100).empty());
  EXPECT_TRUE(FeedText(decoder, "", 140).empty());  // a read without bytes changes nothing
  EXPECT_EQ(decoder.Deadline(), 150u);
  EXPECT_TRUE(decoder.Flush(149).empty());
  EXPECT_EQ(BoardCodes(decoder.Flush(150)), std::vector<uint16_t>{0x011B});
  EXPECT_FALSE(decoder.Deadline().has_value());

  // A key within the escape time is Alt+key; after it, Esc and the key.
  FeedText(decoder, "\x1b", 200);
  EXPECT_EQ(BoardCodes(FeedText(decoder, "x", 249)), std::vector<uint16_t>{0x2D78});
  FeedText(decoder, "\x1b", 300);
  EXPECT_EQ(BoardCodes(FeedText(decoder, "x", 350)), (std::vector<uint16_t>{0x011B, 0x2D78}));

  // A sequence split across reads; the time counts from its last byte.
  EXPECT_TRUE(FeedText(decoder, "\x1b[", 400).empty());
  EXPECT_TRUE(FeedText(decoder, "2", 440).empty());
  EXPECT_EQ(decoder.Deadline(), 490u);
  EXPECT_EQ(BoardCodes(FeedText(decoder, "4~", 480)), std::vector<uint16_t>{0x8600});

  // A clock at its end does not wrap the deadline.
  FeedText(decoder, "\x1b", UINT64_MAX - 10);
  EXPECT_EQ(decoder.Deadline(), UINT64_MAX);
  EXPECT_TRUE(decoder.Flush(UINT64_MAX - 1).empty());
}

TEST(TerminalKeys, CtrlBracketStartsACommand) {
  TTerminalKeyDecoder decoder;
  auto inputs = FeedText(decoder, "a\x1dq", 0);
  ASSERT_EQ(inputs.size(), 2u);
  EXPECT_EQ(inputs[1].Kind, TKind::Command);
  EXPECT_EQ(inputs[1].Command, 'q');

  // The command byte may come later, and may be anything, Ctrl-] and ESC included.
  EXPECT_TRUE(FeedText(decoder, "\x1d", 10).empty());
  EXPECT_TRUE(decoder.CommandPending());
  EXPECT_FALSE(decoder.Deadline().has_value());
  inputs = FeedText(decoder, "]\x1d\x1b", 5000);
  ASSERT_EQ(inputs.size(), 2u);
  EXPECT_EQ(inputs[0].Command, ']');
  EXPECT_EQ(inputs[1].Command, '\x1b');

  // Ctrl-] after ESC still reaches the front-end; the ESC was the Esc key.
  inputs = FeedText(decoder, "\x1b\x1d?", 6000);
  ASSERT_EQ(inputs.size(), 2u);
  EXPECT_EQ(BoardCodes({inputs[0]}), std::vector<uint16_t>{0x011B});
  EXPECT_EQ(inputs[1].Command, '?');

  EXPECT_EQ(BoardCodes({CtrlBracketKey()}), std::vector<uint16_t>{0x1B1D});
}

}  // namespace
}  // namespace keyboard
