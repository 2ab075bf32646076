// The control's snapshot, recording and information methods as dispatch calls: GetJpg, GetBmp,
// SaveJpg, SaveBmp, RecMovieVrx, RecMovieAvi, GetMacAddr and GetVersion by DISPID, with the
// arguments already converted to the methods' types (out arguments as given by the caller).
// The control's dispatch hands these DISPIDs here; AboutBox stays with the control.
//
// Threads: the control's window thread. GetJpg and SaveJpg block until the camera's next decoded
// frame, at most kGrabTimeout_ms.
#pragma once

#include <vector>

#include "platform/dispatch.h"
#include "platform/variant.h"
#include "viewer/live_decoding.h"

namespace kv4r::viewer {

// Whether `dispid` is one of the eight methods handled here.
[[nodiscard]] bool isDecodeMethod(int dispid);

// Runs the method. GetJpg/GetBmp: TRUE, with the bytes (an empty array when there are none) in
// args[0] and their number (I4) in args[1]. SaveJpg/SaveBmp: TRUE when the file was
// written, FALSE when the camera cannot deliver or the snapshot has no bytes (no file is left), a
// dispatch exception (kDispException, with the file error) when the file cannot be created or
// written. RecMovieVrx/RecMovieAvi: 1, 0 or -1. GetMacAddr: the serial number. GetVersion:
// 20040601. Any other DISPID: kDispMemberNotFound.
[[nodiscard]] platform::DispatchResult invokeDecodeMethod(ViewerWindow& window,
                                                          LiveDecoding& decoding, int dispid,
                                                          std::vector<platform::Variant>& args);

}  // namespace kv4r::viewer
