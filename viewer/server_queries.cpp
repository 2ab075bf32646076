// The three server queries of the connect sequence.
#include <cstdint>
#include <string>
#include <string_view>

#include "stream/http_request.h"
#include "stream/text_format.h"
#include "stream/text_search.h"
#include "viewer/viewer_window.h"

namespace kv4r::viewer {
namespace {

constexpr std::size_t kCgiEchoBytes = 196;

void show(ViewerWindow& window, const std::string& text) {
  if (window.boxes != nullptr) window.boxes->show(text);
}

// parseNumber of the text behind `name` and one more character (the '='); -1 without the name.
int numberBehind(std::string_view answer, const char* name) {
  const auto at = stream::findText(answer, name);
  if (!at) return -1;
  const std::size_t from = *at + std::char_traits<char>::length(name) + 1;
  if (from > answer.size()) return stream::parseNumber(std::string_view());
  return stream::parseNumber(answer.substr(from));
}

// The text between `key` (which ends with the opening quote) and the next quote followed by CR LF,
// cut to `limit` characters; empty when either is missing.
std::string quotedValue(std::string_view answer, const char* key, std::size_t limit) {
  const auto at = stream::findText(answer, key);
  if (!at) return {};
  const std::string_view rest = answer.substr(*at + std::char_traits<char>::length(key));
  const auto end = stream::findText(rest, "\"\r\n");
  if (!end) return {};
  return std::string(rest.substr(0, std::min(*end, limit)));
}

// The answer as a C string of at most `limit` bytes (it ends at a zero byte).
std::string echoText(std::string_view answer, std::size_t limit) {
  std::string_view text = answer.substr(0, std::min(limit, answer.size()));
  return std::string(text.substr(0, text.find('\0')));
}

}  // namespace

int querySystemInfo(ViewerWindow& window) {
  const std::string path = stream::formatText("/cgi-bin/kxsysget.cgi?KxModId=%d&KxCgiVer=0x%04x",
                                              window.server_number, kCgiVersion);
  std::string answer;
  if (stream::httpQuery(path, window.host, window.port, window.user, window.password, &answer,
                        kQueryBytes) <= 0) {
    return -1;
  }
  const auto model_at = stream::findText(answer, "Model=");
  if (!model_at) {
    show(window, stream::formatText(
                     "CGI failed \n\n/cgi-bin/kxsysget.cgi?ServerId=%d&KxCgiVer=0x0001 \n\n%s",
                     window.server_number, echoText(answer, kCgiEchoBytes).c_str()));
    return -1;
  }
  ServerInfo& info = window.info;
  info.model = stream::parseNumber(std::string_view(answer).substr(*model_at + 6));
  info.kernel_version = numberBehind(answer, "KernelVersion");
  // Cleared for every server: an older one reports none, and must not keep the last one's.
  info.os_type.clear();
  if (info.kernel_version >= 0x300) {
    if (const auto at = stream::findText(answer, "OsType=")) {
      const std::string_view rest = std::string_view(answer).substr(*at + 7);
      const std::size_t end = stream::findText(rest, "\r\n").value_or(rest.size());
      info.os_type = std::string(rest.substr(0, std::min(end, kOsTypeChars)));
    }
  }
  info.camera_count = numberBehind(answer, "SupportCameraCount");
  if (info.camera_count > kMaxCameraCount) info.camera_count = kMaxCameraCount;
  info.digital_inputs = numberBehind(answer, "SupportDigitalIutputCount");
  info.digital_outputs = numberBehind(answer, "SupportDigitalOutputCount");
  info.camera_model = quotedValue(answer, "SupportCameraModel=\"", kCameraModelChars);
  info.serial_number = quotedValue(answer, "SerialNo=\"", kSerialNumberChars);
  if (info.camera_count >= 1 && info.camera_count <= 6) return 0;
  show(window,
       stream::formatText(
           "Max Camera Number is %d.\n\nIt means that 'Video Relay' is not initialize.\n\nPlease "
           "check 'RX Module Registration' of this system \n\n and login information of remote "
           "system.",
           info.camera_count));
  return -1;
}

int queryUserRights(ViewerWindow& window) {
  std::string answer;
  if (stream::httpQueryAll("/asp-get/kxusrget.asp", window.host, window.port, window.user,
                           window.password, &answer, kQueryBytes) < 0) {
    return -1;
  }
  const char* keys[4] = {"PROPERTY0", "PROPERTY1", "PROPERTY2", "PROPERTY3"};
  int values[4];
  bool all_missing = true;
  for (int k = 0; k < 4; ++k) {
    values[k] = numberBehind(answer, keys[k]);
    all_missing = all_missing && values[k] == -1;
  }
  std::uint32_t masks[4] = {0, 0, 0, 0};
  for (int k = 0; k < 4; ++k) {
    const auto value = static_cast<std::uint32_t>(values[k]);
    for (const std::uint32_t entry : {value & 0xFFFF, value >> 16}) {
      if (static_cast<int>(entry >> 8) != window.server_number) continue;
      const std::uint32_t camera = entry >> 4 & 0xF;
      const std::uint32_t cameras = camera == 15 ? 63 : 1u << camera;
      for (int bit = 0; bit < 4; ++bit) {
        if ((entry & (1u << bit)) != 0) masks[bit] |= cameras;
      }
    }
  }
  for (int m = 0; m < 4; ++m) window.rights[m] = all_missing ? -1 : static_cast<int>(masks[m]);
  for (CameraPane& pane : window.panes) {
    pane.allowed.store((window.rights[kViewRights] & (1 << pane.index)) != 0);
  }
  return 0;
}

int queryCameraNames(ViewerWindow& window) {
  const int count = std::min(window.info.camera_count, kPaneCount);
  for (int i = 0; i < count; ++i) {
    const std::string path =
        stream::formatText("/asp-get/kxcamget.asp?KxModId=%d&PortId=%d", window.server_number, i);
    std::string answer;
    if (stream::httpQueryAll(path, window.host, window.port, window.user, window.password, &answer,
                             kQueryBytes) < 0) {
      return -1;
    }
    CameraPane& pane = window.panes[i];
    const auto at = stream::findText(answer, "CAMNAME=\"");
    if (!at) {
      if (pane.name.empty()) pane.name = stream::formatText("Cam %d", i + 1);
      continue;
    }
    const std::string_view rest = std::string_view(answer).substr(*at + 9);
    const std::size_t end = rest.find('"');
    if (end == std::string_view::npos) continue;
    if (pane.name.empty()) pane.name = std::string(rest.substr(0, std::min(end, kCameraNameChars)));
  }
  return 0;
}

int runServerQueries(ViewerWindow& window) {
  if (querySystemInfo(window) != 0) return -1;
  if (queryUserRights(window) != 0) return -1;
  if (queryCameraNames(window) != 0) return -1;
  return 0;
}

}  // namespace kv4r::viewer
