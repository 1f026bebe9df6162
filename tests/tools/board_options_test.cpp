#include "tools/board_options.h"

#include <gtest/gtest.h>

namespace boardsim {
namespace {

std::optional<TBoardOptions> Parse(std::vector<std::string> args, std::string* err = nullptr) {
  std::string e;
  auto o = ParseBoardOptions(args, e);
  if (err) *err = e;
  return o;
}

TEST(BoardOptionsTest, DefaultsArePacedDemo) {
  const auto o = Parse({});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->BitsPerSecond, 115200u);
  EXPECT_EQ(o->Script, TScriptKind::Demo);
  EXPECT_FALSE(o->Faults.Any());
}

TEST(BoardOptionsTest, ScriptsAndFaults) {
  const auto o = Parse({"--unpaced", "--script", "read-image", "out.img", "--bit-errors", "1e-4",
                        "--one-bit-per-packet", "--drop", "0.001", "--nak-every", "5",
                        "--stall-every", "7", "--reboot-in-transfer", "3", "--noise-burst",
                        "--seed", "99", "--image", "a.img", "--", "--extra", "x"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->BitsPerSecond, 0u);
  EXPECT_EQ(o->Script, TScriptKind::ReadImage);
  EXPECT_EQ(o->ScriptPath, "out.img");
  EXPECT_DOUBLE_EQ(o->Faults.BitErrorRate, 1e-4);
  EXPECT_TRUE(o->Faults.OneBitPerPacket);
  EXPECT_DOUBLE_EQ(o->Faults.DropRate, 0.001);
  EXPECT_EQ(o->Faults.NakEvery, 5u);
  EXPECT_EQ(o->Faults.StallEvery, 7u);
  EXPECT_EQ(o->Faults.RebootInTransfer, 3u);
  EXPECT_TRUE(o->Faults.NoiseBurst);
  EXPECT_EQ(o->Faults.Seed, 99u);
  EXPECT_EQ(o->Image, "a.img");
  EXPECT_EQ(o->ConsoleArgs, (std::vector<std::string>{"--extra", "x"}));
}

TEST(BoardOptionsTest, CountScripts) {
  auto o = Parse({"--script", "ping", "100"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->Script, TScriptKind::Ping);
  EXPECT_EQ(o->ScriptCount, 100u);
  o = Parse({"--script", "keys", "4", "--timeout", "2.5"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->Script, TScriptKind::Keys);
  EXPECT_DOUBLE_EQ(*o->TimeoutSeconds, 2.5);
}

TEST(BoardOptionsTest, BadCommandLinesAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"--bit-errors", "2"},       {"--bit-errors", "x"},  {"--drop", "-0.1"},
      {"--nak-every", "-1"},       {"--seed"},             {"--script", "dance"},
      {"--script", "ping", "ten"}, {"--timeout", "0"},     {"--ack-timeout", "0"},
      {"--frobnicate"},            {"--script", "read-image"},
  };
  for (const auto& args : bad) {
    std::string err;
    EXPECT_FALSE(Parse(args, &err)) << args[0];
    EXPECT_FALSE(err.empty()) << args[0];
  }
}

TEST(BoardOptionsTest, HelpStatesTheChecksumLimit) {
  const std::string usage = BoardUsage();
  EXPECT_NE(usage.find("two 0->1 flips of bit 7"), std::string::npos);
  EXPECT_NE(usage.find("--reboot-in-transfer"), std::string::npos);
}

}  // namespace
}  // namespace boardsim
