// The numbers the player engine exchanges with the window: play modes, worker states, status codes
// and the failure results of its functions. The values are fixed; the window and the worker compare
// them as plain integers.
#pragma once

namespace kv4r::player {

// Result of the engine's functions: 1 (or a count) for success, these for failure.
enum : int {
  kPlayerFailed = -1,  // DecodeJpegToDib: any failure; worker: start failure; command: unknown mode
};

// PlayMode of a ClipPlayer. 3 and 4 are not modes; a command with them is refused.
enum : int {
  kModeForward = 0,
  kModeBackward = 1,
  kModePause = 2,
  kModeStop = 5,
};

// WorkerState of a ClipPlayer, written by the worker (and set back to running by the window thread
// when it wakes a suspended worker).
enum : int {
  kWorkerRunning = 0,
  kWorkerEnded = 1,
  kWorkerSuspended = 2,
};

// Codes of the StatusCallback. 5, 6 and 7 come from the index build (as progress) on the thread
// that opens the clip; the others from the worker (0 also from the open).
enum : int {
  kStatusOpenError = 0,    // the clip cannot be opened or indexed; value 0
  kStatusReadError = 1,    // a record cannot be read; value 0
  kStatusThreadError = 2,  // the worker was started without both callbacks; value 0
  kStatusIdle = 3,         // the worker is about to suspend itself, or has ended; value 0
  kStatusIndexStart = 5,   // before the index scan; value = clip size in bytes
  kStatusIndexRecord = 6,  // after each record; value = record offset
  kStatusIndexEnd = 7,     // at the end of the scan
};

// A short English name of a mode, worker state or status code, for traces and test messages.
// Unknown values give "unknown".
[[nodiscard]] const char* playModeName(int mode);
[[nodiscard]] const char* workerStateName(int state);
[[nodiscard]] const char* statusCodeName(int code);

// The message the window shows for a worker status code: "Open error", "Read error",
// "PIP Thread terminated by error"; nullptr for the codes that show no message box.
[[nodiscard]] const char* statusMessageText(int code);

}  // namespace kv4r::player
