// The trace file of the real console (--headless --trace) while board-sim
// boots its demo, reads a whole diskette, and writes one with NAKs on the
// line: selected lines read as the exchanges they record, and the statistics
// at Disconnect agree with the lines and with what the board counted.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/e2e/e2e_support.h"

namespace {

using namespace std::chrono_literals;
using e2e::TBytes;


std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A line without its time: "< req   disk ...".
std::string Body(const std::string& line) {
  const size_t time = line.find_first_not_of(' ');
  const size_t space = line.find(' ', time == std::string::npos ? 0 : time);
  return space == std::string::npos ? std::string() : line.substr(space + 1);
}

size_t CountBodies(const std::vector<std::string>& lines, const std::string& prefix) {
  size_t n = 0;
  for (const auto& l : lines) n += Body(l).rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}

// Lines starting with `prefix` that the host answered with 0x55 (the next line).
size_t CountAcked(const std::vector<std::string>& lines, const std::string& prefix) {
  size_t n = 0;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    n += Body(lines[i]).rfind(prefix, 0) == 0 && Body(lines[i + 1]) == "> ack" ? 1 : 0;
  }
  return n;
}

// The index of the first line whose body starts with `prefix`, from `from` on.
size_t Find(const std::vector<std::string>& lines, const std::string& prefix, size_t from = 0) {
  for (size_t i = from; i < lines.size(); ++i) {
    if (Body(lines[i]).rfind(prefix, 0) == 0) return i;
  }
  return lines.size();
}

// The statistics at Disconnect: the number after "# LABEL: ".
long Stat(const std::vector<std::string>& lines, const std::string& label) {
  const size_t i = Find(lines, "# " + label + ": ");
  if (i == lines.size()) return -1;
  return std::stol(Body(lines[i]).substr(label.size() + 4));
}

// Every line starts with its time since Connect, a direction and something after it.
void ExpectWellFormed(const std::vector<std::string>& lines) {
  static const std::regex kLine(R"( *\d+\.\d{6} [<>!#] \S.*)");
  size_t bad = 0;
  for (const auto& l : lines) {
    if (!std::regex_match(l, kLine) && ++bad <= 3) ADD_FAILURE() << "line: " << l;
  }
  EXPECT_EQ(bad, 0u);
}

class TraceE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto missing = e2e::MissingFatTools()) GTEST_SKIP() << *missing;
  }

  // board-sim (unpaced) running a script with the console as its child; the
  // trace as the console left it.
  std::string RunScript(std::vector<std::string> args) {
    Last = e2e::RunBoardSim(args, {"--headless", "--trace", TracePath()});
    EXPECT_FALSE(Last.TimedOut) << Last.Err;
    return e2e::LastJsonLine(Last.Out);
  }

  std::string TracePath() const { return (Dir / "wire.trace").string(); }
  std::string Trace() const {
    const TBytes bytes = e2e::ReadFile(Dir / "wire.trace");
    return std::string(bytes.begin(), bytes.end());
  }

  e2e::TTempDir Dir;
  e2e::TRunResult Last;
};

