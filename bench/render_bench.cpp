// Times the screen renderer offscreen: a full redraw of the 2000 cells of the
// text page, all changed, and the update of a single changed cell.
#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/bench_stats.h"
#include "display/renderer.h"
#include "display/screen.h"

namespace {

using TClock = std::chrono::steady_clock;
constexpr int kShownCells = display::TScreen::kCols * display::TScreen::kRows;

double MicrosSince(TClock::time_point t0) {
  return std::chrono::duration<double, std::micro>(TClock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  display::TScreen screen;
  display::TScreenRenderer renderer(display::MakeDisplayFont());

  // Full redraw: every shown cell differs from what was drawn before.
  std::vector<double> full;
  for (int pass = 0; pass < 300; ++pass) {
    for (int i = 0; i < kShownCells; ++i) {
      auto& cell = screen.VideoBuffer[static_cast<size_t>(i)];
      cell.Char = static_cast<uint8_t>(i * 7 + pass * 2 + 1);
      cell.Attr = static_cast<uint8_t>(i + pass * 2 + 1);
    }
    const auto t0 = TClock::now();
    const int drawn = renderer.DrawChanged(screen);
    if (pass >= 20) full.push_back(MicrosSince(t0));
    if (drawn != kShownCells) {
      std::fprintf(stderr, "render-bench: %d cells drawn, expected %d\n", drawn, kShownCells);
      return 1;
    }
  }

  // One changed cell, somewhere else each time.
  std::vector<double> one;
  for (int pass = 0; pass < 5000; ++pass) {
    auto& cell = screen.VideoBuffer[static_cast<size_t>((pass * 37) % kShownCells)];
    cell.Char = static_cast<uint8_t>(cell.Char + 1);
    const auto t0 = TClock::now();
    const int drawn = renderer.DrawChanged(screen);
    if (pass >= 100) one.push_back(MicrosSince(t0));
    if (drawn != 1) {
      std::fprintf(stderr, "render-bench: %d cells drawn, expected 1\n", drawn);
      return 1;
    }
  }

  const double fullMed = bench::Rank(full, 0.5) / 1000.0;
  const double oneMed = bench::Rank(one, 0.5);
  std::printf("| full redraw, 2000 changed cells (median) | %.3f ms | p99 %.3f ms | < 2 ms | %s |\n",
              fullMed, bench::Rank(full, 0.99) / 1000.0, fullMed < 2.0 ? "PASS" : "MISS");
  std::printf("| one changed cell (median) | %.1f µs | p99 %.1f µs | < 50 µs | %s |\n", oneMed,
              bench::Rank(one, 0.99), oneMed < 50.0 ? "PASS" : "MISS");
  return 0;
}
