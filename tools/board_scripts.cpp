// The non-interactive scripts of the board: whole-image transfers, latency of
// the keyboard round trip, and key collection. Each prints one JSON line.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "tools/board_app.h"

namespace boardsim {

namespace {

double Seconds(TNanos d) { return std::chrono::duration<double>(d).count(); }

// `text` as the inside of a JSON string.
std::string JsonText(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

TBoardApp::TGeometry TBoardApp::ServedGeometry() {
  TGeometry g;
  std::vector<uint8_t> boot(512);
  for (int attempt = 0; attempt < 3; ++attempt) {
    try {
      if (BiosCalls.ReadSectors(0, 0, 1, 1, boot).Ok()) {
        if (const auto p = ParseBootSector(boot)) {
          g.SectorsPerTrack = p->SectorsPerTrack;
          g.Heads = p->Heads;
          g.TotalSectors = p->TotalSectors;
          g.FromBootSector = true;
        }
      }
      return g;
    } catch (const TBoardReboot& reboot) {
      *Log << "board: " << reboot.what() << "\n";
      if (!Boot()) return g;
    }
  }
  return g;
}

TDiskResult TBoardApp::TransferTrack(const TGeometry& g, uint32_t track, std::span<uint8_t> data,
                                     bool write) {
  const auto cyl = static_cast<uint8_t>(track / g.Heads);
  const auto head = static_cast<uint8_t>(track % g.Heads);
  const auto count = static_cast<uint8_t>(data.size() / 512);
  // A reboot in the middle of the track: boot again and do the track over.
  for (int attempt = 0; attempt < 3; ++attempt) {
    try {
      return write ? BiosCalls.WriteSectors(cyl, head, 1, count, data)
                   : BiosCalls.ReadSectors(cyl, head, 1, count, data);
    } catch (const TBoardReboot& reboot) {
      *Log << "board: " << reboot.what() << "\n";
      if (!Boot()) return {};
    }
  }
  return {};
}

int TBoardApp::ReadImage(const std::string& outPath) {
  bool ok = false;
  uint64_t bytes = 0;
  uint32_t tracks = 0;
  TNanos elapsed{0};
  TGeometry g;
  try {
    if (Boot()) {
      const TClockTime start = Clock->Now();
      g = ServedGeometry();
      std::vector<uint8_t> image(size_t{g.TotalSectors} * 512);
      ok = true;
      for (uint32_t first = 0; ok && first < g.TotalSectors; first += g.SectorsPerTrack) {
        const uint32_t n = std::min<uint32_t>(g.SectorsPerTrack, g.TotalSectors - first);
        ok = TransferTrack(g, first / g.SectorsPerTrack,
                           std::span<uint8_t>(image).subspan(size_t{first} * 512, n * 512u),
                           false)
                 .Ok();
        if (ok) {
          bytes += n * 512u;
          ++tracks;
        }
      }
      elapsed = Clock->Now() - start;
      std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(image.data()),
                static_cast<std::streamsize>(bytes));
      ok = ok && out.good();
    }
  } catch (const TLinkClosed&) {
    *Log << "board: the console went away\n";
    ok = false;
  }
  const double s = Seconds(elapsed);
  *Results << "{\"script\":\"read-image\",\"ok\":" << (ok ? "true" : "false")
           << ",\"bytes\":" << bytes << ",\"tracks\":" << tracks
           << ",\"geometry_from_boot_sector\":" << (g.FromBootSector ? "true" : "false")
           << ",\"seconds\":" << s << ",\"bytes_per_s\":" << (s > 0 ? bytes / s : 0) << ",";
  PrintLinkStats();
  *Results << "}\n";
  return ok ? 0 : 1;
}

int TBoardApp::WriteImage(const std::string& inPath) {
  bool ok = false;
  uint64_t bytes = 0;
  uint32_t tracks = 0;
  TNanos elapsed{0};
  std::string error;
  std::ifstream in(inPath, std::ios::binary);
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                            std::istreambuf_iterator<char>());
  try {
    if (!in.good() && !in.eof()) {
      error = "cannot read " + inPath;
    } else if (Boot()) {
      const TClockTime start = Clock->Now();
      const TGeometry g = ServedGeometry();
      const uint32_t sectors = static_cast<uint32_t>((data.size() + 511) / 512);
      data.resize(size_t{sectors} * 512, 0);
      if (sectors > g.TotalSectors) {
        error = "image larger than the served diskette";
      } else {
        ok = true;
        for (uint32_t first = 0; ok && first < sectors; first += g.SectorsPerTrack) {
          const uint32_t n = std::min<uint32_t>(g.SectorsPerTrack, sectors - first);
          const uint32_t track = first / g.SectorsPerTrack;
          const TDiskResult r = TransferTrack(
              g, track, std::span<uint8_t>(data).subspan(size_t{first} * 512, n * 512u), true);
          ok = r.Ok();
          if (ok) {
            bytes += n * 512u;
            ++tracks;
          } else {
            error = "track " + std::to_string(track) + " not written: " + DiskFailure(r);
          }
        }
      }
      elapsed = Clock->Now() - start;
    } else {
      error = "no answer from the console";
    }
  } catch (const TLinkClosed&) {
    error = "the console went away";
    ok = false;
  }
  const double s = Seconds(elapsed);
  *Results << "{\"script\":\"write-image\",\"ok\":" << (ok ? "true" : "false")
           << ",\"bytes\":" << bytes << ",\"tracks\":" << tracks << ",\"seconds\":" << s
           << ",\"bytes_per_s\":" << (s > 0 ? bytes / s : 0) << ",\"error\":\"" << JsonText(error)
           << "\",";
  PrintLinkStats();
  *Results << "}\n";
  return ok ? 0 : 1;
}

int TBoardApp::Ping(unsigned count) {
  std::vector<double> micros;
  unsigned failed = 0;
  bool booted = false;
  try {
    booted = Boot();
    for (unsigned i = 0; booted && i < count; ++i) {
      uint16_t code = 0;
      const TClockTime t0 = Clock->Now();
      const TKeyState st = BiosCalls.CheckKey(code);
      const TClockTime t1 = Clock->Now();
      if (st == TKeyState::Failed) {
        ++failed;
        continue;
      }
      micros.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
      if (st == TKeyState::Refresh) BiosCalls.Upload();
    }
  } catch (const TLinkClosed&) {
    *Log << "board: the console went away\n";
  }
  std::sort(micros.begin(), micros.end());
  auto rank = [&](double q) {
    if (micros.empty()) return 0.0;
    const size_t i = static_cast<size_t>(q * static_cast<double>(micros.size()) + 0.999999);
    return micros[std::clamp<size_t>(i, 1, micros.size()) - 1];
  };
  const bool ok = booted && micros.size() == count;
  *Results << "{\"script\":\"ping\",\"ok\":" << (ok ? "true" : "false")
           << ",\"count\":" << micros.size() << ",\"failed\":" << failed
           << ",\"median_us\":" << rank(0.5) << ",\"p99_us\":" << rank(0.99)
           << ",\"max_us\":" << (micros.empty() ? 0.0 : micros.back()) << ",";
  PrintLinkStats();
  *Results << "}\n";
  return ok ? 0 : 1;
}

int TBoardApp::Keys(unsigned count) {
  std::vector<uint16_t> codes;
  bool booted = false;
  try {
    const TClockTime start = Clock->Now();
    booted = Boot();
    while (booted && codes.size() < count && !TimedOut(start)) {
      uint16_t code = 0;
      switch (BiosCalls.CheckKey(code)) {
        case TKeyState::None:
        case TKeyState::Failed:
          Clock->SleepFor(Cfg.KeyPoll);
          break;
        case TKeyState::Refresh:
          BiosCalls.Upload();
          break;
        case TKeyState::Key:
          if (const auto key = BiosCalls.ReadKey()) codes.push_back(*key);
          break;
      }
    }
  } catch (const TLinkClosed&) {
    *Log << "board: the console went away\n";
  }
  const bool ok = booted && codes.size() == count;
  *Results << "{\"script\":\"keys\",\"ok\":" << (ok ? "true" : "false")
           << ",\"count\":" << codes.size() << ",\"codes\":[";
  for (size_t i = 0; i < codes.size(); ++i) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", codes[i]);
    *Results << (i ? "," : "") << "\"" << hex << "\"";
  }
  *Results << "],";
  PrintLinkStats();
  *Results << "}\n";
  return ok ? 0 : 1;
}

}  // namespace boardsim
