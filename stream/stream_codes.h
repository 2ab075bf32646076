// The result codes of the stream client. Every operation of this library returns a count, 1 or 0
// for its ordinary outcomes and one of these negative codes for a failure; the families below
// say which operations use which codes. The session's codes join this header later; keep every
// value unique across the families so that `streamCodeName` can name any result.
#pragma once

namespace kv4r::stream {

enum : int {
  // Socket and address operations (sockConnect, sockRecv, sockSendAll, httpOpen,
  // parseServerAddress, makeBasicAuth, formatDotted): the reason travels in errno.
  kStreamFailed = -1,

  // QueryResult of httpQuery and httpQueryAll (a positive value is the response length).
  kQueryFailed = -2,    // not connected, receive failed or timed out, or response does not fit
  kQueryTooLarge = -5,  // header plus announced body exceed the capacity (internal; callers see -2)
  kQueryNoBuffer = -6,  // no output buffer was given
};

// A short English name of a result code for traces and messages ("query failed"); "ok" for values
// of 0 and above, "unknown code" for values this header does not define. Any thread may call it.
[[nodiscard]] const char* streamCodeName(int code);

}  // namespace kv4r::stream
