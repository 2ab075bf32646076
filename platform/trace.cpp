#include "platform/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace kv4r::platform {
namespace {
std::atomic<bool> enabled{false};
}

void setTraceEnabled(bool on) { enabled.store(on, std::memory_order_relaxed); }

bool traceEnabled() { return enabled.load(std::memory_order_relaxed); }

void traceOut(const char* format, ...) {
  if (!traceEnabled()) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fflush(stdout);
}

void traceErr(const char* format, ...) {
  if (!traceEnabled()) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
}

}  // namespace kv4r::platform
