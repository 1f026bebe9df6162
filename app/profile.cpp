#include "app/profile.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "app/config_file.h"

namespace app {

namespace {

// Options that are no console setting: a file naming them is a mistake.
constexpr std::array<std::string_view, 8> kNotInFile = {"config", "profile", "print-config", "help",
                                                        "version", "list",   "attach",       "take"};
// Options of which one given on the command line replaces the others from the file.
constexpr std::array<std::array<std::string_view, 2>, 2> kEitherOr = {{{"terminal", "headless"}, {"port1", "port2"}}};
// How a flag is switched in the file.
struct TBool {
  std::string_view Text;
  bool Value;
};
constexpr std::array<TBool, 8> kBools = {{{"true", true},
                                          {"yes", true},
                                          {"on", true},
                                          {"1", true},
                                          {"false", false},
                                          {"no", false},
                                          {"off", false},
                                          {"0", false}}};

// One option as an argument, with where it came from.
struct TSetting {
  std::string Name;  // without dashes
  std::string Value;
  bool Flag = false;
  std::string From;  // "FILE:LINE" or "command line"
  std::vector<std::string> Args() const {
    return Flag ? std::vector<std::string>{"--" + Name} : std::vector<std::string>{"--" + Name + "=" + Value};
  }
};

TParseResult Fail(const std::string& why) {
  TParseResult r;
  r.ExitCode = 2;
  r.Message = "consolew: " + why + "\n";
  return r;
}

std::string FirstLine(const std::string& message) {
  std::string line = message.substr(0, message.find('\n'));
  if (line.rfind("consolew: ", 0) == 0) line.erase(0, 10);
  return line;
}

bool InGroupWith(std::string_view a, std::string_view b) {
  for (const auto& group : kEitherOr) {
    const bool hasA = a == group[0] || a == group[1];
    const bool hasB = b == group[0] || b == group[1];
    if (hasA && hasB) return true;
  }
  return false;
}

// The profile's keys as settings; empty `error` when all are good.
std::vector<TSetting> Translate(const TConfigFile& file, const TConfigSection& section, std::string& error) {
  std::vector<TSetting> settings;
  for (const TConfigEntry& e : section.Entries) {
    const std::string where = file.Path + ":" + std::to_string(e.Line) + ": key '" + e.Key + "'";
    bool excluded = false;
    for (auto name : kNotInFile) excluded = excluded || name == e.Key;
    const TOptionKind kind = excluded ? TOptionKind::Unknown : OptionKind("--" + e.Key);
    if (excluded) {
      error = where + ": not a setting of a console (use it on the command line)";
      return {};
    }
    if (kind == TOptionKind::Unknown) {
      error = where + ": unknown key (keys are the long options, e.g. com1, image, read-only)";
      return {};
    }
    if (kind == TOptionKind::Value) {
      if (e.Value.empty()) {
        error = where + ": needs a value";
        return {};
      }
      settings.push_back({e.Key, e.Value, false, file.Path + ":" + std::to_string(e.Line)});
      continue;
    }
    const TBool* b = nullptr;
    for (const TBool& candidate : kBools) {
      if (candidate.Text == e.Value) b = &candidate;
    }
    if (b == nullptr) {
      error = where + ": '" + e.Value + "' is not true or false";
      return {};
    }
    if (b->Value) settings.push_back({e.Key, "true", true, file.Path + ":" + std::to_string(e.Line)});
  }
  return settings;
}

std::vector<std::string> ArgsOf(const std::vector<TSetting>& settings) {
  std::vector<std::string> args;
  for (const auto& s : settings) {
    for (auto& a : s.Args()) args.push_back(std::move(a));
  }
  return args;
}

// The command line's own options as settings, for --print-config.
std::vector<TSetting> CommandLineSettings(const std::vector<std::string>& args) {
  std::vector<TSetting> out;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("--", 0) != 0) continue;
    const size_t eq = a.find('=');
    const std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    const TOptionKind kind = OptionKind("--" + name);
    if (kind == TOptionKind::Flag) out.push_back({name, "true", true, "command line"});
    if (kind == TOptionKind::Value) {
      const std::string value = eq != std::string::npos ? a.substr(eq + 1) : i + 1 < args.size() ? args[++i] : "";
      out.push_back({name, value, false, "command line"});
    }
  }
  return out;
}

std::string PrintConfig(const std::vector<TSetting>& file, const std::vector<TSetting>& commandLine,
                        const std::string& profile) {
  std::string out = profile.empty() ? "# no profile\n" : "# profile [" + profile + "]\n";
  std::vector<TSetting> all = file;
  for (const TSetting& s : commandLine) {
    std::erase_if(all, [&](const TSetting& f) { return f.Name == s.Name || InGroupWith(f.Name, s.Name); });
    all.push_back(s);
  }
  for (const char* name : {"com1", "com2"}) {
    bool given = false;
    for (const auto& s : all) given = given || s.Name == name;
    if (!given) all.push_back({name, name == std::string("com1") ? "/dev/ttyS0" : "/dev/ttyS1", false, "default"});
  }
  for (const TSetting& s : all) out += s.Name + " = " + s.Value + "    # " + s.From + "\n";
  return out;
}

}  // namespace

