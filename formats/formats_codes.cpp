#include "formats/formats_codes.h"

namespace kv4r::formats {

const char* formatsCodeName(int code) {
  if (code >= 0) return "ok";
  switch (code) {
    case kFormatsErrFailed:
      return "failure";
    case kFormatsErrOpen:
      return "cannot open file";
    case kFormatsErrShortRead:
      return "file ends too early";
    case kFormatsErrWrite:
      return "write error";
    case kFormatsErrSeek:
      return "seek error";
    case kFormatsErrTooShort:
      return "too short";
    case kFormatsErrTooLong:
      return "record too long";
    case kFormatsErrBadRecord:
      return "bad record";
    case kFormatsErrAborted:
      return "aborted";
    case kFormatsErrIndexPath:
      return "path holds no .vrx";
    case kFormatsErrNoEntries:
      return "no index entries";
    case kFormatsErrArgument:
      return "bad argument";
    case kFormatsErrBadJpeg:
      return "bad JPEG";
    case kFormatsErrTableLayout:
      return "JPEG tables do not fit the record layout";
    case kFormatsErrInvalidTime:
      return "invalid start/end time";
    case kFormatsErrTooLarge:
      return "value too large for its field";
    case kFormatsErrCreate:
      return "cannot create file";
    default:
      return "unknown error";
  }
}

}  // namespace kv4r::formats
