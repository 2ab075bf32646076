// The request log: one JSON object per line for every request the server reads, with the time, the
// connection id and the request's header lines as they arrived. The value of an Authorization
// header is never written; the line shows "Authorization: Basic ***" and the entry carries the user
// name and whether the credentials were accepted.
//
// Any thread may write; lines are written whole under the log's own lock and flushed at once.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "sim/http_io.h"

namespace kv4r::sim {

struct RequestLog {
  std::mutex mutex;
  std::FILE* file = nullptr;  // under mutex
};

// Opens (appends to) a log file. Returns 1, or kSimErrLog.
[[nodiscard]] int requestLogOpen(RequestLog* log, const std::string& path);
void requestLogClose(RequestLog* log);

// The JSON line of one request (without the line end).
[[nodiscard]] std::string requestLogLine(std::uint64_t connection_id, const HttpRequest& request,
                                         const std::string& user, bool authorized);

// Appends the line of one request; does nothing while the log is not open.
void requestLogWrite(RequestLog* log, std::uint64_t connection_id, const HttpRequest& request,
                     const std::string& user, bool authorized);

}  // namespace kv4r::sim
