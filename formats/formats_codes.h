// Result codes of the formats library. Every function of this folder returns a count, 1 or 0 for
// success as its contract says, or one of these negative codes. kFormatsErrFailed is -1, the plain
// failure result that callers of the clip index compare against.
#pragma once

namespace kv4r::formats {

enum : int {
  kFormatsErrFailed = -1,      // unspecified failure
  kFormatsErrOpen = -2,        // a file could not be opened
  kFormatsErrShortRead = -3,   // a file ended inside data that had to be complete
  kFormatsErrWrite = -4,       // a write, flush or close failed (disk full, I/O error)
  kFormatsErrSeek = -5,        // a seek or size query failed
  kFormatsErrTooShort = -6,    // bytes too few for the structure (a record below 60 bytes, ...)
  kFormatsErrTooLong = -7,     // a record larger than the record buffer
  kFormatsErrBadRecord = -8,   // a record's markers, lengths or coding bits are wrong
  kFormatsErrAborted = -9,     // a progress callback asked to stop
  kFormatsErrIndexPath = -10,  // the clip's file name holds no ".vrx" to derive the index path from
  kFormatsErrNoEntries = -11,  // an index of 0 entries, or an entry number outside the index
  kFormatsErrArgument = -12,   // a missing handle or an impossible argument
  kFormatsErrBadJpeg = -13,    // JPEG bytes that cannot be parsed or decoded
  kFormatsErrTableLayout = -14,  // a JPEG whose tables do not fit the record's fixed table block
  kFormatsErrInvalidTime =
      -15,                    // an export range that matches no records, or ends before it starts
  kFormatsErrTooLarge = -16,  // a value that does not fit its field (segment length, 32-bit offset)
  kFormatsErrCreate = -17,    // an output file (index, AVI) could not be created
};

// A short English name of a code for messages and traces ("write error", ...); "ok" for values >=
// 0.
[[nodiscard]] const char* formatsCodeName(int code);

}  // namespace kv4r::formats
