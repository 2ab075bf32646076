#include "sim/request_log.h"

#include <chrono>
#include <ctime>
#include <nlohmann/json.hpp>

#include "sim/sim_codes.h"

namespace kv4r::sim {
namespace {

std::string utcNow() {
  const auto now = std::chrono::system_clock::now();
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(ms % 1000));
  return text;
}

bool isAuthorizationLine(const std::string& line) {
  static const char kName[] = "authorization:";
  if (line.size() < sizeof kName - 1) return false;
  for (std::size_t i = 0; i + 1 < sizeof kName; ++i) {
    const char c = line[i] >= 'A' && line[i] <= 'Z' ? static_cast<char>(line[i] + 32) : line[i];
    if (c != kName[i]) return false;
  }
  return true;
}

}  // namespace

int requestLogOpen(RequestLog* log, const std::string& path) {
  std::lock_guard<std::mutex> lock(log->mutex);
  if (log->file) std::fclose(log->file);
  log->file = std::fopen(path.c_str(), "a");
  return log->file ? 1 : kSimErrLog;
}

void requestLogClose(RequestLog* log) {
  std::lock_guard<std::mutex> lock(log->mutex);
  if (log->file) std::fclose(log->file);
  log->file = nullptr;
}

std::string requestLogLine(std::uint64_t connection_id, const HttpRequest& request,
                           const std::string& user, bool authorized) {
  nlohmann::json lines = nlohmann::json::array();
  for (const std::string& line : request.lines) {
    // Header text may hold any byte; keep the log valid UTF-8 by replacing what is not ASCII.
    std::string clean;
    for (const char c : line) clean.push_back(static_cast<unsigned char>(c) < 0x80 ? c : '?');
    if (isAuthorizationLine(clean)) clean = clean.substr(0, clean.find(':')) + ": Basic ***";
    lines.push_back(clean);
  }
  nlohmann::json entry = {{"time", utcNow()},
                          {"connection", connection_id},
                          {"lines", lines},
                          {"authorized", authorized}};
  if (!user.empty()) {
    std::string clean;
    for (const char c : user) clean.push_back(static_cast<unsigned char>(c) < 0x80 ? c : '?');
    entry["user"] = clean;
  }
  return entry.dump();
}

void requestLogWrite(RequestLog* log, std::uint64_t connection_id, const HttpRequest& request,
                     const std::string& user, bool authorized) {
  {
    std::lock_guard<std::mutex> lock(log->mutex);
    if (!log->file) return;
  }
  const std::string line = requestLogLine(connection_id, request, user, authorized);
  std::lock_guard<std::mutex> lock(log->mutex);
  if (!log->file) return;
  std::fputs(line.c_str(), log->file);
  std::fputc('\n', log->file);
  std::fflush(log->file);
}

}  // namespace kv4r::sim
