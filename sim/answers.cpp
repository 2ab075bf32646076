#include "sim/answers.h"

#include <cstdio>

namespace kv4r::sim {
namespace {

std::string format(const char* fmt, auto... args) {
  char buffer[512];
  const int n = std::snprintf(buffer, sizeof buffer, fmt, args...);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) < sizeof buffer)
    return std::string(buffer, static_cast<std::size_t>(n));
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), fmt, args...);
  big.resize(static_cast<std::size_t>(n));
  return big;
}

std::string withLength(const std::string& status, const std::string& type, const std::string& body,
                       bool zero_length) {
  std::string out = "HTTP/1.1 " + status + "\r\nContent-Type: " + type +
                    "\r\nContent-Length: " + std::to_string(zero_length ? 0 : body.size()) +
                    "\r\nConnection: close\r\n\r\n";
  if (!zero_length) out += body;
  return out;
}

std::string untilClose(const std::string& status, const std::string& type,
                       const std::string& body) {
  return "HTTP/1.1 " + status + "\r\nContent-Type: " + type + "\r\nConnection: close\r\n\r\n" +
         body;
}

std::string escapeHtml(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

}  // namespace

std::string systemInfoAnswer(const Scenario& s, int model, bool zero_length) {
  std::string body;
  body += format("Model=0x%04x\r\n", static_cast<unsigned>(model) & 0xFFFFu);
  body += format("KernelVersion=0x%04x\r\n", static_cast<unsigned>(s.kernel_version));
  body += "OsType=" + s.os_type + "\r\n";
  body += format("SupportCameraCount=%d\r\n", s.camera_count);
  body += format("SupportDigitalIutputCount=%d\r\n", s.digital_inputs);
  body += format("SupportDigitalOutputCount=%d\r\n", s.digital_outputs);
  body += "SupportCameraModel=\"" + s.camera_model + "\"\r\n";
  body += "SerialNo=\"" + s.serial_number + "\"\r\n";
  return withLength("200 OK", "text/plain", body, zero_length);
}

std::string userRightsAnswer(const Scenario& s, const std::string& user) {
  const auto own = s.user_rights.find(user);
  const std::optional<std::vector<std::int64_t>>& rights =
      own != s.user_rights.end() ? own->second : s.rights;
  std::string body;
  if (rights) {
    for (std::size_t i = 0; i < rights->size(); ++i) {
      const long long v = (*rights)[i];
      body += v < 0 ? format("PROPERTY%zu=%lld\r\n", i, v)
                    : format("PROPERTY%zu=0x%08llx\r\n", i, static_cast<unsigned long long>(v));
    }
  }
  return untilClose("200 OK", "text/plain", body);
}

std::string cameraNameAnswer(const Scenario& s, long long port_id) {
  if (port_id < 0 || port_id >= s.camera_count ||
      port_id >= static_cast<long long>(s.cameras.size())) {
    return pageAnswer("404 Not Found", "No such camera");
  }
  const CameraScenario& camera = s.cameras[static_cast<std::size_t>(port_id)];
  std::string body;
  if (camera.name) body = "CAMNAME=\"" + *camera.name + "\"\r\n";
  return untilClose("200 OK", "text/plain", body);
}

std::string controlAnswer(int status, const std::string& text, bool zero_length) {
  const char* reason = status == 200   ? "OK"
                       : status == 400 ? "Bad Request"
                       : status == 404 ? "Not Found"
                                       : "Error";
  return withLength(std::to_string(status) + " " + reason, "text/plain", text + "\r\n",
                    zero_length);
}

std::string unauthorizedAnswer() {
  const std::string body =
      "<html><head><title>401 Unauthorized</title></head>"
      "<body><h1>Unauthorized</h1><p>Login id or password is wrong.</p></body></html>\r\n";
  return "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"kv4r_sim\"\r\n"
         "Content-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::string pageAnswer(const std::string& status, const std::string& text) {
  return untilClose(status, "text/html",
                    "<html><head><title>" + status + "</title></head><body><h1>" + text +
                        "</h1></body></html>\r\n");
}

std::string streamHeaderBlock() {
  return "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=myboundary\r\n"
         "Cache-Control: no-cache\r\nConnection: close\r\n\r\n";
}

std::string partHeader(std::uint32_t daemon_id) {
  std::string header = kPartHeaderText;
  header += format("0x%08x", static_cast<unsigned>(daemon_id));
  header += "\r\n\r\n";
  return header;  // 48 + 10 + 4 = 62 bytes
}

std::string pageWithoutBoundary() {
  return pageAnswer("200 OK", "No video is available at this time");
}

std::string indexPage(const Scenario& s) {
  std::string body = "<html><head><title>kv4r_sim</title></head><body><h1>" +
                     escapeHtml(s.server_name) + "</h1>\r\n";
  for (int c = 1; c <= s.camera_count; ++c) {
    const CameraScenario& camera = s.cameras[static_cast<std::size_t>(c - 1)];
    body += format(
        "<figure style=\"display:inline-block\"><img src=\"/mjpeg?camera=%d\" "
        "width=\"%d\" height=\"%d\"><figcaption>%d: ",
        c, camera.width, camera.height, c);
    body += escapeHtml(camera.name.value_or("(no name)")) + "</figcaption></figure>\r\n";
  }
  body += "</body></html>\r\n";
  return untilClose("200 OK", "text/html", body);
}

}  // namespace kv4r::sim
