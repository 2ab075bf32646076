// The player's user commands (toolbar, menu, slider) as actions on the open clip, and the rules
// that enable them. The window calls these from its handlers and from its one place that refreshes
// the actions; the rules are plain functions of mode, position and entry count so they can be
// checked without a window.
#pragma once

#include <array>

#include "player/clip_player.h"

namespace kv4r::player {

// The speeds the speed menu offers, in menu order. 10.0 plays without pacing.
inline constexpr std::array<double, 8> kSpeedItems = {0.1, 0.2, 0.5, 1.0, 2.0, 4.0, 8.0, 10.0};

// Which playback commands are enabled.
struct CommandEnables {
  bool back = false;
  bool play = false;
  bool pause = false;
  bool stop = false;
  bool next_frame = false;
  bool previous_frame = false;
};

// The enable rules for a clip in `mode` at `position` of `count` entries:
//   Back: mode 0 or 2 and position > 0;   Play: mode 5, or mode 1 or 2 with position < count - 1;
//   Pause: mode 0 or 1;   Stop: mode 0, 1 or 2;
//   Next Frame: mode 2 and position < count - 1;   Previous Frame: mode 2 and position > 0.
[[nodiscard]] CommandEnables commandEnables(int mode, int position, int count);

// The same for an open player (its current mode and position); all disabled for nullptr (no clip,
// or a single picture). Window thread.
[[nodiscard]] CommandEnables commandEnables(const ClipPlayer* player);

// Whether speed item `speed` is checked: a clip is open and its speed equals `speed` exactly.
[[nodiscard]] bool speedItemChecked(const ClipPlayer* player, double speed);

// The commands. Each returns what ClipPlayerCommand (or ClipPlayerSetSpeed) returned, or
// kPlayerFailed without a player (the command then does nothing). Window thread.
int playForward(ClipPlayer* player);                  // Play: mode 0
int playBackward(ClipPlayer* player);                 // Back: mode 1
int pausePlayback(ClipPlayer* player);                // Pause: mode 2 at the current position
int stopPlayback(ClipPlayer* player);                 // Stop: mode 5, position 0
int nextFrame(ClipPlayer* player);                    // pause at position + 1
int previousFrame(ClipPlayer* player);                // pause at position - 1
int seekTo(ClipPlayer* player, int slider_position);  // slider: pause here, then pause there
int setSpeed(ClipPlayer* player, double speed);       // speed item

}  // namespace kv4r::player