TConfigPlaces DefaultConfigPlaces() {
  TConfigPlaces places;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (xdg != nullptr && *xdg != '\0') {
    places.Defaults.push_back(std::string(xdg) + "/consolew/consolew.conf");
  } else if (home != nullptr && *home != '\0') {
    places.Defaults.push_back(std::string(home) + "/.config/consolew/consolew.conf");
  }
  places.Defaults.emplace_back("/etc/consolew/consolew.conf");
  places.Read = [](const std::string& path, std::string& text) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return EISDIR;
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) return errno != 0 ? errno : ENOENT;
    // Bounded: --config /dev/zero or a log named by mistake is refused, not read for ever.
    std::string got(kMaxConfigBytes + 1, '\0');
    in.read(got.data(), static_cast<std::streamsize>(got.size()));
    if (in.bad()) return EIO;
    if (static_cast<std::size_t>(in.gcount()) > kMaxConfigBytes) return EFBIG;
    got.resize(static_cast<std::size_t>(in.gcount()));
    text = std::move(got);
    return 0;
  };
  return places;
}

TParseResult ParseCommandLine(const std::vector<std::string>& args, const TConfigPlaces& places) {
  std::string configPath;
  std::string profile;
  bool print = false;
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const auto value = [&](std::string_view name, std::string& into) {
      if (a == name) {
        if (i + 1 >= args.size() || args[i + 1].empty()) return false;
        into = args[++i];
        return true;
      }
      if (a.rfind(std::string(name) + "=", 0) == 0 && a.size() > name.size() + 1) {
        into = a.substr(name.size() + 1);
        return true;
      }
      return a != name && a.rfind(std::string(name) + "=", 0) != 0;
    };
    if (a == "--print-config") {
      print = true;
    } else if (a == "--config" || a.rfind("--config=", 0) == 0) {
      if (!value("--config", configPath)) return Fail("--config needs a file name");
    } else if (a == "--profile" || a.rfind("--profile=", 0) == 0) {
      if (!value("--profile", profile)) return Fail("--profile needs a profile name");
    } else if (i == 0 && !a.empty() && a[0] != '-') {
      profile = a;  // consolew NAME
    } else {
      rest.push_back(a);
    }
  }

  std::vector<TSetting> fileSettings;
  if (!profile.empty()) {
    std::string path = configPath;
    std::string text;
    int err = ENOENT;
    if (path.empty()) {
      for (const std::string& candidate : places.Defaults) {
        err = places.Read(candidate, text);
        path = candidate;
        if (err != ENOENT) break;
      }
      if (err == ENOENT) {
        std::string where;
        for (const auto& d : places.Defaults) where += (where.empty() ? "" : ", ") + d;
        return Fail("profile '" + profile + "': no config file (looked for " + where + "; --config FILE names one)");
      }
    } else {
      err = places.Read(path, text);
    }
    if (err != 0) return Fail(path + ": " + std::strerror(err));
    TConfigFile file;
    std::string error;
    if (!ParseConfigText(path, text, file, error)) return Fail(error);
    const TConfigSection* section = file.Find(profile);
    if (section == nullptr) {
      std::string names;
      for (const auto& s : file.Sections) names += (names.empty() ? "" : ", ") + s.Name;
      return Fail(path + ": no profile [" + profile + "] (profiles: " + (names.empty() ? "none" : names) + ")");
    }
    fileSettings = Translate(file, *section, error);
    if (!error.empty()) return Fail(error);
    // The file's settings alone must hold together; a complaint names the key it is about.
    const TParseResult alone = ParseOptions(ArgsOf(fileSettings));
    if (alone.ExitCode >= 0) {
      const std::string why = FirstLine(alone.Message);
      for (const TSetting& s : fileSettings) {
        if (why.find("--" + s.Name) != std::string::npos) return Fail(s.From + ": key '" + s.Name + "': " + why);
      }
      return Fail(path + ": profile [" + profile + "]: " + why);
    }
  } else if (!configPath.empty()) {
    std::string text;
    if (const int err = places.Read(configPath, text); err != 0) return Fail(configPath + ": " + std::strerror(err));
  }

  const std::vector<TSetting> commandLine = CommandLineSettings(rest);
  // A command-line option replaces the file's options it excludes (--terminal, headless = true).
  std::erase_if(fileSettings, [&](const TSetting& f) {
    for (const TSetting& c : commandLine) {
      if (c.Name != f.Name && InGroupWith(f.Name, c.Name)) return true;
    }
    return false;
  });
  std::vector<std::string> all = ArgsOf(fileSettings);
  all.insert(all.end(), rest.begin(), rest.end());
  TParseResult result = ParseOptions(all);
  if (result.ExitCode < 0 && print) {
    result.ExitCode = 0;
    result.Message = PrintConfig(fileSettings, commandLine, profile);
  }
  return result;
}

}  // namespace app
