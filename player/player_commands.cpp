#include "player/player_commands.h"

namespace kv4r::player {

CommandEnables commandEnables(int mode, int position, int count) {
  CommandEnables e;
  const bool paused = mode == kModePause;
  const bool moving = mode == kModeForward || mode == kModeBackward;
  const bool before_last = position < count - 1;
  e.back = (mode == kModeForward || paused) && position > 0;
  e.play = mode == kModeStop || ((mode == kModeBackward || paused) && before_last);
  e.pause = moving;
  e.stop = moving || paused;
  e.next_frame = paused && before_last;
  e.previous_frame = paused && position > 0;
  return e;
}

CommandEnables commandEnables(const ClipPlayer* player) {
  if (!player) return CommandEnables{};
  return commandEnables(player->play_mode.load(), player->position.load(), player->entry_count);
}

bool speedItemChecked(const ClipPlayer* player, double speed) {
  return player && player->speed.load() == speed;
}

int playForward(ClipPlayer* player) {
  return ClipPlayerCommand(player, kModeForward, -1);
}

int playBackward(ClipPlayer* player) {
  return ClipPlayerCommand(player, kModeBackward, -1);
}

int pausePlayback(ClipPlayer* player) {
  if (!player) return kPlayerFailed;
  return ClipPlayerCommand(player, kModePause, player->position.load());
}

int stopPlayback(ClipPlayer* player) {
  return ClipPlayerCommand(player, kModeStop, -1);
}

int nextFrame(ClipPlayer* player) {
  if (!player) return kPlayerFailed;
  return ClipPlayerCommand(player, kModePause, player->position.load() + 1);
}

int previousFrame(ClipPlayer* player) {
  if (!player) return kPlayerFailed;
  return ClipPlayerCommand(player, kModePause, player->position.load() - 1);
}

int seekTo(ClipPlayer* player, int slider_position) {
  if (!player) return kPlayerFailed;
  const int paused = ClipPlayerCommand(player, kModePause, player->position.load());
  if (paused != 1) return paused;
  return ClipPlayerCommand(player, kModePause, slider_position);
}

int setSpeed(ClipPlayer* player, double speed) {
  return ClipPlayerSetSpeed(player, speed);
}

}  // namespace kv4r::player
