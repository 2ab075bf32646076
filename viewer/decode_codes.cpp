#include "viewer/decode_codes.h"

namespace kv4r::viewer {

const char* decodeCodeName(int code) {
  switch (code) {
    case kDecodeErrDropped:
      return "frame dropped";
    case kDecodeErrDecoder:
      return "no decoder";
    case kDecodeErrJpeg:
      return "jpeg error";
    case kDecodeErrTooLarge:
      return "picture too large";
    case kDecodeErrRecord:
      return "bad record";
    case kDecodeErrParameters:
      return "bad rebuild parameters";
    case kDecodeErrKeyRefused:
      return "key refused";
    case kDecodeErrFileCreate:
      return "cannot create file";
    case kDecodeErrFileWrite:
      return "cannot write file";
    case kDecodeErrNoSnapshot:
      return "no snapshot";
    default:
      return code >= 0 ? "ok" : "unknown error";
  }
}

}  // namespace kv4r::viewer
