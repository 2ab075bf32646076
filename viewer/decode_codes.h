// Result codes of the live view's decoding, snapshot and recording functions. Successful calls
// return 1 (or a count) as their contracts say; failures return one of these negative codes.
#pragma once

namespace kv4r::viewer {

enum : int {
  kDecodeErrDropped = -1,      // the frame was dropped (pane disabled, no picture block, ...)
  kDecodeErrDecoder = -2,      // the pane's decoder could not be created
  kDecodeErrJpeg = -3,         // JPEG bytes the decoder refused
  kDecodeErrTooLarge = -4,     // a picture larger than the 720 x 576 picture room
  kDecodeErrRecord = -5,       // a record too short for its fixed part or its table block
  kDecodeErrParameters = -6,   // rebuild parameter bytes outside the rebuild's tables
  kDecodeErrKeyRefused = -7,   // the frame's key does not match the stored key
  kDecodeErrFileCreate = -8,   // a snapshot or recording file could not be created
  kDecodeErrFileWrite = -9,    // a snapshot file could not be written completely
  kDecodeErrNoSnapshot = -10,  // a snapshot yielded no bytes (time-out, not drawn, no picture)
};

// A short English name of a code ("jpeg error", ...); "ok" for values >= 0.
[[nodiscard]] const char* decodeCodeName(int code);

}  // namespace kv4r::viewer
