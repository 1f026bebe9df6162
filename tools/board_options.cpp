#include "tools/board_options.h"

#include <charconv>
#include <cmath>

namespace boardsim {

namespace {

template <typename T>
bool ParseNumber(const std::string& s, T& out) {
  const char* end = s.data() + s.size();
  const auto [p, ec] = std::from_chars(s.data(), end, out);
  return ec == std::errc() && p == end;
}

bool ParseRate(const std::string& s, double& out) {
  size_t used = 0;
  try {
    out = std::stod(s, &used);
  } catch (...) {
    return false;
  }
  return used == s.size() && std::isfinite(out) && out >= 0 && out <= 1;
}

}  // namespace

std::string BoardUsage() {
  return
      "usage: board-sim [options] [-- console-arguments...]\n"
      "Plays the board's side of the remote console over a serial line.\n"
      "\n"
      "Line:\n"
      "  --device PATH          use this serial device (default: create a pseudo-terminal\n"
      "                         and start the console on it)\n"
      "  --pty-link PATH        offer the line on a pseudo-terminal of its own, PATH a symlink\n"
      "                         to its slave, for the console or a serial server (ser2net)\n"
      "                         to open; the host may close it and open it again\n"
      "  --replug-after N       with --pty-link: after N requests, replace the pty pair under\n"
      "                         the same PATH, as an adapter that is unplugged and plugged in\n"
      "  --console PATH         console binary to start (default: consolew next to board-sim);\n"
      "                         it runs as: consolew --com1 SLAVE --connect [--image FILE]\n"
      "  --image FILE           diskette image for the console to serve\n"
      "  --baud N               pace the line at N bit/s both ways, 10 bits a byte\n"
      "                         (default 115200 = 11520 bytes/s)\n"
      "  --unpaced              write as fast as the line takes it\n"
      "  --ack-timeout MS       wait for an acknowledgement or packet (default 500)\n"
      "  --timeout SECONDS      give up the handshake (and the keys script) after this\n"
      "\n"
      "Application (default: the interactive demo):\n"
      "  --script read-image OUT.img   read every track of the served image into OUT.img\n"
      "  --script write-image IN.img   write every track of IN.img to the served image\n"
      "  --script ping N               N check-key round trips: median/p99 latency\n"
      "  --script keys N               collect the codes of N keys\n"
      "  Scripts print one JSON line on stdout; the exit status is 0 on success.\n"
      "\n"
      "Faults (all reproducible with --seed):\n"
      "  --bit-errors RATE      flip bits at RATE per bit, both directions\n"
      "  --one-bit-per-packet   flip at most one bit per packet, none in single bytes\n"
      "  --drop RATE            lose bytes at RATE per byte, both directions\n"
      "  --nak-every N          answer every Nth good packet from the console with a NAK\n"
      "  --stall-every N        stop halfway through every Nth request for longer than the\n"
      "                         console's 2 s watchdog, then send a fresh request\n"
      "  --reboot-in-transfer N reboot in the middle of the Nth disk transfer\n"
      "  --noise-burst          send 100 KB of noise after the first handshake\n"
      "  --seed N               seed of the fault generator (default 1)\n"
      "\n"
      "Limit: the packets carry an 8-bit additive checksum. It catches every single-bit\n"
      "error in a packet, but not every multi-bit pattern: two flips of the same bit\n"
      "position in opposite directions cancel, and so do two 0->1 flips of bit 7.\n"
      "--one-bit-per-packet keeps every corruption detectable.\n";
}

std::optional<TBoardOptions> ParseBoardOptions(const std::vector<std::string>& args,
                                               std::string& error) {
  TBoardOptions o;
  size_t i = 0;
  auto value = [&](const std::string& name) -> const std::string* {
    if (i + 1 >= args.size()) {
      error = name + " needs a value";
      return nullptr;
    }
    return &args[++i];
  };
  auto count = [&](const std::string& name, unsigned& out) {
    const std::string* v = value(name);
    if (!v) return false;
    if (!ParseNumber(*v, out)) {
      error = name + ": not a count: " + *v;
      return false;
    }
    return true;
  };
  auto rate = [&](const std::string& name, double& out) {
    const std::string* v = value(name);
    if (!v) return false;
    if (!ParseRate(*v, out)) {
      error = name + ": not a rate between 0 and 1: " + *v;
      return false;
    }
    return true;
  };
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    const std::string* v = nullptr;
    if (a == "--") {
      o.ConsoleArgs.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    } else if (a == "-h" || a == "--help") {
      o.Help = true;
    } else if (a == "--device" || a == "--console" || a == "--image" || a == "--pty-link") {
      if (!(v = value(a))) return std::nullopt;
      (a == "--device" ? o.Device : a == "--console" ? o.Console : a == "--image" ? o.Image : o.PtyLink) = *v;
    } else if (a == "--replug-after") {
      if (!count(a, o.ReplugAfter)) return std::nullopt;
    } else if (a == "--unpaced") {
      o.BitsPerSecond = 0;
    } else if (a == "--baud") {
      if (!count(a, o.BitsPerSecond)) return std::nullopt;
    } else if (a == "--ack-timeout") {
      if (!count(a, o.AckTimeoutMs)) return std::nullopt;
      if (o.AckTimeoutMs == 0) {
        error = "--ack-timeout must be above 0";
        return std::nullopt;
      }
    } else if (a == "--timeout") {
      double t = 0;
      if (!(v = value(a))) return std::nullopt;
      try {
        size_t used = 0;
        t = std::stod(*v, &used);
        if (used != v->size() || !(t > 0) || !std::isfinite(t)) throw 0;
      } catch (...) {
        error = "--timeout: not a positive number of seconds: " + *v;
        return std::nullopt;
      }
      o.TimeoutSeconds = t;
    } else if (a == "--script") {
      if (!(v = value(a))) return std::nullopt;
      const std::string kind = *v;
      if (kind == "read-image" || kind == "write-image") {
        if (!(v = value(kind))) return std::nullopt;
        o.Script = kind == "read-image" ? TScriptKind::ReadImage : TScriptKind::WriteImage;
        o.ScriptPath = *v;
      } else if (kind == "ping" || kind == "keys") {
        if (!count(kind, o.ScriptCount)) return std::nullopt;
        o.Script = kind == "ping" ? TScriptKind::Ping : TScriptKind::Keys;
      } else {
        error = "unknown script: " + kind;
        return std::nullopt;
      }
    } else if (a == "--bit-errors") {
      if (!rate(a, o.Faults.BitErrorRate)) return std::nullopt;
    } else if (a == "--one-bit-per-packet") {
      o.Faults.OneBitPerPacket = true;
    } else if (a == "--drop") {
      if (!rate(a, o.Faults.DropRate)) return std::nullopt;
    } else if (a == "--nak-every") {
      if (!count(a, o.Faults.NakEvery)) return std::nullopt;
    } else if (a == "--stall-every") {
      if (!count(a, o.Faults.StallEvery)) return std::nullopt;
    } else if (a == "--reboot-in-transfer") {
      if (!count(a, o.Faults.RebootInTransfer)) return std::nullopt;
    } else if (a == "--noise-burst") {
      o.Faults.NoiseBurst = true;
    } else if (a == "--seed") {
      if (!(v = value(a))) return std::nullopt;
      if (!ParseNumber(*v, o.Faults.Seed)) {
        error = "--seed: not a number: " + *v;
        return std::nullopt;
      }
    } else {
      error = "unknown option: " + a;
      return std::nullopt;
    }
  }
  if (!o.Device.empty() && !o.PtyLink.empty()) {
    error = "--device and --pty-link exclude each other";
    return std::nullopt;
  }
  if (o.ReplugAfter != 0 && o.PtyLink.empty()) {
    error = "--replug-after needs --pty-link";
    return std::nullopt;
  }
  return o;
}

}  // namespace boardsim
