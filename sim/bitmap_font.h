// A tiny 5 x 7 bitmap font for the names and clocks drawn into the test pictures. Upper-case
// letters, digits and a few signs; lower-case letters are drawn as upper-case ones, anything else
// as a blank. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string_view>

namespace kv4r::sim {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;
inline constexpr int kGlyphAdvance = 6;  // one blank column between characters

// Whether pixel (x, y) of the glyph for `c` is set (x 0..4, y 0..6, top row 0).
[[nodiscard]] bool glyphPixel(char c, int x, int y);

// Draws `text` into an RGB picture (3 bytes a pixel, top row first, `width` x `height`) with its
// top-left corner at (x, y), each font pixel as a `scale` x `scale` square of `rgb`, on a dark
// box one font pixel wider all round. Whatever falls outside the picture is clipped.
void drawText(std::uint8_t* pixels, int width, int height, int x, int y, int scale,
              std::string_view text, const std::uint8_t rgb[3]);

// Width in pixels of `text` drawn at `scale` (without the box).
[[nodiscard]] int textWidth(std::string_view text, int scale);

}  // namespace kv4r::sim
