#include "sim/picture_maker.h"

#include <cmath>

#include "sim/bitmap_font.h"

namespace kv4r::sim {
namespace {

struct Rgb {
  int r, g, b;
};

// Two colours per camera, so that every camera is recognisable at a glance.
Rgb cameraColour(int camera_number, int which) {
  static const Rgb kColours[][2] = {
      {{30, 60, 160}, {240, 200, 40}},    // blue / yellow
      {{150, 30, 40}, {60, 220, 220}},    // red / cyan
      {{30, 130, 50}, {240, 120, 220}},   // green / pink
      {{110, 60, 150}, {250, 250, 250}},  // violet / white
      {{150, 100, 20}, {40, 200, 90}},    // brown / green
      {{70, 70, 70}, {250, 150, 30}},     // grey / orange
  };
  const int n = static_cast<int>(sizeof(kColours) / sizeof(kColours[0]));
  const int index = ((camera_number - 1) % n + n) % n;
  return kColours[index][which];
}

std::uint8_t clampByte(int v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

}  // namespace

Picture makePatternPicture(int width, int height, int camera_number, int phase, int period,
                           const std::string& name, const std::string& clock_text) {
  Picture picture;
  if (width <= 0 || height <= 0) return picture;
  if (period < 1) period = 1;
  picture.width = width;
  picture.height = height;
  picture.rgb.assign(static_cast<std::size_t>(width) * height * 3, 0);
  const Rgb base = cameraColour(camera_number, 0);
  const Rgb mark = cameraColour(camera_number, 1);
  const double t = static_cast<double>(((phase % period) + period) % period) / period;
  // Smooth diagonal bands that drift with the phase: gentle gradients keep the JPEG small.
  const int shift = static_cast<int>(t * 128);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = &picture.rgb[static_cast<std::size_t>(y) * width * 3];
    for (int x = 0; x < width; ++x) {
      const int wave = ((x + y + shift * 2) & 255);
      const int tri = wave < 128 ? wave : 255 - wave;  // 0..127
      row[x * 3 + 0] = clampByte(base.r + tri / 2 - 32);
      row[x * 3 + 1] = clampByte(base.g + tri / 2 - 32);
      row[x * 3 + 2] = clampByte(base.b + tri / 2 - 32);
    }
  }
  // A square that circles round the centre, one turn per period.
  const int side = std::max(8, height / 6);
  const double angle = t * 2 * M_PI;
  const int cx = width / 2 + static_cast<int>(std::cos(angle) * width / 4) - side / 2;
  const int cy = height / 2 + static_cast<int>(std::sin(angle) * height / 4) - side / 2;
  for (int y = std::max(0, cy); y < std::min(height, cy + side); ++y) {
    for (int x = std::max(0, cx); x < std::min(width, cx + side); ++x) {
      std::uint8_t* p = &picture.rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      p[0] = clampByte(mark.r);
      p[1] = clampByte(mark.g);
      p[2] = clampByte(mark.b);
    }
  }
  const int scale = width >= 352 ? 2 : 1;
  static const std::uint8_t kWhite[3] = {255, 255, 255};
  if (!name.empty())
    drawText(picture.rgb.data(), width, height, 2 * scale, 2 * scale, scale, name, kWhite);
  if (!clock_text.empty()) {
    const int y = height - (kGlyphHeight + 2) * scale;
    drawText(picture.rgb.data(), width, height, 2 * scale, y, scale, clock_text, kWhite);
  }
  return picture;
}

Picture scalePicture(const Picture& source, int width, int height) {
  if (source.width == width && source.height == height) return source;
  Picture out;
  if (width <= 0 || height <= 0 || source.width <= 0 || source.height <= 0) return out;
  if (source.rgb.size() < static_cast<std::size_t>(source.width) * source.height * 3) return out;
  out.width = width;
  out.height = height;
  out.rgb.resize(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    const int sy = static_cast<int>(static_cast<long long>(y) * source.height / height);
    for (int x = 0; x < width; ++x) {
      const int sx = static_cast<int>(static_cast<long long>(x) * source.width / width);
      const std::uint8_t* s = &source.rgb[(static_cast<std::size_t>(sy) * source.width + sx) * 3];
      std::uint8_t* d = &out.rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
    }
  }
  return out;
}

}  // namespace kv4r::sim
