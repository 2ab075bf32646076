// The stream session's owner callbacks: buffers from the receive pool with the wanted cameras,
// frames to the panes' hooks, link events to traces and to the refused-login post.
#include <chrono>
#include <cstdint>
#include <cstring>

#include "platform/trace.h"
#include "viewer/viewer_window.h"

namespace kv4r::viewer {

int wantedCameraMask(const ViewerWindow& window) {
  const int count = std::min(window.info.camera_count, kMaxCameraCount);
  int mask = 0;
  for (int i = 0; i < count; ++i) {
    const CameraPane& pane = window.panes[i];
    if (pane.enabled.load() && pane.draw.load() && pane.allowed.load()) mask |= 1 << i;
  }
  return mask;
}

void* viewerGetBuffer(void* owner) {
  auto* window = static_cast<ViewerWindow*>(owner);
  if (window->pools.receive == nullptr) return nullptr;
  void* buffer = stream::poolGet(window->pools.receive);
  if (buffer == nullptr) return nullptr;
  std::memset(buffer, 0, stream::kReceiveBlockBytes);
  int mask = wantedCameraMask(*window);
  window->active_mask.store(mask);
  if (mask == 0) {
    // Keep the stream alive with camera 1; its frames are given back while no camera is wanted.
    std::unique_lock lock(window->stop_mutex);
    window->stop_cv.wait_for(lock, std::chrono::milliseconds(window->empty_mask_delay_ms),
                             [window] { return window->stopping; });
    mask = 1;
  }
  const std::uint32_t words[2] = {static_cast<std::uint32_t>(stream::kReceiveBlockBytes),
                                  static_cast<std::uint32_t>(mask)};
  std::memcpy(buffer, words, sizeof words);
  platform::traceOut("get buf\n");
  return buffer;
}

void viewerDeliverFrame(void* owner, int kind, int camera_index, void* buffer, int length) {
  auto* window = static_cast<ViewerWindow*>(owner);
  if (kind == stream::kDeliverReturn) {
    stream::poolPut(buffer);
    return;
  }
  if (kind != stream::kDeliverFrame) return;
  // A camera number the panes do not have (0, or above 4) is given back like an unwanted frame.
  if (window->active_mask.load() == 0 || window->key_refused.load() || camera_index < 0 ||
      camera_index >= kPaneCount) {
    stream::poolPut(buffer);
    return;
  }
  CameraPane& pane = window->panes[camera_index];
  if (pane.on_frame) {
    pane.on_frame(pane, buffer, length);
  } else {
    stream::poolPut(buffer);
  }
}

void viewerLinkEvent(void* owner, int kind, int code) {
  auto* window = static_cast<ViewerWindow*>(owner);
  if (kind == stream::kLinkStarted && code == 0) {
    platform::traceOut("\tst:INIT RSP\n");
  } else if (kind == stream::kLinkFailure && code == stream::kLinkBroken) {
    platform::traceOut("\tst:BROKEN\n");
  } else if (kind == stream::kLinkFailure && code == stream::kLinkWrongModel) {
    platform::traceOut("\tst:INVAL_MODEL\n");
  } else if (kind == stream::kLinkFailure && code == stream::kLinkRefused) {
    if (window->post_login_refused) window->post_login_refused();
  }
  if (window->on_link_event) window->on_link_event(kind, code);
}

}  // namespace kv4r::viewer
