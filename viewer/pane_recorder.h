// A pane's two recorders: the clip recorder (whole frame records back to back into a .vrx clip)
// and the AVI recorder (each record one video frame of a Motion-JPEG AVI). Both write into a
// working file named after the given path with the extension ".tmp" and rename it to ".vrx" or
// ".avi" when the recording ends, so a file never appears under its final name while it grows.
//
// Each recorder is idle, recording or stopping: a start (from the method caller's thread) opens the
// working file; a stop request only clears the recording flag; the next decoded frame of the pane
// (delivering thread) then closes, finishes and renames the file. A start while recording or
// stopping is refused. The renaming never replaces an existing file: a name that is taken leaves
// the data in the ".tmp" file. When the clip and the AVI of a pane are given the same name apart
// from the extension, the recorder started second works in its final name plus ".tmp".
//
// Threads: starts and stops on the caller's thread, feedRecorders on the delivering thread,
// finishRecorders by whoever ends the stream after its threads have stopped (or at destruction).
// The record's fields are guarded by `mutex`.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>

#include "formats/avi_writer.h"
#include "formats/clip_writer.h"

namespace kv4r::viewer {

struct PaneRecorders {
  std::mutex mutex;
  // Clip recorder.
  std::string clip_path;  // the path last given
  std::string clip_temp_path;
  std::string clip_final_path;
  formats::ClipWriter* clip = nullptr;  // open working file
  bool clip_recording = false;
  // AVI recorder.
  std::string avi_path;
  std::string avi_temp_path;
  std::string avi_final_path;
  formats::AviWriter* avi = nullptr;
  bool avi_recording = false;

  PaneRecorders() = default;
  PaneRecorders(const PaneRecorders&) = delete;
  PaneRecorders& operator=(const PaneRecorders&) = delete;
  // Finishes what is still open.
  ~PaneRecorders();
};

// Starts or stops the clip recorder. An empty path asks for the stop and returns 0. Otherwise
// returns 0 when the working file is still open (recording or stopping), 1 when the working file
// was created (an old working file of that name is emptied), kDecodeErrFileCreate when it cannot
// be created (the recorder stays idle).
[[nodiscard]] int startClipRecording(PaneRecorders& recorders, const std::string& path);

// As startClipRecording for the AVI recorder; `width` x `height` is the pane's current picture
// size after conversion (0 x 0 before the first picture).
[[nodiscard]] int startAviRecording(PaneRecorders& recorders, const std::string& path, int width,
                                    int height);

// One decoded frame: appended to each recorder that records; a recorder that was asked to stop is
// finished and renamed. Returns the number of recorders that took the frame.
int feedRecorders(PaneRecorders& recorders, std::span<const std::uint8_t> record);

// Finishes and renames both working files whether or not a stop was requested (the stream ended or
// the pane goes away). Returns the number of files finished.
int finishRecorders(PaneRecorders& recorders);

// Whether either recorder is recording (the recording mark of the on-screen display). Any thread.
[[nodiscard]] bool recordingMarkShown(PaneRecorders& recorders);

// The working path of a recording: `path` with its extension replaced by ".tmp" (appended when the
// last path element has no dot).
[[nodiscard]] std::string recordingTempPath(const std::string& path);

}  // namespace kv4r::viewer
