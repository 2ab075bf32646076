#include "tools/kv4r_rec_record.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/message_boxes.h"
#include "stream/rsp.h"
#include "viewer/decode_codes.h"
#include "viewer/live_decoding.h"
#include "viewer/snapshot_methods.h"

namespace kv4r::tools {
namespace {

volatile std::sig_atomic_t stop_requested = 0;

void onStopSignal(int) {
  stop_requested = 1;
}

// The cameras to record: those asked for (all when none) that the server has.
std::vector<int> wantedCameras(const RecOptions& options, const viewer::ViewerWindow& window) {
  std::vector<int> cameras;
  for (int camera = 1; camera <= std::min(window.info.camera_count, viewer::kPaneCount); ++camera) {
    if (window.panes[camera - 1].enabled.load()) cameras.push_back(camera);
  }
  (void)options;
  return cameras;
}

struct Snapshot {
  int camera = 0;
  bool jpg_done = false;
  bool bmp_done = false;
};

}  // namespace

void addRecordingOptions(CLI::App& app, RecordingOptions& recording) {
  app.add_option("--vrx", recording.vrx,
                 "record each camera to a clip; %c stands for the camera number");
  app.add_option("--avi", recording.avi, "record each camera to an AVI file; %c as for --vrx");
  app.add_option("--jpg", recording.jpg,
                 "save one JPEG snapshot per camera once pictures flow; %c as for --vrx");
  app.add_option("--bmp", recording.bmp,
                 "save one bitmap snapshot per camera once pictures flow; %c as for --vrx");
  app.add_option("--key", recording.key, "the key of protected frames (answers the key request)")
      ->each([&recording](const std::string&) { recording.key_given = true; });
}

bool recordingRequested(const RecordingOptions& r) {
  return !r.vrx.empty() || !r.avi.empty() || !r.jpg.empty() || !r.bmp.empty();
}

std::string cameraPath(const std::string& pattern, int camera) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 'c') {
      out += std::to_string(camera);
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

int runRecRecord(const RecOptions& options, const RecordingOptions& recording) {
  platform::RecordingMessageBoxes boxes(true);
  viewer::ViewerWindow window;
  viewer::ControlConnection control;
  viewer::LiveDecoding decoding;
  prepareRecWindow(options, window, control, boxes);
  viewer::attachDecoding(window, decoding);
  std::atomic<int> key_requests{0};
  decoding.key.request_key = [&](std::string* typed) {
    key_requests.fetch_add(1);
    if (!recording.key_given) return false;
    *typed = recording.key;
    return true;
  };
  std::atomic<bool> login_refused{false};
  window.post_login_refused = [&login_refused] { login_refused.store(true); };
  window.on_link_event = [](int kind, int code) {
    if (kind == stream::kLinkFailure) std::fprintf(stderr, "kv4r_rec: link failure %d\n", code);
  };

  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
  if (viewer::setIpAddress(window, control, options.url) != 1) {
    viewer::stopConnection(window);
    return 1;
  }

  bool failed = false;
  const std::vector<int> cameras = wantedCameras(options, window);
  std::vector<std::string> made;
  for (int camera : cameras) {
    if (!recording.vrx.empty()) {
      const std::string path = cameraPath(recording.vrx, camera);
      if (viewer::recordClip(window, decoding, camera, path) != 1) {
        std::fprintf(stderr, "kv4r_rec: cannot record camera %d to %s\n", camera, path.c_str());
        failed = true;
      }
    }
    if (!recording.avi.empty()) {
      const std::string path = cameraPath(recording.avi, camera);
      if (viewer::recordAvi(window, decoding, camera, path) != 1) {
        std::fprintf(stderr, "kv4r_rec: cannot record camera %d to %s\n", camera, path.c_str());
        failed = true;
      }
    }
  }
  std::vector<Snapshot> snapshots;
  for (int camera : cameras) {
    snapshots.push_back({camera, recording.jpg.empty(), recording.bmp.empty()});
  }

  const auto start = std::chrono::steady_clock::now();
  auto next_progress = start + std::chrono::seconds(1);
  while (!failed) {
    if (login_refused.load() || window.key_refused.load() || stop_requested != 0) break;
    if (options.frames > 0 && decoding.decoded.load() >= options.frames) break;
    const auto now = std::chrono::steady_clock::now();
    if (options.seconds > 0 && now - start >= std::chrono::duration<double>(options.seconds)) break;
    for (Snapshot& s : snapshots) {
      if (decoding.panes[s.camera - 1].frames_decoded.load() == 0) continue;
      if (!s.bmp_done) {
        const std::string path = cameraPath(recording.bmp, s.camera);
        const int rc = viewer::saveBitmap(window, decoding, s.camera, path);
        if (rc == 1) made.push_back(path);
        if (rc < 0) {
          std::fprintf(stderr, "kv4r_rec: cannot write %s (%s)\n", path.c_str(),
                       viewer::decodeCodeName(rc));
          failed = true;
        }
        s.bmp_done = rc != 0;
      }
      if (!s.jpg_done) {
        const std::string path = cameraPath(recording.jpg, s.camera);
        const int rc = viewer::saveJpeg(window, decoding, s.camera, path);
        if (rc == 1) made.push_back(path);
        if (rc < 0) {
          std::fprintf(stderr, "kv4r_rec: cannot write %s (%s)\n", path.c_str(),
                       viewer::decodeCodeName(rc));
          failed = true;
        }
        s.jpg_done = rc != 0;
      }
    }
    if (now >= next_progress) {
      std::fprintf(stderr, "kv4r_rec: %lld frames decoded\n", decoding.decoded.load());
      next_progress = now + std::chrono::seconds(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  const bool refused = login_refused.load();
  if (refused) {
    viewer::handleLoginRefused(window, control);
  } else {
    viewer::stopConnection(window);
  }
  // The stream has ended: every recording is closed, finished and renamed now.
  (void)viewer::finishAllRecordings(decoding);

  for (int camera : cameras) {
    std::printf("camera %d: %lld frames\n", camera,
                decoding.panes[camera - 1].frames_decoded.load());
    if (!recording.vrx.empty())
      made.push_back(formats::replaceExtension(cameraPath(recording.vrx, camera), ".vrx"));
    if (!recording.avi.empty())
      made.push_back(formats::replaceExtension(cameraPath(recording.avi, camera), ".avi"));
  }
  for (const Snapshot& s : snapshots) {
    if (!s.jpg_done || !s.bmp_done) {
      std::fprintf(stderr, "kv4r_rec: no snapshot of camera %d\n", s.camera);
      failed = true;
    }
  }
  for (const std::string& path : made) std::printf("file: %s\n", path.c_str());
  if (window.key_refused.load()) failed = true;
  return refused || failed ? 1 : 0;
}

}  // namespace kv4r::tools
