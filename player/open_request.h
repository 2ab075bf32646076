// The player's open request: one path from File > Open, the recent-file list, the path bar or the
// command line, opened as a .vrx clip or a single .jpg picture. The window owns a PlayerInput and
// calls HandleOpenRequest on its own thread for every request; the failures the user must see go
// through the given message boxes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/message_boxes.h"
#include "player/clip_player.h"

namespace kv4r::player {

// What is open in the view. Window thread only.
struct PlayerInput {
  ClipPlayerPtr clip;                 // the open clip, or none
  int single_picture = 0;             // 1 while a .jpg picture is shown
  std::vector<std::uint8_t> picture;  // the picture's bytes: its current record until the next open
};

// The view's side of an open request. Every member may be empty.
struct OpenRequestHooks {
  FrameCallback frame;    // the view's frame handler, given to the clip's worker
  StatusCallback status;  // the view's status handler (index progress, worker messages)
  // Shows a picture's bytes on the window thread; 1 when shown, 0 when they did not decode (the
  // view then keeps its previous picture and nothing is reported).
  std::function<int(const std::uint8_t* record, int length)> show_picture;
  // Clears the view's current record pointer and length; called after the previous input was
  // closed.
  std::function<void()> forget_record;
  // Called once a clip is open: slider range 0 .. entry count - 1, speed and zoom panes.
  std::function<void(ClipPlayer& player)> clip_opened;
  PlayerClock* clock = nullptr;  // for tests; the steady clock when null
};

// Handles one open request. First closes the open clip (joining its worker) and forgets the current
// record, so a failed open leaves nothing open. Then, by case-sensitive substring tests on the
// file name (the path's last element; its folders' names do not count):
// - ".vrx" anywhere in it: opens a clip; on failure shows "File(<path>) couldn't be opened"
// (warning) and
//   "failed to loading file" (error) — after "Open error" from the status hook when the index could
//   not be built. Returns 1 either way.
// - else without ".jpg": shows "File(<path>) is not supported" (error) and returns 0.
// - else a picture: reads the whole file and hands it to show_picture; shows "File(<path>) couldn't
//   be opened", "malloc error" or "jpeg read error" (error) when it cannot be opened, held or read
//   whole. Returns 1 (also after those messages).
// Window thread; blocks while the clip is indexed or the picture read.
int HandleOpenRequest(PlayerInput& input, const std::string& path, const OpenRequestHooks& hooks,
                      platform::MessageBoxes& boxes);

// Closes whatever is open (the view's destruction, or before a new input). Window thread.
void CloseInput(PlayerInput& input, const OpenRequestHooks& hooks);

}  // namespace kv4r::player
