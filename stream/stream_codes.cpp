#include "stream/stream_codes.h"

namespace kv4r::stream {

const char* streamCodeName(int code) {
  if (code >= 0) return "ok";
  switch (code) {
    case kStreamFailed:
      return "failed";
    case kQueryFailed:
      return "query failed";
    case kQueryTooLarge:
      return "answer too large";
    case kQueryNoBuffer:
      return "no output buffer";
    case kFrameBadPartHeader:
      return "bad part header";
    case kFrameUnauthorized:
      return "login refused";
    case kFrameNoBoundary:
      return "no boundary";
    default:
      return "unknown code";
  }
}

}  // namespace kv4r::stream
