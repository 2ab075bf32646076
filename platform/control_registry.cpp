#include "platform/control_registry.h"

namespace kv4r::platform {

const char* registryCodeName(int code) {
  if (code >= 0) return "ok";
  switch (code) {
    case kRegistryNotRegistered:
      return "class not registered";
    case kRegistryBadClass:
      return "incomplete class registration";
    case kRegistryCreateFailed:
      return "control creation failed";
    default:
      return "unknown code";
  }
}

ControlRegistry& ControlRegistry::instance() {
  static ControlRegistry registry;
  return registry;
}

int ControlRegistry::registerClass(ControlClass control_class) {
  if (control_class.class_id.empty() || control_class.prog_id.empty() || !control_class.create) {
    return kRegistryBadClass;
  }
  std::lock_guard lock(mutex_);
  for (ControlClass& existing : classes_) {
    if (memberNamesEqual(existing.class_id, control_class.class_id)) {
      existing = std::move(control_class);
      return kRegistryOk;
    }
  }
  classes_.push_back(std::move(control_class));
  return kRegistryOk;
}

int ControlRegistry::unregisterClass(std::string_view class_id) {
  std::lock_guard lock(mutex_);
  for (auto it = classes_.begin(); it != classes_.end(); ++it) {
    if (memberNamesEqual(it->class_id, class_id)) {
      classes_.erase(it);
      return kRegistryOk;
    }
  }
  return kRegistryNotRegistered;
}

bool ControlRegistry::isRegistered(std::string_view class_id) const {
  std::lock_guard lock(mutex_);
  for (const ControlClass& c : classes_) {
    if (memberNamesEqual(c.class_id, class_id)) return true;
  }
  return false;
}

std::optional<std::string> ControlRegistry::classIdOfProgId(std::string_view prog_id) const {
  std::lock_guard lock(mutex_);
  for (const ControlClass& c : classes_) {
    if (memberNamesEqual(c.prog_id, prog_id)) return c.class_id;
  }
  return std::nullopt;
}

int ControlRegistry::create(std::string_view class_id, std::unique_ptr<Dispatch>& control) const {
  control.reset();
  std::function<std::unique_ptr<Dispatch>()> factory;
  {
    std::lock_guard lock(mutex_);
    for (const ControlClass& c : classes_) {
      if (memberNamesEqual(c.class_id, class_id)) {
        factory = c.create;
        break;
      }
    }
  }
  if (!factory) return kRegistryNotRegistered;
  control = factory();
  return control ? kRegistryOk : kRegistryCreateFailed;
}

}  // namespace kv4r::platform
