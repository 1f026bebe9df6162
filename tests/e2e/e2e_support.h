// Helpers of the end-to-end tests: scratch directories, FAT diskettes made with
// the system's mkfs.fat and mcopy, running programs with a time limit, and
// reading the one-line JSON results of board-sim.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

using TBytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

inline constexpr size_t kSector = 512;

// A fresh directory under the system's temporary directory, removed at the end.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  fs::path operator/(const std::string& name) const { return Path / name; }
  const fs::path& path() const { return Path; }

 private:
  fs::path Path;
};

// The program's full path when it is installed (PATH, /usr/sbin, /sbin).
std::optional<std::string> FindTool(const std::string& name);

struct TRunResult {
  int Status = -1;     // exit status; 128+signal; -1 when it could not start
  std::string Out;     // standard output
  std::string Err;     // standard error
  bool TimedOut = false;
};

// Runs argv[0] with the arguments, killing it after `timeoutSeconds`.
// `env` entries ("NAME=value") are added to the environment.
TRunResult Run(const std::vector<std::string>& argv, double timeoutSeconds,
               const std::vector<std::string>& env = {});

TBytes ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const TBytes& bytes);
// Reproducible content: bytes of a seeded generator.
TBytes RandomBytes(size_t n, uint32_t seed);

// A FAT diskette of `kilobytes` (360, 720, 1440) with a label and the files
// (8.3 names in the root). Returns an error text, empty on success.
std::string MakeFatImage(const fs::path& image, unsigned kilobytes, const std::string& label,
                         const std::map<std::string, TBytes>& files);
// Copies one file out of the image with mcopy; nothing when mcopy fails.
std::optional<TBytes> ExtractFile(const fs::path& image, const std::string& name,
                                  const fs::path& scratch);

// The value of "key" in a flat JSON object line, as its raw text.
std::optional<std::string> JsonField(const std::string& json, const std::string& key);
double JsonNumber(const std::string& json, const std::string& key);  // NaN when absent
bool JsonTrue(const std::string& json, const std::string& key);

// Sectors of `result` that are neither the sector of `before` nor that of
// `written` at the same place: each one is a corrupted sector.
std::vector<size_t> CorruptSectors(const TBytes& before, const TBytes& written,
                                   const TBytes& result);

// How long a board-sim script with its console may take (longer under the sanitizers).
#ifdef CONSOLEW_E2E_SLOW
inline constexpr double kBoardRunSeconds = 110;
#else
inline constexpr double kBoardRunSeconds = 55;
#endif

// Runs board-sim unpaced (giving up the handshake after 20 s) with
// `boardArgs`, the console started as its child with `consoleArgs`.
TRunResult RunBoardSim(const std::vector<std::string>& boardArgs, const std::vector<std::string>& consoleArgs,
                       const std::vector<std::string>& env = {});
// The last line of `out` that starts with '{' (board-sim's JSON result); empty when none.
std::string LastJsonLine(const std::string& out);

// Build outputs, from the compile definitions of the test targets.
std::string ConsolePath();
std::string BoardSimPath();

// Tools the image tests need; the reason to skip when one is missing.
std::optional<std::string> MissingFatTools();

}  // namespace e2e
