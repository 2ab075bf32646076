#include "sim/sim_codes.h"

namespace kv4r::sim {

const char* simCodeName(int code) {
  if (code >= 0) return "ok";
  switch (code) {
    case kSimErrFailed:
      return "failed";
    case kSimErrArgument:
      return "bad argument";
    case kSimErrScenario:
      return "scenario error";
    case kSimErrListen:
      return "cannot listen";
    case kSimErrPicture:
      return "picture error";
    case kSimErrRecord:
      return "record error";
    case kSimErrClip:
      return "clip error";
    case kSimErrLog:
      return "log error";
    case kSimErrThread:
      return "thread error";
    case kSimErrClosed:
      return "connection closed";
    case kSimErrTimeout:
      return "time-out";
    case kSimErrBadRequest:
      return "bad request";
    default:
      return "unknown code";
  }
}

}  // namespace kv4r::sim
