#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

#include "platform/message_boxes.h"
#include "stream/rsp.h"
#include "stream/sbpool.h"
#include "stream/server_address.h"
#include "stream/socket_io.h"
#include "tools/kv4r_rec.h"
#include "tools/rec_progress.h"
#include "viewer/viewer_window.h"

namespace kv4r::tools {
namespace {

// How long the check of a server that failed the connect sequence waits for a connection.
constexpr int kProbeTimeout_s = 3;

volatile std::sig_atomic_t stop_signal = 0;

void onStopSignal(int) {
  stop_signal = 1;
}

const char* linkText(int kind, int code) {
  if (kind == stream::kLinkStarted) return "established";
  switch (code) {
    case stream::kLinkBroken:
      return "broken";
    case stream::kLinkRefused:
      return "login refused";
    case stream::kLinkWrongModel:
      return "wrong model";
    default:
      return "unknown";
  }
}

// What the recorder's threads share with the main thread.
struct RawRecorder {
  std::filesystem::path folder;
  long long limit = 0;  // 0 = none

  std::mutex mutex;
  std::condition_variable changed;
  long long written = 0;
  long long counts[viewer::kPaneCount] = {0, 0, 0, 0};
  bool write_failed = false;
  int refused_posts = 0;

  // Delivering thread: writes the record as delivered and gives the buffer back.
  void take(viewer::CameraPane& pane, void* buffer, int length) {
    long long number = 0;
    {
      std::lock_guard lock(mutex);
      if (write_failed || (limit > 0 && written >= limit)) {
        stream::poolPut(buffer);
        return;
      }
      number = ++written;
      ++counts[pane.index];
    }
    char name[64];
    std::snprintf(name, sizeof name, "frame_%06lld_cam%d.rec", number, pane.index + 1);
    std::ofstream file(folder / name, std::ios::binary);
    file.write(static_cast<const char*>(buffer), length);
    file.close();
    stream::poolPut(buffer);
    if (!file) {
      std::fprintf(stderr, "kv4r_rec: cannot write %s\n", (folder / name).c_str());
      std::lock_guard lock(mutex);
      write_failed = true;
    }
    changed.notify_all();
  }
};

// The files in `folder` named as the raw recorder names them.
long long countRawRecords(const std::filesystem::path& folder) {
  long long found = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("frame_", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".rec")
      ++found;
  }
  return found;
}

}  // namespace

void prepareRecWindow(const RecOptions& options, viewer::ViewerWindow& window,
                      viewer::ControlConnection& control, platform::MessageBoxes& boxes) {
  window.boxes = &boxes;
  control.svr_id = options.server_id;
  viewer::applyConnectionSettings(window, control);
  (void)viewer::changePauseTime(window, control, options.pause_time);
  if (!options.cameras.empty()) {
    for (viewer::CameraPane& pane : window.panes) {
      pane.enabled.store(std::find(options.cameras.begin(), options.cameras.end(),
                                   pane.index + 1) != options.cameras.end());
    }
  }
}

void installStopSignals() {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP})
    std::signal(signal_number, onStopSignal);
}

bool stopRequested() {
  return stop_signal != 0;
}

