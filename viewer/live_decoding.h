// The decoding layer of the live view: per pane a decoder, the picture lock with the
// repaint-pending flag, the frame statistics, the snapshot hand-off and the recorders; per window
// the frame key. It plugs into the session core through the panes' `on_frame` hooks and works on
// the core's fields (the panes' current pictures and draw flags, the window's key-refused flag,
// message boxes and picture pool).
//
// Road of a frame (delivering thread, frameEntry): unlock a coded frame (key check, table
// rebuild), count it, decode it into a picture block, hand it to a waiting snapshot, feed the
// recorders, give the receive buffer back, swap the picture in under the picture lock and ask for a
// repaint.
//
// Threads: frameEntry on the delivering thread; the picture access functions on the window thread
// (painter, bitmap snapshots); attach/detach on the window thread while no stream runs.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>

#include "viewer/frame_decoder.h"
#include "viewer/frame_statistics.h"
#include "viewer/frame_unlock.h"
#include "viewer/pane_recorder.h"
#include "viewer/picture_convert.h"
#include "viewer/snapshot_grab.h"
#include "viewer/viewer_window.h"

namespace kv4r::viewer {

inline constexpr const char* kWrongKeyText =
    "Key is not correct.\n\nPlease ask your administrator\n\nthe correct key that he has set.";

struct PaneDecoding {
  // Delivering thread only.
  FrameDecoder decoder;
  FrameStatistics stats;  // its text is read by the painter through frameRateText

  // The picture lock guards the pane's current picture (CameraPane::picture while a stream runs)
  // and the repaint-pending flag.
  std::mutex picture_lock;
  bool repaint_pending = false;

  GrabHandoff grab;
  PaneRecorders recorders;

  std::atomic<long long> frames_decoded{0};  // any thread may read

  PaneDecoding() { (void)frameDecoderInit(decoder); }
  PaneDecoding(const PaneDecoding&) = delete;
  PaneDecoding& operator=(const PaneDecoding&) = delete;
  ~PaneDecoding() { frameDecoderFree(decoder); }
};

struct LiveDecoding {
  // Declared before the panes so that it outlives the recordings they finish when destroyed.
  RecordingFiles recording_files;
  std::array<PaneDecoding, kPaneCount> panes;
  FrameKey key;  // delivering thread; set key.request_key before the stream starts

  // Asks the window layer to repaint pane `index`; `whole` asks for the whole pane with erasing
  // (no picture yet, or the picture's size changed). Delivering thread. With none set there is no
  // painter: pictures are swapped in without waiting for a paint.
  std::function<void(int index, bool whole)> request_repaint;

  // Answers, on the window thread, what the delivering thread waits for there (the key dialog
  // when key.request_key asks the window thread). A snapshot that waits for the next frame runs it
  // first and whenever interruptGrabs ends its wait. None: nothing waits for the window thread.
  std::function<void()> answer_window_requests;

  // Frames decoded and dropped, for programs and tests (any thread).
  std::atomic<long long> decoded{0};
  std::atomic<long long> dropped{0};

  LiveDecoding() {
    for (PaneDecoding& pane : panes) pane.recorders.files = &recording_files;
  }
  LiveDecoding(const LiveDecoding&) = delete;
  LiveDecoding& operator=(const LiveDecoding&) = delete;
};

// Installs frameEntry as the `on_frame` hook of the window's four panes. Window thread, no stream
// running; `decoding` must outlive the stream.
void attachDecoding(ViewerWindow& window, LiveDecoding& decoding);

// The frame entry for `pane` of `window`: `buffer` is a receive-pool block holding a record of
// `length` bytes; the entry owns it and gives it back to its pool. Returns 1 when the frame was
// decoded (also when its picture was then discarded because a repaint was pending), or a negative
// code when it was dropped (kDecodeErrDropped for a disabled pane or no picture block,
// kDecodeErrKeyRefused, kDecodeErrParameters, kDecodeErrRecord or the decoder's codes). A wrong
// key sets the window's key-refused flag, clears every pane's draw flag and shows kWrongKeyText.
// Delivering thread.
int frameEntry(ViewerWindow& window, LiveDecoding& decoding, CameraPane& pane, void* buffer,
               int length);

// The painter's access: under the picture lock, converts the current picture's size (once) and
// calls `draw` with it (nullptr when there is none), then clears the repaint-pending flag. Window
// thread.
void paintPicture(CameraPane& pane, PaneDecoding& decoding,
                  const std::function<void(const stream::PictureBuffer*)>& draw);

// The current picture's size after conversion (0 x 0 without a picture), under the picture lock.
[[nodiscard]] PictureSize currentPictureSize(CameraPane& pane, PaneDecoding& decoding);

// Ends the snapshot waits of every pane (see answer_window_requests). Delivering thread, before
// it waits for the window thread.
void interruptGrabs(LiveDecoding& decoding);

// Finishes every open recording of the window (at stream stop, after the session's threads have
// ended, or when the window goes away). Returns the number of files finished.
int finishAllRecordings(LiveDecoding& decoding);

}  // namespace kv4r::viewer
