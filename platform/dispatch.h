// The dispatch interface through which hosts reach a control: names map to integer ids
// (DISPIDs), properties are read and written by id, and methods are invoked by id with a list of
// arguments. Failures come back as results carrying a code and a message; nothing is thrown
// across the interface.
// Thread safety: a control's dispatch members run on the thread that owns the control (its window
// thread) unless the control says otherwise.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/variant.h"

namespace kv4r::platform {

// Result codes of the dispatch interface (a value of 0 or more is success).
enum : int {
  kDispOk = 0,
  kDispUnknownName = -10,     // getIdsOfNames: no member has this name
  kDispMemberNotFound = -11,  // no property or method with this id
  kDispTypeMismatch = -12,    // a value or argument cannot convert to the member's type
  kDispBadParamCount = -13,   // a method got too few or too many arguments
  kDispNotAProperty = -14,    // getProperty/putProperty on a method
  kDispNotAMethod = -15,      // invoke on a property
  kDispException = -16,       // the member failed; the message tells why
};

// A short English name of a dispatch code ("unknown name"); "ok" for values of 0 and above.
[[nodiscard]] const char* dispatchCodeName(int code);

// The standard id of the about-box method.
inline constexpr int kDispidAboutBox = -552;

// The outcome of one dispatch call: a code, a message for failures and the returned value
// (a property's value or a method's result; empty for methods without one).
struct DispatchResult {
  int code = kDispOk;
  std::string message;
  Variant value;

  [[nodiscard]] bool ok() const { return code >= 0; }
  static DispatchResult success(Variant value = {});
  // A failure whose message is the code's name unless `message` is given.
  static DispatchResult failure(int code, std::string message = {});
};

class Dispatch {
 public:
  virtual ~Dispatch() = default;

  // The id of a property or method by name; names compare without regard to case.
  // Returns the id, or kDispUnknownName (method ids may be negative too, so compare with it).
  [[nodiscard]] virtual int getIdsOfNames(std::string_view name) const = 0;

  // The stored value of a property.
  [[nodiscard]] virtual DispatchResult getProperty(int dispid) = 0;

  // Stores a property, converting the value to the property's type first, then applies it.
  // The result tells only whether the value was accepted; a value the control declines to apply
  // stays stored and is what getProperty returns.
  [[nodiscard]] virtual DispatchResult putProperty(int dispid, const Variant& value) = 0;

  // Calls a method. `args` are in declaration order; out arguments are written back into them.
  [[nodiscard]] virtual DispatchResult invoke(int dispid, std::vector<Variant>& args) = 0;
};

// Compares two member names the way getIdsOfNames does (ASCII, without regard to case).
[[nodiscard]] bool memberNamesEqual(std::string_view a, std::string_view b);

}  // namespace kv4r::platform