namespace {

bool anyTextHas(const std::vector<std::string>& texts, std::string_view part) {
  return std::any_of(texts.begin(), texts.end(), [part](const std::string& text) {
    return text.find(part) != std::string::npos;
  });
}

// The connect sequence's message names no cause; one more connection attempt learns the system's.
void explainUnreachableServer(const std::string& url, bool server_answered) {
  std::string host;
  int port = stream::kDefaultHttpPort;
  if (stream::parseServerAddress(stream::cleanServerAddress(url), host, port, nullptr, nullptr) !=
      0) {
    return;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (port < 1 || port > 65535 || ::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    return;
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return;
  const bool connected = stream::sockConnect(fd, address, kProbeTimeout_s) == 0;
  const int error = errno;
  ::close(fd);
  if (!connected) {
    std::fprintf(stderr, "kv4r_rec: cannot connect to %s port %d: %s\n", host.c_str(), port,
                 error == ETIMEDOUT ? "no answer" : std::strerror(error));
  } else if (!server_answered) {
    std::fprintf(stderr,
                 "kv4r_rec: %s port %d takes connections but gave no server information; is it "
                 "a video server, and is that its port?\n",
                 host.c_str(), port);
  }
}

}  // namespace

void explainConnectFailure(const platform::RecordingMessageBoxes& boxes, const std::string& url) {
  const std::vector<std::string> texts = boxes.texts();
  if (!anyTextHas(texts, "HTTP/1.0 401 ") && !anyTextHas(texts, "HTTP/1.1 401 ")) {
    // A "CGI failed" message shows what the server did answer.
    if (anyTextHas(texts, "is not ready")) explainUnreachableServer(url, anyTextHas(texts, "CGI"));
    return;
  }
  if (stream::cleanServerAddress(url).find('@') != std::string::npos) {
    std::fprintf(stderr, "kv4r_rec: the server did not accept the user name and password\n");
  } else {
    std::fprintf(stderr,
                 "kv4r_rec: the server asks for a login: give it in the URL as "
                 "user:password@host\n");
  }
}

bool checkAskedCameras(const std::vector<int>& asked, int server_cameras) {
  const int cameras = std::min(server_cameras, viewer::kPaneCount);
  int present = 0;
  for (int camera : asked) {
    if (camera <= cameras) {
      ++present;
    } else {
      std::fprintf(stderr, "kv4r_rec: camera %d is not on the server, which shows %d camera%s\n",
                   camera, cameras, cameras == 1 ? "" : "s");
    }
  }
  return asked.empty() || present > 0;
}

int runRecInfo(const RecOptions& options) {
  platform::RecordingMessageBoxes boxes(true);
  viewer::ViewerWindow window;
  viewer::ControlConnection control;
  prepareRecWindow(options, window, control, boxes);
  if (viewer::setIpAddress(window, control, options.url, false) != 1) {
    explainConnectFailure(boxes, options.url);
    return 1;
  }
  const viewer::ServerInfo& info = window.info;
  std::printf("server: %s:%d module %d\n", control.ip_addr.c_str(), control.http_port,
              control.svr_id);
  std::printf("model: 0x%04x\n", static_cast<unsigned>(info.model));
  std::printf("kernel version: 0x%04x\n", static_cast<unsigned>(info.kernel_version));
  std::printf("os type: %s\n", info.os_type.c_str());
  std::printf("cameras: %d\n", info.camera_count);
  std::printf("digital inputs: %d\n", info.digital_inputs);
  std::printf("digital outputs: %d\n", info.digital_outputs);
  std::printf("camera model: %s\n", info.camera_model.c_str());
  std::printf("serial number: %s\n", info.serial_number.c_str());
  std::printf("rights: view 0x%08x, 0x%08x, 0x%08x, 0x%08x\n",
              static_cast<unsigned>(window.rights[0]), static_cast<unsigned>(window.rights[1]),
              static_cast<unsigned>(window.rights[2]), static_cast<unsigned>(window.rights[3]));
  for (int i = 0; i < std::min(info.camera_count, viewer::kPaneCount); ++i) {
    std::printf("camera %d: %s%s\n", i + 1, window.panes[i].name.c_str(),
                window.panes[i].allowed.load() ? "" : " (not allowed)");
  }
  window.connected.store(0);
  return 0;
}

int runRecRaw(const RecOptions& options) {
  std::error_code error;
  std::filesystem::create_directories(options.raw_dir, error);
  if (error || !std::filesystem::is_directory(options.raw_dir)) {
    const bool in_the_way =
        std::filesystem::exists(options.raw_dir) && !std::filesystem::is_directory(options.raw_dir);
    const std::string why = in_the_way ? "a file of that name is in the way"
                            : error    ? error.message()
                                       : "it is not a folder";
    std::fprintf(stderr, "kv4r_rec: cannot create folder %s: %s\n", options.raw_dir.c_str(),
                 why.c_str());
    return 1;
  }
  // Records of an earlier run would be overwritten by number or mixed with this run's.
  if (const long long earlier = countRawRecords(options.raw_dir); earlier > 0) {
    std::fprintf(stderr,
                 "kv4r_rec: %s already holds %lld frame record%s of an earlier run; give an empty "
                 "or new folder\n",
                 options.raw_dir.c_str(), earlier, earlier == 1 ? "" : "s");
    return 1;
  }
  // The stop closes the stream under the receiving thread, which reports that as a broken link;
  // once the run is ending, link events say nothing about the server and are not printed. Made
  // before the window, whose link callback reads it.
  std::atomic<bool> ending{false};
  platform::RecordingMessageBoxes boxes(true);
  viewer::ViewerWindow window;
  viewer::ControlConnection control;
  prepareRecWindow(options, window, control, boxes);

  RawRecorder recorder;
  recorder.folder = options.raw_dir;
  recorder.limit = options.frames;
  for (viewer::CameraPane& pane : window.panes) {
    pane.on_frame = [&recorder](viewer::CameraPane& p, void* buffer, int length) {
      recorder.take(p, buffer, length);
    };
  }
  window.post_login_refused = [&recorder] {
    {
      std::lock_guard lock(recorder.mutex);
      ++recorder.refused_posts;
    }
    recorder.changed.notify_all();
  };
  window.on_link_event = [&ending](int kind, int code) {
    if (ending.load()) return;
    std::printf("link: %s\n", linkText(kind, code));
    std::fflush(stdout);
  };

  installStopSignals();
  if (viewer::setIpAddress(window, control, options.url) != 1) {
    viewer::stopConnection(window);
    explainConnectFailure(boxes, options.url);
    return 1;
  }
  if (!checkAskedCameras(options.cameras, window.info.camera_count)) {
    viewer::stopConnection(window);
    return 1;
  }

  const auto start = std::chrono::steady_clock::now();
  RecProgress progress(start);
  bool refused = false;
  for (;;) {
    long long written = 0;
    {
      std::unique_lock lock(recorder.mutex);
      recorder.changed.wait_for(lock, std::chrono::milliseconds(100));
      if (recorder.refused_posts > 0) {
        refused = true;
        break;
      }
      if (recorder.write_failed) break;
      written = recorder.written;
    }
    if (options.frames > 0 && written >= options.frames) break;
    const auto now = std::chrono::steady_clock::now();
    if (options.seconds > 0 && now - start >= std::chrono::duration<double>(options.seconds)) break;
    if (stopRequested()) break;
    // Not under the lock: a stalled stderr must not hold up the delivering thread.
    progress.tick(now, written);
  }
  ending.store(true);
  if (refused) {
    viewer::handleLoginRefused(window, control);
  } else {
    viewer::stopConnection(window);
  }

  for (int i = 0; i < viewer::kPaneCount; ++i) {
    if (i < window.info.camera_count) {
      std::printf("camera %d: %lld frames\n", i + 1, recorder.counts[i]);
    }
  }
  std::printf("total: %lld frames\n", recorder.written);
  if (refused || recorder.write_failed) return 1;
  if (recorder.written == 0) {
    std::fprintf(stderr, "kv4r_rec: no frames came; nothing was written to %s\n",
                 options.raw_dir.c_str());
    return 1;
  }
  return 0;
}

}  // namespace kv4r::tools
