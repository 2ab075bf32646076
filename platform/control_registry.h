// The table of control classes a host can create by class id or ProgID. A control library adds
// its class by an explicit call (its registration function); until then, and after it removes
// the class again, creating it fails, and so does whatever creation needed it.
// Thread safety: every member may be called from any thread; factories run on the caller's thread
// without the table's lock held.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch.h"

namespace kv4r::platform {

// Result codes of the registry.
enum : int {
  kRegistryOk = 0,
  kRegistryNotRegistered = -20,  // no class with this id or ProgID
  kRegistryBadClass = -21,       // registration without class id, ProgID or factory
  kRegistryCreateFailed = -22,   // the class's factory gave nothing
};

// A short English name of a registry code; "ok" for values of 0 and above.
[[nodiscard]] const char* registryCodeName(int code);

// One registered control class. The factory makes a new control without a parent; a control that
// is also a window is reached by casting the returned object to its window class.
struct ControlClass {
  std::string
      class_id;         // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", compared without regard to case
  std::string prog_id;  // "Library.Class.1"
  std::string name;     // the class's user-visible name
  std::function<std::unique_ptr<Dispatch>()> create;
};

class ControlRegistry {
 public:
  ControlRegistry() = default;
  ControlRegistry(const ControlRegistry&) = delete;
  ControlRegistry& operator=(const ControlRegistry&) = delete;

  // The process-wide table that hosts use.
  static ControlRegistry& instance();

  // Adds a class, replacing one with the same class id. kRegistryOk or kRegistryBadClass.
  [[nodiscard]] int registerClass(ControlClass control_class);
  // Removes a class. kRegistryOk, or kRegistryNotRegistered when it was not there.
  int unregisterClass(std::string_view class_id);

  [[nodiscard]] bool isRegistered(std::string_view class_id) const;
  // The class id registered under a ProgID.
  [[nodiscard]] std::optional<std::string> classIdOfProgId(std::string_view prog_id) const;

  // Creates a control of a registered class into `control`. Returns kRegistryOk,
  // kRegistryNotRegistered or kRegistryCreateFailed (then `control` is null).
  [[nodiscard]] int create(std::string_view class_id, std::unique_ptr<Dispatch>& control) const;

 private:
  mutable std::mutex mutex_;
  std::vector<ControlClass> classes_;  // under mutex_
};

}  // namespace kv4r::platform
