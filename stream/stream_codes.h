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

  // FrameResult of the stream session's frame receiver (receiveFrame, recvFirstFrame,
  // recvNextFrame); 1 is a whole frame. Two values are shared with the query family because they
  // mean the same: a receive failed (the connection is lost), and the data does not fit.
  kFrameLost = kQueryFailed,        // -2: a receive failed, timed out or the peer closed
  kFrameBadPartHeader = -3,         // a part header does not begin with the boundary text
  kFrameTooLarge = kQueryTooLarge,  // -5: record and next part header do not fit the buffer
  kFrameUnauthorized = -10,         // no boundary, and the answer says "Unauthorized"
  kFrameNoBoundary = -11,           // no boundary, and no "Unauthorized" either
};

// A short English name of a result code for traces and messages ("query failed"); "ok" for values
// of 0 and above, "unknown code" for values this header does not define. Any thread may call it.
[[nodiscard]] const char* streamCodeName(int code);

}  // namespace kv4r::stream
