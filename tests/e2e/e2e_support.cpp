#include "tests/e2e/e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace e2e {

TTempDir::TTempDir() {
  std::string pattern = (fs::temp_directory_path() / "consolew-e2e-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  Path = pattern;
}

TTempDir::~TTempDir() {
  std::error_code ignored;
  fs::remove_all(Path, ignored);
}

std::optional<std::string> FindTool(const std::string& name) {
  std::string dirs = ::getenv("PATH") ? ::getenv("PATH") : "";
  dirs += ":/usr/sbin:/sbin";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t end = dirs.find(':', start);
    const std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!dir.empty()) {
      const fs::path candidate = fs::path(dir) / name;
      if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return std::nullopt;
}

TRunResult Run(const std::vector<std::string>& argv, double timeoutSeconds,
               const std::vector<std::string>& env) {
  TRunResult result;
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return result;
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    return result;
  }
  std::vector<std::string> args = argv;
  std::vector<char*> cargs;
  for (auto& a : args) cargs.push_back(a.data());
  cargs.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);  // its own group: a time-out ends the children it started too
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    for (const auto& e : env) ::putenv(const_cast<char*>(e.c_str()));
    ::execvp(cargs[0], cargs.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (pid < 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<long long>(timeoutSeconds * 1000));
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.Out, &result.Err};
  int open = 2;
  while (open > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
      result.TimedOut = true;
      ::kill(-pid, SIGKILL);
      break;
    }
    if (::poll(fds, 2, static_cast<int>(std::min<long long>(left, 200))) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) ::close(f.fd);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

TBytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return TBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const TBytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TBytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  TBytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

std::string MakeFatImage(const fs::path& image, unsigned kilobytes, const std::string& label,
                         const std::map<std::string, TBytes>& files) {
  const auto mkfs = FindTool("mkfs.fat");
  const auto mcopy = FindTool("mcopy");
  if (!mkfs || !mcopy) return "mkfs.fat or mcopy missing";
  std::error_code ignored;
  fs::remove(image, ignored);
  const TRunResult made =
      Run({*mkfs, "-C", "-n", label, image.string(), std::to_string(kilobytes)}, 30);
  if (made.Status != 0) return "mkfs.fat failed: " + made.Err;
  const fs::path staging = image.parent_path() / (image.filename().string() + ".files");
  fs::create_directories(staging);
  for (const auto& [name, bytes] : files) {
    WriteFile(staging / name, bytes);
    const TRunResult copied =
        Run({*mcopy, "-i", image.string(), (staging / name).string(), "::/" + name}, 30);
    if (copied.Status != 0) return "mcopy failed: " + copied.Err;
  }
  fs::remove_all(staging, ignored);
  return "";
}

std::optional<TBytes> ExtractFile(const fs::path& image, const std::string& name,
                                  const fs::path& scratch) {
  const auto mcopy = FindTool("mcopy");
  if (!mcopy) return std::nullopt;
  const fs::path out = scratch / ("extracted-" + name);
  std::error_code ignored;
  fs::remove(out, ignored);
  const TRunResult r = Run({*mcopy, "-n", "-i", image.string(), "::/" + name, out.string()}, 30);
  if (r.Status != 0) return std::nullopt;
  return ReadFile(out);
}

std::optional<std::string> JsonField(const std::string& json, const std::string& key) {
  const std::string quoted = "\"" + key + "\":";
  const size_t at = json.find(quoted);
  if (at == std::string::npos) return std::nullopt;
  size_t start = at + quoted.size();
  size_t end = start;
  if (end < json.size() && json[end] == '"') {
    end = json.find('"', end + 1);
    if (end == std::string::npos) return std::nullopt;
    return json.substr(start + 1, end - start - 1);
  }
  if (end < json.size() && json[end] == '[') {
    end = json.find(']', end);
    if (end == std::string::npos) return std::nullopt;
    return json.substr(start, end - start + 1);
  }
  while (end < json.size() && json[end] != ',' && json[end] != '}') ++end;
  return json.substr(start, end - start);
}

double JsonNumber(const std::string& json, const std::string& key) {
  const auto v = JsonField(json, key);
  if (!v) return std::nan("");
  try {
    return std::stod(*v);
  } catch (...) {
    return std::nan("");
  }
}

bool JsonTrue(const std::string& json, const std::string& key) {
  const auto v = JsonField(json, key);
  return v && *v == "true";
}

std::vector<size_t> CorruptSectors(const TBytes& before, const TBytes& written,
                                   const TBytes& result) {
  std::vector<size_t> bad;
  const size_t sectors = result.size() / kSector;
  auto same = [](const TBytes& a, const TBytes& b, size_t at) {
    return a.size() >= at + kSector && std::memcmp(a.data() + at, b.data() + at, kSector) == 0;
  };
  for (size_t s = 0; s < sectors; ++s) {
    const size_t at = s * kSector;
    if (!same(before, result, at) && !same(written, result, at)) bad.push_back(s);
  }
  if (result.size() != before.size()) bad.push_back(sectors);  // the file changed size
  return bad;
}

std::string ConsolePath() { return CONSOLEW_E2E_CONSOLE; }
std::string BoardSimPath() { return CONSOLEW_E2E_BOARDSIM; }

std::optional<std::string> MissingFatTools() {
  for (const char* tool : {"mkfs.fat", "mcopy", "fsck.fat"}) {
    if (!FindTool(tool)) return std::string(tool) + " is not installed (Debian package dosfstools/mtools)";
  }
  return std::nullopt;
}

TRunResult RunBoardSim(const std::vector<std::string>& boardArgs, const std::vector<std::string>& consoleArgs,
                       const std::vector<std::string>& env) {
  std::vector<std::string> argv{BoardSimPath(), "--unpaced", "--timeout", "20"};
  argv.insert(argv.end(), boardArgs.begin(), boardArgs.end());
  argv.insert(argv.end(), {"--console", ConsolePath(), "--"});
  argv.insert(argv.end(), consoleArgs.begin(), consoleArgs.end());
  return Run(argv, kBoardRunSeconds, env);
}

std::string LastJsonLine(const std::string& out) {
  std::string json;
  size_t start = 0;
  while (start < out.size()) {
    const size_t end = out.find('\n', start);
    const std::string line = out.substr(start, end == std::string::npos ? end : end - start);
    if (!line.empty() && line[0] == '{') json = line;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return json;
}

}  // namespace e2e
