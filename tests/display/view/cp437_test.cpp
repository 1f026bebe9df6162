#include <gtest/gtest.h>

#include "tests/support/param_names.h"

#include <set>

#include "display/cp437.h"

namespace {

struct TGlyphCase {
  uint8_t Code;
  char32_t Unicode;
};

class Cp437Test : public ::testing::TestWithParam<TGlyphCase> {};

TEST_P(Cp437Test, MapsToTheCodePageGlyph) {
  EXPECT_EQ(display::Cp437ToUnicode(GetParam().Code), GetParam().Unicode);
}

INSTANTIATE_TEST_SUITE_P(
    Glyphs, Cp437Test,
    ::testing::Values(TGlyphCase{0x01, 0x263A}, TGlyphCase{0x02, 0x263B}, TGlyphCase{0x03, 0x2665},
                      TGlyphCase{0x0B, 0x2642}, TGlyphCase{0x0C, 0x2640}, TGlyphCase{0x1A, 0x2192},
                      TGlyphCase{0x1F, 0x25BC}, TGlyphCase{0x20, U' '}, TGlyphCase{0x41, U'A'},
                      TGlyphCase{0x7E, U'~'}, TGlyphCase{0x7F, 0x2302}, TGlyphCase{0x80, 0x00C7},
                      TGlyphCase{0x9E, 0x20A7}, TGlyphCase{0xB0, 0x2591}, TGlyphCase{0xB3, 0x2502},
                      TGlyphCase{0xC4, 0x2500}, TGlyphCase{0xC9, 0x2554}, TGlyphCase{0xCD, 0x2550},
                      TGlyphCase{0xDB, 0x2588}, TGlyphCase{0xDF, 0x2580}, TGlyphCase{0xE1, 0x00DF},
                      TGlyphCase{0xE3, 0x03C0}, TGlyphCase{0xFE, 0x25A0}, TGlyphCase{0xFF, 0x00A0}), testsupport::TIndexName());

TEST(Cp437, EveryCodeHasItsOwnGlyph) {
  std::set<char32_t> seen;
  for (int c = 1; c < 256; ++c) seen.insert(display::Cp437ToUnicode(static_cast<uint8_t>(c)));
  EXPECT_EQ(seen.size(), 255u);
}

}  // namespace