TEST_F(TraceE2E, DemoBoot) {
  const auto image = Dir / "demo.img";
  const std::string readme = "Nerova demo diskette.\r\n";
  ASSERT_EQ(e2e::MakeFatImage(image, 1440, "DEMO", {{"README.TXT", TBytes(readme.begin(), readme.end())}}), "");
  std::vector<std::string> args{e2e::BoardSimPath(), "--unpaced", "--image", image.string(),
                                "--console", e2e::ConsolePath(), "--", "--headless", "--trace", TracePath()};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  // The boot is over once the board polls the keyboard in its echo loop.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(static_cast<int>(e2e::kBoardRunSeconds));
  while (Trace().find("| check key: no key\n") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  ::kill(pid, SIGTERM);  // board-sim ends its console (which writes the statistics), then itself
  int status = 0;
  ::waitpid(pid, &status, 0);
  const std::vector<std::string> lines = Lines(Trace());
  ASSERT_GT(lines.size(), 100u) << Trace();
  ExpectWellFormed(lines);

  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"( +0\.\d{6} # connect COM1 /dev/pts/\d+ at \d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")))
      << lines[0];
  // The handshake and its reply with the three services.
  const size_t hello = Find(lines, "< req   handshake AX=4E56 BX=0001 CX=0000 DX=0101 | ping");
  ASSERT_LT(hello + 3, lines.size()) << Trace();
  EXPECT_EQ(Body(lines[hello + 1]), "> ack");
  EXPECT_EQ(Body(lines[hello + 2]),
            "> reply handshake AX=4E56 BX=0001 CX=0007 DX=0101 Code=00 Flags=0000 | ping: options 7 keyboard video floppy");
  EXPECT_EQ(Body(lines[hello + 3]), "< ack");
  // The desktop: a blue window, then the title by teletype.
  EXPECT_LT(Find(lines, "< req   video     AX=0600 BX=1700 CX=0000 DX=144F | scroll up window 0,0-79,20 by 0 (blank) attr 17"),
            lines.size());
  const size_t title = Find(lines, "< req   video     AX=0E4E BX=0000 CX=0000 DX=0000 | teletype 'N'");
  ASSERT_LT(title + 2, lines.size());
  EXPECT_EQ(Body(lines[title + 1]), "> ack");
  EXPECT_EQ(Body(lines[title + 2]), "< req   video     AX=0E65 BX=0000 CX=0000 DX=0000 | teletype 'e'");
  // The boot sector read for the directory: request, reply, one block the board takes.
  const size_t boot = Find(lines, "< req   disk      AX=0201 BX=0000 CX=0001 DX=0000 | read C0 H0 S1 x1");
  ASSERT_LT(boot + 5, lines.size()) << Trace();
  EXPECT_EQ(Body(lines[boot + 2]),
            "> reply disk      AX=0001 BX=0000 CX=0001 DX=0000 Code=00 Flags=0000 | read: ok, 1 block to follow");
  EXPECT_EQ(Body(lines[boot + 4]), "> block #0 of 1: EB 3C 90 6D 6B 66 73 2E ..., checksum ok");  // "mkfs."
  EXPECT_EQ(Body(lines[boot + 5]), "< ack");

  // The statistics at Disconnect count what the lines show.
  const size_t bye = Find(lines, "# disconnect");
  ASSERT_LT(bye, lines.size()) << "no statistics: " << Trace();
  std::ostringstream requests;
  requests << "# Requests: " << CountAcked(lines, "< req") << " (handshake " << CountAcked(lines, "< req   handshake")
           << ", video " << CountAcked(lines, "< req   video") << ", disk " << CountAcked(lines, "< req   disk")
           << ", keyboard " << CountAcked(lines, "< req   keyboard") << ", upload 0, unknown 0)";
  EXPECT_EQ(Body(lines[bye + 2]), requests.str());
  EXPECT_GT(CountAcked(lines, "< req   video"), 100u);
  EXPECT_EQ(Stat(lines, "Blocks sent"), static_cast<long>(CountBodies(lines, "> block")));
  EXPECT_EQ(Stat(lines, "Replies sent"),
            static_cast<long>(CountBodies(lines, "> reply") - CountBodies(lines, "! resend reply")));
}

TEST_F(TraceE2E, WholeImageRead) {
  const auto image = Dir / "served.img";
  ASSERT_EQ(e2e::MakeFatImage(image, 1440, "SERVED", {{"DATA.BIN", e2e::RandomBytes(300000, 5)}}), "");
  const TBytes content = e2e::ReadFile(image);
  const std::string json = RunScript({"--script", "read-image", (Dir / "out.img").string(), "--image", image.string()});
  ASSERT_EQ(Last.Status, 0) << json << Last.Err;
  const std::vector<std::string> lines = Lines(Trace());
  ExpectWellFormed(lines);

  const size_t first = Find(lines, "< req   disk      AX=0212 BX=0000 CX=0001 DX=0000 | read C0 H0 S1 x18");
  ASSERT_LT(first + 40, lines.size()) << Trace().substr(0, 4000);
  EXPECT_EQ(Body(lines[first + 2]),
            "> reply disk      AX=0012 BX=0000 CX=0001 DX=0000 Code=00 Flags=0000 | read: ok, 18 blocks to follow");
  char block[96];
  std::snprintf(block, sizeof block, "> block #0 of 18: %02X %02X %02X %02X %02X %02X %02X %02X ..., checksum ok",
                content[0], content[1], content[2], content[3], content[4], content[5], content[6], content[7]);
  EXPECT_EQ(Body(lines[first + 4]), block);
  EXPECT_EQ(Body(lines[first + 38]).rfind("> block #17 of 18: ", 0), 0u) << lines[first + 38];
  EXPECT_EQ(Body(lines[first + 39]), "< ack");
  EXPECT_LT(Find(lines, "< req   disk      AX=0212 BX=0000 CX=4F01 DX=0100 | read C79 H1 S1 x18"), lines.size());

  // 160 tracks and the boot sector first; nothing went wrong.
  EXPECT_EQ(CountBodies(lines, "> block"), 2881u);
  EXPECT_EQ(Stat(lines, "Blocks sent"), 2881);
  EXPECT_NE(Trace().find(", disk 161, keyboard 0, upload 0, unknown 0)\n"), std::string::npos);
  for (const char* zero : {"NAKs sent", "NAKs received", "Resends", "Dropped requests", "Watchdog aborts"}) {
    EXPECT_EQ(Stat(lines, zero), 0) << zero;
  }
}

