// The control's snapshot, recording and information methods on the session core, without any
// automation types: the widget's dispatch turns the byte vectors into byte arrays and the codes
// into its results. Camera numbers count from 1; any other number gets the result of a camera that
// cannot deliver.
//
// Threads: the caller's (window) thread. getJpeg/saveJpeg block until the pane's next decoded
// frame, at most kGrabTimeout_ms of waiting for frames (a key dialog they open meanwhile, through
// LiveDecoding::answer_window_requests, does not count).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "viewer/live_decoding.h"

namespace kv4r::viewer {

inline constexpr int kControlVersion = 20040601;

// Whether camera `camera_id` can be asked at all: a session is active, the number is 1..4 and its
// pane is enabled.
[[nodiscard]] bool paneCanDeliver(const ViewerWindow& window, int camera_id);

// The next frame record of the camera as a JPEG file into *jpeg (empty when the camera cannot
// deliver, is not drawn, or no frame came within the wait). Returns its length (0 for none).
int getJpeg(ViewerWindow& window, LiveDecoding& decoding, int camera_id,
            std::vector<std::uint8_t>* jpeg);

// The current picture of the camera as a bitmap file into *bmp (empty when the camera cannot
// deliver, is not drawn or has no picture yet). Returns its length (0 for none).
int getBitmap(ViewerWindow& window, LiveDecoding& decoding, int camera_id,
              std::vector<std::uint8_t>* bmp);

// Saves the next JPEG / the current bitmap to `path` (created or truncated). Returns 1 when the
// file was written; 0 when the camera cannot deliver or the snapshot yielded no bytes (no file is
// then created or changed); kDecodeErrFileCreate or kDecodeErrFileWrite when the file could not be
// created or written (a partly written file is removed).
[[nodiscard]] int saveJpeg(ViewerWindow& window, LiveDecoding& decoding, int camera_id,
                           const std::string& path);
[[nodiscard]] int saveBitmap(ViewerWindow& window, LiveDecoding& decoding, int camera_id,
                             const std::string& path);

// Starts (path given) or stops (empty path) recording the camera to a clip / an AVI file. Returns 1
// started, 0 for a stop request, a recording already running or stopping, or a camera that cannot
// deliver; kDecodeErrFileCreate (the method's -1) when the working file cannot be created.
[[nodiscard]] int recordClip(ViewerWindow& window, LiveDecoding& decoding, int camera_id,
                             const std::string& path);
[[nodiscard]] int recordAvi(ViewerWindow& window, LiveDecoding& decoding, int camera_id,
                            const std::string& path);

// The serial-number text of the server's system information (empty before the first query).
[[nodiscard]] std::string serverSerialNumber(const ViewerWindow& window);

}  // namespace kv4r::viewer
