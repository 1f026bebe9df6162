// Ctrl-] h's player: which output of a recording is due when.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontends/cast_player.h"

namespace {

const std::string kHeader = "{\"version\": 2, \"width\": 80, \"height\": 25, \"title\": \"COM1\"}\n";

TEST(CastPlayerTest, PausesShortenedAndPlayedFourTimesAsFast) {
  struct TCase {
    const char* Name;
    std::string Cast;
    bool Loads;
    std::vector<std::pair<uint64_t, std::string>> Due;  // elapsed ms, output due by then (in turn)
  };
  const std::vector<TCase> cases = {
      {"no header", "[0.0, \"o\", \"a\"]\n", false, {}},
      {"version 1", "{\"version\": 1}\n[0.0, \"o\", \"a\"]\n", false, {}},
      {"markers only", kHeader + "[0.0, \"m\", \"connect COM1\"]\n", false, {}},
      {"times",
       kHeader + "[5.0, \"o\", \"a\"]\n[5.4, \"o\", \"b\"]\n[30.0, \"o\", \"c\"]\n[30.2, \"o\", \"d\"]\n",
       true,
       {{0, "a"}, {99, ""}, {100, "b"}, {349, ""}, {400, "cd"}, {100000, ""}}},
      {"garbage and markers skipped, time going back counts as no pause",
       kHeader + "not json\n[1.0, \"o\", \"a\"]\n[1.5, \"m\", \"x\"]\n[0.5, \"o\", \"b\"]\n[2, \"o\", 7]\n"
                 "[1.4, \"o\", \"c\"]\n",
       true,
       {{0, "ab"}, {50, ""}, {100, "c"}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    app::TCastPlayer player;
    ASSERT_EQ(player.Load(c.Cast), c.Loads);
    for (const auto& [at, want] : c.Due) EXPECT_EQ(player.Due(at), want) << at;
    if (c.Loads) {
      EXPECT_TRUE(player.Done());
    }
  }
}

}  // namespace
