// Synthetic camera pictures: a moving pattern in the camera's own colours with its name and a clock
// drawn in, and scaling of pictures read from files to a camera's size. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv4r::sim {

// An RGB picture: 3 bytes a pixel in red, green, blue order, top row first, no row padding.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
};

// The pattern picture of camera `camera_number` (1-based; chooses the colours) at motion step
// `phase` (any integer; the motion repeats every `period` steps, period >= 1), with `name` drawn at
// the top left and `clock_text` at the bottom left (either may be empty). Text is drawn at scale 2
// when the picture is at least 352 pixels wide.
[[nodiscard]] Picture makePatternPicture(int width, int height, int camera_number, int phase,
                                         int period, const std::string& name,
                                         const std::string& clock_text);

// `source` scaled to width x height by nearest neighbour (a copy when the size is already right).
[[nodiscard]] Picture scalePicture(const Picture& source, int width, int height);

}  // namespace kv4r::sim