TEST_F(TraceE2E, WriteWithNaksShowsEachRefusalAndItsResend) {
  const auto served = Dir / "served.img";
  const auto source = Dir / "source.img";
  ASSERT_EQ(e2e::MakeFatImage(served, 720, "BLANK", {}), "");
  ASSERT_EQ(e2e::MakeFatImage(source, 720, "WRITTEN", {{"DATA.BIN", e2e::RandomBytes(200000, 9)}}), "");
  const std::string json = RunScript(
      {"--script", "write-image", source.string(), "--image", served.string(), "--nak-every", "7", "--seed", "4"});
  ASSERT_EQ(Last.Status, 0) << json << Last.Err;
  EXPECT_TRUE(e2e::ReadFile(served) == e2e::ReadFile(source));
  const std::vector<std::string> lines = Lines(Trace());
  ExpectWellFormed(lines);

  // A track: the request, the go-ahead, nine blocks taken, the result.
  const size_t first = Find(lines, "< req   disk      AX=0309 BX=0000 CX=0001 DX=0000 | write C0 H0 S1 x9");
  ASSERT_LT(first, lines.size()) << Trace().substr(0, 4000);
  const size_t goAhead = Find(lines, "> reply disk", first);
  EXPECT_EQ(Body(lines[goAhead]),
            "> reply disk      AX=0309 BX=0000 CX=0001 DX=0000 Code=0A Flags=0000 | write: send 9 blocks");
  const size_t block0 = Find(lines, "< block #0 of 9: ", first);
  EXPECT_EQ(Body(lines[block0 + 1]), "> ack");
  const size_t block8 = Find(lines, "< block #8 of 9: ", first);
  const size_t result = Find(lines, "> reply disk", block8);
  ASSERT_LT(result, lines.size());
  EXPECT_NE(lines[block8].find(", checksum ok"), std::string::npos) << lines[block8];
  EXPECT_EQ(Body(lines[result]),
            "> reply disk      AX=0009 BX=0000 CX=0001 DX=0000 Code=0A Flags=0000 | write: ok");

  // Every refusal: the board's NAK, a resend line, the same packet again.
  const long naks = static_cast<long>(e2e::JsonNumber(json, "naks_injected"));
  ASSERT_GT(naks, 0) << json;
  size_t resends = 0;
  for (size_t i = 2; i + 1 < lines.size(); ++i) {
    if (Body(lines[i]).rfind("! resend ", 0) != 0) continue;
    ++resends;
    EXPECT_EQ(Body(lines[i - 1]), "< nak") << i;
    const std::string kind = Body(lines[i]) == "! resend reply, try 2 of 3" ? "> reply" : "> block";
    EXPECT_EQ(Body(lines[i - 2]).rfind(kind, 0), 0u) << lines[i - 2];
    EXPECT_EQ(Body(lines[i + 1]), Body(lines[i - 2])) << "line " << i;
  }
  EXPECT_EQ(static_cast<long>(resends), naks);
  EXPECT_EQ(static_cast<long>(CountBodies(lines, "< nak")), naks);
  EXPECT_EQ(Stat(lines, "NAKs received"), naks);
  EXPECT_EQ(Stat(lines, "Resends"), naks);
  EXPECT_EQ(Stat(lines, "Blocks received"), 1440);  // every sector of the 720 KB diskette
  EXPECT_EQ(Stat(lines, "NAKs sent"), 0);
}

TEST(TraceOption, AFileThatCannotBeOpenedStopsTheStartWithItsReason) {
  const auto r = e2e::Run({e2e::ConsolePath(), "--headless", "--com1", "/dev/null", "--trace", "/no/such/dir/wire.trace"},
                          30);
  ASSERT_FALSE(r.TimedOut);
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "consolew: --trace /no/such/dir/wire.trace: No such file or directory\n");
}

}  // namespace
