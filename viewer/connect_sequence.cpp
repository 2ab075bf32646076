// The connect sequences, the connection stop and the stream start and stop.
#include <arpa/inet.h>

#include <algorithm>
#include <string>

#include "platform/trace.h"
#include "stream/server_address.h"
#include "stream/text_format.h"
#include "viewer/viewer_window.h"

namespace kv4r::viewer {
namespace {

void show(ViewerWindow& window, const std::string& text) {
  if (window.boxes != nullptr) window.boxes->show(text);
}

void requestLayout(ViewerWindow& window) {
  if (window.request_layout) window.request_layout();
}

int cameraCount(const ViewerWindow& window) {
  return std::clamp(window.info.camera_count, 0, kPaneCount);
}

}  // namespace

ViewerWindow::~ViewerWindow() {
  stopStream(*this);
}

int startStream(ViewerWindow& window) {
  if (stream::openFramePools(window.pools, window.active_count) != 1) return 0;
  in_addr address{};
  // Read as the queries read it (inet_aton), so that every host text they reached gets a stream.
  if (inet_aton(window.host.c_str(), &address) != 0) {
    {
      std::lock_guard lock(window.stop_mutex);
      window.stopping = false;
    }
    window.session = stream::RSPCreate(window.server_number, address.s_addr, window.port,
                                       window.user, window.password, window.info.model,
                                       window.pause_time, stream::kViewerDescriptorCount, &window,
                                       &viewerGetBuffer, &viewerDeliverFrame, &viewerLinkEvent);
  }
  if (window.session == nullptr) {
    platform::traceOut("RSPCreate error\n");
    return 0;
  }
  platform::traceOut("RSP Created\n");
  return 1;
}

void stopStream(ViewerWindow& window) {
  {
    std::lock_guard lock(window.stop_mutex);
    window.stopping = true;
  }
  window.stop_cv.notify_all();
  if (window.pools.receive != nullptr) (void)stream::terminateReceivePool(window.pools);
  if (window.session != nullptr) {
    stream::RSPDestroy(window.session);
    window.session = nullptr;
  }
  stream::freeFramePools(window.pools);
  window.active_mask.store(0);
}

int connectAtCreation(ViewerWindow& window) {
  if (window.host.empty()) return 0;
  window.connected.store(1);
  if (runServerQueries(window) != 0) {
    show(window, stream::formatText("\"%s\" is not ready, \nor network is bad. \nPlease try again.",
                                    window.host.c_str()));
    window.host.clear();
    window.connected.store(0);
    return -1;
  }
  window.active_count = 0;
  for (CameraPane& pane : window.panes) {
    if (pane.index >= cameraCount(window)) {
      pane.enabled.store(false);
    } else if (pane.enabled.load()) {
      ++window.active_count;
    }
  }
  return startStream(window) == 1 ? 1 : -1;
}

void stopConnection(ViewerWindow& window) {
  stopStream(window);
  for (CameraPane& pane : window.panes) {
    pane.picture = nullptr;  // a block of the picture pool, which is gone
    pane.relayout_on_next_picture = true;
  }
  window.connected.store(0);
  window.active_count = 0;
  window.drawn_count = 0;
  requestLayout(window);
}

int setIpAddress(ViewerWindow& window, ControlConnection& control, std::string_view value,
                 bool start_stream) {
  if (window.connected.load() != 0) {
    control.ip_addr = std::string(value);
    if (value.empty()) {
      stopConnection(window);
      control.modified = true;
    }
    return 0;
  }
  if (value.empty()) {
    control.ip_addr.clear();
    control.modified = true;
    return 0;
  }

  std::string host;
  std::string user;
  std::string password;
  int port = stream::kDefaultHttpPort;
  if (stream::parseServerAddress(stream::cleanServerAddress(value), host, port, &user, &password) !=
      0) {
    control.ip_addr.clear();
    show(window, "Bad URL format");
    return -1;
  }
  control.ip_addr = host;
  control.http_port = port;
  if (!user.empty()) control.user_id = user;
  if (!password.empty()) control.user_pwd = password;
  window.host = control.ip_addr;
  window.port = control.http_port;
  window.user = control.user_id;
  window.password = control.user_pwd;
  window.server_number = control.svr_id;

  window.connected.store(1);
  if (runServerQueries(window) != 0) {
    show(window, stream::formatText("Module %d of %s is not ready,\n\nor network is bad.",
                                    control.svr_id, control.ip_addr.c_str()));
    window.host.clear();
    window.connected.store(0);
    return -1;
  }
  window.active_count = 0;
  window.drawn_count = 0;
  for (CameraPane& pane : window.panes) {
    // As at creation: a camera this server lacks is not asked for, recorded or waited on.
    if (pane.index >= cameraCount(window)) {
      pane.enabled.store(false);
      continue;
    }
    if (pane.enabled.load()) ++window.active_count;
    if (pane.draw.load()) ++window.drawn_count;
  }
  if (!start_stream) return 1;
  const int started = startStream(window);
  requestLayout(window);
  control.modified = true;
  return started == 1 ? 1 : -1;
}

void applyConnectionSettings(ViewerWindow& window, const ControlConnection& control) {
  if (window.connected.load() != 0) return;
  window.port = control.http_port;
  window.user = control.user_id;
  window.password = control.user_pwd;
  window.server_number = control.svr_id;
}

int changePauseTime(ViewerWindow& window, ControlConnection& control, int pause_time) {
  // The server takes 0 to 490; a negative value would go out as it is.
  control.pause_time = std::clamp(pause_time, 0, stream::kMaxPauseTime);
  if (window.session != nullptr) {
    (void)stream::setPauseTime(window.session, control.pause_time, window.host);
  }
  window.pause_time = control.pause_time;
  control.modified = true;
  return control.pause_time;
}

void handleLoginRefused(ViewerWindow& window, ControlConnection& control) {
  if (window.connected.load() != 0) {
    control.ip_addr.clear();
    stopConnection(window);
  }
  show(window, "Login id & password is incorrect.");
}

}  // namespace kv4r::viewer
