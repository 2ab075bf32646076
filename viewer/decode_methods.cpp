#include "viewer/decode_methods.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "viewer/decode_codes.h"
#include "viewer/snapshot_methods.h"
#include "viewer/vidlet_properties.h"

namespace kv4r::viewer {
namespace {

using platform::DispatchResult;
using platform::Variant;

DispatchResult saveResult(int rc, const std::string& path) {
  if (rc >= 0) return DispatchResult::success(Variant::fromBool(rc == 1));
  const int error = errno;
  return DispatchResult::failure(platform::kDispException, std::string(decodeCodeName(rc)) + " " +
                                                               path + ": " + std::strerror(error));
}

// Arguments come converted by the control; a caller that did not convert still gets sense.
int cameraOf(const Variant& v) {
  Variant converted;
  if (platform::convertVariant(v, platform::VarType::I4, converted) != platform::kVariantOk)
    return 0;
  return converted.i4Value();
}

std::string pathOf(const Variant& v) {
  Variant converted;
  if (platform::convertVariant(v, platform::VarType::String, converted) != platform::kVariantOk) {
    return {};
  }
  return converted.stringValue();
}

}  // namespace

bool isDecodeMethod(int dispid) {
  switch (dispid) {
    case kDispidGetJpg:
    case kDispidGetBmp:
    case kDispidSaveJpg:
    case kDispidSaveBmp:
    case kDispidRecMovieVrx:
    case kDispidRecMovieAvi:
    case kDispidGetMacAddr:
    case kDispidGetVersion:
      return true;
    default:
      return false;
  }
}

DispatchResult invokeDecodeMethod(ViewerWindow& window, LiveDecoding& decoding, int dispid,
                                  std::vector<Variant>& args) {
  const std::size_t wanted = dispid == kDispidGetJpg || dispid == kDispidGetBmp           ? 3
                             : dispid == kDispidGetMacAddr || dispid == kDispidGetVersion ? 0
                                                                                          : 2;
  if (!isDecodeMethod(dispid)) return DispatchResult::failure(platform::kDispMemberNotFound);
  if (args.size() != wanted) return DispatchResult::failure(platform::kDispBadParamCount);
  switch (dispid) {
    case kDispidGetJpg:
    case kDispidGetBmp: {
      std::vector<std::uint8_t> bytes;
      const int camera = cameraOf(args[2]);
      const int length = dispid == kDispidGetJpg ? getJpeg(window, decoding, camera, &bytes)
                                                 : getBitmap(window, decoding, camera, &bytes);
      args[0] = Variant::fromBytes(std::move(bytes));
      args[1] = Variant::fromI4(length);
      return DispatchResult::success(Variant::fromBool(true));
    }
    case kDispidSaveJpg:
    case kDispidSaveBmp: {
      const int camera = cameraOf(args[0]);
      const std::string path = pathOf(args[1]);
      const int rc = dispid == kDispidSaveJpg ? saveJpeg(window, decoding, camera, path)
                                              : saveBitmap(window, decoding, camera, path);
      return saveResult(rc, path);
    }
    case kDispidRecMovieVrx:
    case kDispidRecMovieAvi: {
      const int camera = cameraOf(args[0]);
      const std::string path = pathOf(args[1]);
      const int rc = dispid == kDispidRecMovieVrx ? recordClip(window, decoding, camera, path)
                                                  : recordAvi(window, decoding, camera, path);
      return DispatchResult::success(Variant::fromI4(rc < 0 ? -1 : rc));
    }
    case kDispidGetMacAddr:
      return DispatchResult::success(Variant::fromString(serverSerialNumber(window)));
    default:
      return DispatchResult::success(Variant::fromI4(kControlVersion));
  }
}

}  // namespace kv4r::viewer
