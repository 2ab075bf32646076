// Diagnostic traces. The libraries print the trace lines their design names ("termpool\n",
// "\tst:BROKEN\n", ...) only while tracing is switched on; programs switch it on with --verbose.
// Errors a user must see never go through here (see message_boxes.h).
// Thread safety: any thread may trace or switch tracing at any time.
#pragma once

namespace kv4r::platform {

void setTraceEnabled(bool enabled);
[[nodiscard]] bool traceEnabled();

// printf-style; the text is written as given (no line end is added) when tracing is on.
void traceOut(const char* format, ...) __attribute__((format(printf, 1, 2)));  // standard output
void traceErr(const char* format, ...) __attribute__((format(printf, 1, 2)));  // standard error

}  // namespace kv4r::platform
