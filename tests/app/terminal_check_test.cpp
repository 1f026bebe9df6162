// Whether --terminal takes the invoking terminal, and how it draws there: by
// TERM (known families, else the terminal database's cursor address), the
// locale (UTF-8 or the DEC line-drawing set) and COLORTERM.
#include "app/terminal_check.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace {

using TEnv = std::map<std::string, std::string>;

app::TEnvLookup Lookup(const TEnv& env) {
  return [&env](const char* name) -> const char* {
    const auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  };
}

TEST(TerminalCheck, LocaleIsUtf8AsTheCLibraryPicksIt) {
  const std::pair<TEnv, bool> cases[] = {
      {{}, false},
      {{{"LANG", "C.UTF-8"}}, true},
      {{{"LANG", "en_US.utf8"}}, true},
      {{{"LANG", "de_DE.UTF-8@euro"}}, true},
      {{{"LANG", "C"}}, false},
      {{{"LANG", "C.UTF-8"}, {"LC_ALL", "C"}}, false},
      {{{"LANG", "C.UTF-8"}, {"LC_CTYPE", "de_DE.ISO-8859-1"}}, false},
      {{{"LANG", "POSIX"}, {"LC_CTYPE", "en_GB.UTF-8"}}, true},
      {{{"LANG", "C.UTF-8"}, {"LC_ALL", ""}}, true},  // empty counts as unset
  };
  for (const auto& [env, utf8] : cases) {
    EXPECT_EQ(app::LocaleIsUtf8(Lookup(env)), utf8) << (env.empty() ? "" : env.begin()->second);
  }
}

class TerminalCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = std::filesystem::temp_directory_path() / ("consolew-terminfo-" + std::to_string(::getpid()));
    std::filesystem::create_directories(Dir);
    const auto source = Dir / "entries.src";
    std::ofstream(source) << "myterm|a terminal with xterm's addressing,\n\tcup=\\E[%i%p1%d;%p2%dH, clear=\\E[H\\E[2J,\n"
                             "oldterm|a VT52-like one,\n\tcup=\\EY%p1%' '%+%c%p2%' '%+%c, clear=\\EH\\EJ,\n"
                             "nocup|none at all,\n\tbel=^G,\n";
    const std::string command = "tic -o '" + Dir.string() + "' '" + source.string() + "' 2>/dev/null";
    Compiled = std::system(command.c_str()) == 0;
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }

  std::filesystem::path Dir;
  bool Compiled = false;
};

TEST_F(TerminalCheckTest, KnownFamiliesTheDatabaseAndTheRest) {
  struct TCase {
    const char* Term;  // null: unset
    bool Usable;
    const char* Why;
    bool NeedsDatabase;
  };
  const TCase cases[] = {
      {nullptr, false, "TERM is not set", false},
      {"dumb", false, "TERM=dumb: no cursor addressing", false},
      {"xterm-256color", true, "", false},
      {"screen.xterm-256color", true, "", false},
      {"tmux-256color", true, "", false},
      {"st-256color", true, "", false},
      {"vt220", true, "", false},
      {"linux", true, "", false},
      {"xtermish", false, "TERM=xtermish: not in the terminal database", false},
      {"../../etc/passwd", false, "TERM=../../etc/passwd: not a terminal's name", false},
      {"myterm", true, "", true},
      {"oldterm", false, "TERM=oldterm: its cursor addressing is not xterm's", true},
      {"nocup", false, "TERM=nocup: no cursor addressing", true},
  };
  for (const TCase& c : cases) {
    if (c.NeedsDatabase && !Compiled) continue;
    TEnv env{{"TERMINFO_DIRS", Dir.string()}, {"LANG", "C.UTF-8"}};
    if (c.Term != nullptr) env["TERM"] = c.Term;
    const app::TTerminalCheck check = app::CheckTerminal(Lookup(env));
    EXPECT_EQ(check.Usable, c.Usable) << (c.Term ? c.Term : "unset");
    EXPECT_EQ(check.Why, c.Why) << (c.Term ? c.Term : "unset");
  }
  if (!Compiled) GTEST_SKIP() << "tic could not compile the test entries";
}

TEST_F(TerminalCheckTest, StyleFollowsTheConsoleTheLocaleAndColorterm) {
  TEnv env{{"TERM", "linux"}, {"LANG", "C"}};
  app::TTerminalCheck check = app::CheckTerminal(Lookup(env));
  EXPECT_TRUE(check.Style.LinuxConsole);
  EXPECT_FALSE(check.Style.Utf8);
  EXPECT_FALSE(check.Style.TrueColor);
  env = {{"TERM", "xterm-256color"}, {"LC_ALL", "en_US.UTF-8"}, {"COLORTERM", "truecolor"}};
  check = app::CheckTerminal(Lookup(env));
  EXPECT_FALSE(check.Style.LinuxConsole);
  EXPECT_TRUE(check.Style.Utf8);
  EXPECT_TRUE(check.Style.TrueColor);
}

TEST(TerminalCheck, CompiledEntriesThatAreNotSuchAreRefused) {
  EXPECT_EQ(app::TerminfoCursorAddress(""), std::nullopt);
  EXPECT_EQ(app::TerminfoCursorAddress(std::string(12, '\0')), std::nullopt);
  // A header whose sizes run past the end of the bytes.
  std::string entry = {'\x1a', '\x01', '\x10', '\x00', '\x00', '\x00', '\x00', '\x00', '\x20', '\x00', '\x40', '\x7f'};
  entry += "name";
  EXPECT_EQ(app::TerminfoCursorAddress(entry), std::nullopt);
}

TEST(TerminalCheck, DatabaseDirectoriesInNcursesOrder) {
  const TEnv env{{"TERMINFO", "/a"}, {"HOME", "/home/u"}, {"TERMINFO_DIRS", "/b::/c"}};
  EXPECT_EQ(app::TerminfoDirs(Lookup(env)),
            (std::vector<std::string>{"/a", "/home/u/.terminfo", "/b", "/etc/terminfo", "/lib/terminfo",
                                      "/usr/share/terminfo", "/c"}));
}

}  // namespace
