#include "platform/dispatch.h"

namespace kv4r::platform {

const char* dispatchCodeName(int code) {
  if (code >= 0) return "ok";
  switch (code) {
    case kDispUnknownName:
      return "unknown name";
    case kDispMemberNotFound:
      return "member not found";
    case kDispTypeMismatch:
      return "type mismatch";
    case kDispBadParamCount:
      return "bad parameter count";
    case kDispNotAProperty:
      return "not a property";
    case kDispNotAMethod:
      return "not a method";
    case kDispException:
      return "exception";
    default:
      return "unknown code";
  }
}

DispatchResult DispatchResult::success(Variant value) {
  DispatchResult r;
  r.value = std::move(value);
  return r;
}

DispatchResult DispatchResult::failure(int code, std::string message) {
  DispatchResult r;
  r.code = code < 0 ? code : kDispException;
  r.message = message.empty() ? std::string(dispatchCodeName(r.code)) : std::move(message);
  return r;
}

bool memberNamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace kv4r::platform
