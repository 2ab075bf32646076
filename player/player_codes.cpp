#include "player/player_codes.h"

namespace kv4r::player {

const char* playModeName(int mode) {
  switch (mode) {
    case kModeForward:
      return "forward";
    case kModeBackward:
      return "backward";
    case kModePause:
      return "pause";
    case kModeStop:
      return "stop";
    default:
      return "unknown";
  }
}

const char* workerStateName(int state) {
  switch (state) {
    case kWorkerRunning:
      return "running";
    case kWorkerEnded:
      return "ended";
    case kWorkerSuspended:
      return "suspended";
    default:
      return "unknown";
  }
}

const char* statusCodeName(int code) {
  switch (code) {
    case kStatusOpenError:
      return "open error";
    case kStatusReadError:
      return "read error";
    case kStatusThreadError:
      return "thread error";
    case kStatusIdle:
      return "idle";
    case kStatusIndexStart:
      return "index start";
    case kStatusIndexRecord:
      return "index record";
    case kStatusIndexEnd:
      return "index end";
    default:
      return "unknown";
  }
}

const char* statusMessageText(int code) {
  switch (code) {
    case kStatusOpenError:
      return "Open error";
    case kStatusReadError:
      return "Read error";
    case kStatusThreadError:
      return "PIP Thread terminated by error";
    default:
      return nullptr;
  }
}

}  // namespace kv4r::player
