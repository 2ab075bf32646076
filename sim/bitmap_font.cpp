#include "sim/bitmap_font.h"

#include <cctype>

namespace kv4r::sim {
namespace {

struct Glyph {
  char c;
  const char* rows;  // 7 rows of 5 characters, '#' = set
};

// clang-format off
constexpr Glyph kGlyphs[] = {
  {'0', ".###.#...##..###.#.###..##...#.###."},
  {'1', "..#...##....#....#....#....#...###."},
  {'2', ".###.#...#....#...#...#...#...#####"},
  {'3', "#####...#...#.....#.....##...#.###."},
  {'4', "...#...##..#.#.#..#.#####...#....#."},
  {'5', "######....####.....#....##...#.###."},
  {'6', "..##..#...#....####.#...##...#.###."},
  {'7', "#####....#...#...#...#....#....#..."},
  {'8', ".###.#...##...#.###.#...##...#.###."},
  {'9', ".###.#...##...#.####....#...#..##.."},
  {'A', ".###.#...##...#######...##...##...#"},
  {'B', "####.#...##...#####.#...##...#####."},
  {'C', ".###.#...##....#....#....#...#.###."},
  {'D', "###..#..#.#...##...##...##..#.###.."},
  {'E', "######....#....####.#....#....#####"},
  {'F', "######....#....####.#....#....#...."},
  {'G', ".###.#...##....#.####...##...#.####"},
  {'H', "#...##...##...#######...##...##...#"},
  {'I', ".###...#....#....#....#....#...###."},
  {'J', "..###...#....#....#....#.#..#..##.."},
  {'K', "#...##..#.#.#..##...#.#..#..#.#...#"},
  {'L', "#....#....#....#....#....#....#####"},
  {'M', "#...###.###.#.##...##...##...##...#"},
  {'N', "#...##...###..##.#.##..###...##...#"},
  {'O', ".###.#...##...##...##...##...#.###."},
  {'P', "####.#...##...#####.#....#....#...."},
  {'Q', ".###.#...##...##...##.#.##..#..##.#"},
  {'R', "####.#...##...#####.#.#..#..#.#...#"},
  {'S', ".#####....#.....###.....#....#####."},
  {'T', "#####..#....#....#....#....#....#.."},
  {'U', "#...##...##...##...##...##...#.###."},
  {'V', "#...##...##...##...##...#.#.#...#.."},
  {'W', "#...##...##...##.#.##.#.##.#.#.#.#."},
  {'X', "#...##...#.#.#...#...#.#.#...##...#"},
  {'Y', "#...##...##...#.#.#...#....#....#.."},
  {'Z', "#####....#...#...#...#...#....#####"},
  {':', ".......#....#.........#....#......."},
  {'-', "................###................"},
  {'.', "...........................#....#.."},
  {'/', "....#...#...#...#...#.............."},
  {'_', "..............................#####"},
  {'#', ".#.#..#.#.#####.#.#.#####.#.#..#.#."},
  {'+', ".......#....#..#####..#....#......."},
};
// clang-format on

}  // namespace

bool glyphPixel(char c, int x, int y) {
  if (x < 0 || x >= kGlyphWidth || y < 0 || y >= kGlyphHeight) return false;
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const Glyph& g : kGlyphs) {
    if (g.c == upper) return g.rows[y * kGlyphWidth + x] == '#';
  }
  return false;
}

int textWidth(std::string_view text, int scale) {
  if (text.empty()) return 0;
  return (static_cast<int>(text.size()) * kGlyphAdvance - 1) * scale;
}

void drawText(std::uint8_t* pixels, int width, int height, int x, int y, int scale,
              std::string_view text, const std::uint8_t rgb[3]) {
  if (!pixels || scale < 1) return;
  auto put = [&](int px, int py, const std::uint8_t* colour) {
    if (px < 0 || py < 0 || px >= width || py >= height) return;
    std::uint8_t* p = pixels + (static_cast<std::size_t>(py) * width + px) * 3;
    p[0] = colour[0];
    p[1] = colour[1];
    p[2] = colour[2];
  };
  static const std::uint8_t kBox[3] = {16, 16, 16};
  const int box_w = textWidth(text, scale) + 2 * scale;
  const int box_h = (kGlyphHeight + 2) * scale;
  for (int by = 0; by < box_h; ++by) {
    for (int bx = 0; bx < box_w; ++bx) put(x - scale + bx, y - scale + by, kBox);
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int left = x + static_cast<int>(i) * kGlyphAdvance * scale;
    for (int gy = 0; gy < kGlyphHeight; ++gy) {
      for (int gx = 0; gx < kGlyphWidth; ++gx) {
        if (!glyphPixel(text[i], gx, gy)) continue;
        for (int sy = 0; sy < scale; ++sy) {
          for (int sx = 0; sx < scale; ++sx) put(left + gx * scale + sx, y + gy * scale + sy, rgb);
        }
      }
    }
  }
}

}  // namespace kv4r::sim
