// A pane's two recorders: the clip recorder (whole frame records back to back into a .vrx clip)
// and the AVI recorder (each record one video frame of a Motion-JPEG AVI). Both write into a
// working file named after the given path with the extension ".tmp" and rename it to ".vrx" or
// ".avi" when the recording ends, so a file never appears under its final name while it grows.
//
// Each recorder is idle, recording or stopping: a start (from the method caller's thread) opens the
// working file; a stop request only clears the recording flag; the next decoded frame of the pane
// (delivering thread) then closes, finishes and renames the file. A start while recording or
// stopping is refused. The renaming never replaces an existing file: a name that is taken leaves
// the data in the ".tmp" file. A recording that took no frame is removed instead of renamed, so
// that an empty file never takes a name from the next recording. A working file left with data by
// an earlier recording is moved aside to "<name>.tmp.1" (or the next free number) before a new
// recording of that name starts.
//
// A working file is locked (flock) from its start until it has its final name, so that a
// recording in another program that is given the same name is refused (errno EBUSY) instead of
// moving the running recording's file aside as a leftover or writing into it.
//
// No two recordings of a control share a file: each claims its working file and its final name in
// the control's RecordingFiles until it is finished. When two recordings are given the same name
// apart from the extension (the clip and the AVI of a pane, or of two panes), the one started
// second works in its final name plus ".tmp"; a start whose final name another recording holds is
// refused as a file that cannot be created.
//
// Threads: starts and stops on the caller's thread, feedRecorders on the delivering thread,
// finishRecorders by whoever ends the stream after its threads have stopped (or at destruction).
// The record's fields are guarded by `mutex`.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <set>
#include <span>
#include <string>

#include "formats/avi_writer.h"
#include "formats/clip_writer.h"

namespace kv4r::viewer {

// Why a recording ended before it was asked to stop: a formats code (kFormatsErrWrite, or
// kFormatsErrTooLarge when the file reached the largest size its format allows) and the system's
// error number of a failed write; code 0 when it did not. `at_finish` marks a recording that took
// every frame but whose finish failed (the AVI's index or headers, or the close): the file got its
// name, but it may not be whole.
struct RecordingFailure {
  int code = 0;
  int error = 0;
  bool at_finish = false;
};

// The files that the recordings of one control have claimed (normalised paths). Locked after a
// PaneRecorders mutex, never before one.
struct RecordingFiles {
  std::mutex mutex;
  std::set<std::string> claimed;
};

struct PaneRecorders {
  std::mutex mutex;
  RecordingFiles own_files;            // when the recorders stand alone
  RecordingFiles* files = &own_files;  // shared by the panes of a control (LiveDecoding)
  // Clip recorder.
  std::string clip_path;  // the path last given
  std::string clip_temp_path;
  std::string clip_final_path;
  formats::ClipWriter* clip = nullptr;  // open working file
  bool clip_recording = false;
  int clip_lock = -1;  // holds the working file's lock until the file has its final name
  std::array<std::string, 2> clip_claims;  // keys in `files` while the working file is open
  RecordingFailure clip_failure;           // of the last recording, until the next start
  long long clip_frames = 0;               // records the last recording wrote
  // AVI recorder.
  std::string avi_path;
  std::string avi_temp_path;
  std::string avi_final_path;
  formats::AviWriter* avi = nullptr;
  bool avi_recording = false;
  int avi_lock = -1;
  std::array<std::string, 2> avi_claims;
  RecordingFailure avi_failure;
  long long avi_frames = 0;

  PaneRecorders() = default;
  PaneRecorders(const PaneRecorders&) = delete;
  PaneRecorders& operator=(const PaneRecorders&) = delete;
  // Finishes what is still open.
  ~PaneRecorders();
};

// Starts or stops the clip recorder. An empty path asks for the stop and returns 0. Otherwise
// returns 0 when the working file is still open (recording or stopping), 1 when the working file
// was created (an old one of that name kept aside), kDecodeErrFileCreate when it cannot
// be created or another recording holds the name (the recorder stays idle; errno tells why).
[[nodiscard]] int startClipRecording(PaneRecorders& recorders, const std::string& path);

// As startClipRecording for the AVI recorder; `width` x `height` is the size of the JPEG frames it
// will hold, or 0 x 0 to take that from the first frame it holds (what the live view does).
[[nodiscard]] int startAviRecording(PaneRecorders& recorders, const std::string& path, int width,
                                    int height);

// One decoded frame: appended to each recorder that records; a recorder that was asked to stop is
// finished and renamed, and so is one whose file can take no more (disk full, write error, largest
// file size), keeping what it wrote. Returns the number of recorders that took the frame.
int feedRecorders(PaneRecorders& recorders, std::span<const std::uint8_t> record);

// Finishes and renames both working files whether or not a stop was requested (the stream ended or
// the pane goes away). Returns the number of files finished.
int finishRecorders(PaneRecorders& recorders);

// Whether the working file of a recording of `path` (see recordingTempPath) is locked by a
// running recording, of this program or another. Any thread.
[[nodiscard]] bool workingFileLockedByARecording(const std::string& path);

// Whether `path` is a working file or final name that a recording of `files` holds. Any thread.
[[nodiscard]] bool recordingFileClaimed(RecordingFiles& files, const std::string& path);

// Why the last recording of the clip recorder (`avi` false) or the AVI recorder ended early, if it
// did. Any thread.
[[nodiscard]] RecordingFailure recordingFailure(PaneRecorders& recorders, bool avi);

// The records that the last recording of the clip recorder (`avi` false) or the AVI recorder
// wrote. Any thread.
[[nodiscard]] long long recordedFrames(PaneRecorders& recorders, bool avi);

// The working file that the last recording of the clip recorder (`avi` false) or the AVI recorder
// claimed (see the header comment); empty before the first start. Any thread.
[[nodiscard]] std::string recordingWorkingPath(PaneRecorders& recorders, bool avi);

// Whether either recorder is recording (the recording mark of the on-screen display). Any thread.
[[nodiscard]] bool recordingMarkShown(PaneRecorders& recorders);

// The working path of a recording: `path` with its extension replaced by ".tmp" (appended when the
// last path element has no dot).
[[nodiscard]] std::string recordingTempPath(const std::string& path);

}  // namespace kv4r::viewer
