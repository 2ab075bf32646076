// Result codes of the development server library. Functions of this folder return a count, 1 or 0
// as their contract says, or one of these negative codes.
#pragma once

namespace kv4r::sim {

enum : int {
  kSimErrFailed = -1,       // a failure without a closer reason
  kSimErrArgument = -2,     // a missing handle or an impossible argument
  kSimErrScenario = -3,     // a scenario file that cannot be read or holds a wrong value
  kSimErrListen = -4,       // the listening address cannot be resolved, bound or listened on
  kSimErrPicture = -5,      // a picture could not be made, read, decoded or encoded
  kSimErrRecord = -6,       // a picture could not be wrapped into a frame record
  kSimErrClip = -7,         // a clip file cannot be read or holds no usable record
  kSimErrLog = -8,          // the request log cannot be opened
  kSimErrThread = -9,       // a thread could not be started
  kSimErrClosed = -10,      // the peer closed the connection or a send failed
  kSimErrTimeout = -11,     // a peer did not send its request in time
  kSimErrBadRequest = -12,  // a request that is not a well-formed GET
};

// A short English name of a code ("scenario error"); "ok" for values of 0 and above. Any thread.
[[nodiscard]] const char* simCodeName(int code);

}  // namespace kv4r::sim
