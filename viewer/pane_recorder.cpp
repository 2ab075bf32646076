#include "viewer/pane_recorder.h"

#include <unistd.h>

#include "platform/trace.h"
#include "viewer/decode_codes.h"

namespace kv4r::viewer {
namespace {

// Renames without replacing an existing file; a failure leaves the working file as it is.
void renameKeepingExisting(const std::string& from, const std::string& to) {
  if (::link(from.c_str(), to.c_str()) == 0) {
    (void)::unlink(from.c_str());
  } else {
    platform::traceErr("rename %s failed\n", from.c_str());
  }
}

void finishClip(PaneRecorders& r) {
  (void)formats::ClipWriterClose(r.clip);
  r.clip = nullptr;
  renameKeepingExisting(r.clip_temp_path, r.clip_final_path);
}

void finishAvi(PaneRecorders& r) {
  (void)formats::AviWriterFinish(r.avi);
  (void)formats::AviWriterClose(r.avi);
  r.avi = nullptr;
  renameKeepingExisting(r.avi_temp_path, r.avi_final_path);
}

// The working path for a recording whose final name is `final_path`; `other_temp` is the working
// file the pane's other recorder has open (empty if none). Both recorders of a pane may be given
// the same name apart from the extension ("cam1.vrx", "cam1.avi"); the second then works in
// "cam1.avi.tmp" so that neither writes into the other's file.
std::string workingPath(const std::string& path, const std::string& final_path,
                        const std::string& other_temp) {
  std::string temp = recordingTempPath(path);
  if (temp == other_temp) temp = final_path + ".tmp";
  return temp;
}

}  // namespace

PaneRecorders::~PaneRecorders() {
  (void)finishRecorders(*this);
}

std::string recordingTempPath(const std::string& path) {
  return formats::replaceExtension(path, ".tmp");
}

int startClipRecording(PaneRecorders& r, const std::string& path) {
  std::lock_guard lock(r.mutex);
  r.clip_path = path;
  if (path.empty()) {
    r.clip_recording = false;
    return 0;
  }
  if (r.clip != nullptr) return 0;
  r.clip_final_path = formats::replaceExtension(path, ".vrx");
  r.clip_temp_path =
      workingPath(path, r.clip_final_path, r.avi != nullptr ? r.avi_temp_path : std::string());
  r.clip = formats::ClipWriterCreate(r.clip_temp_path);
  r.clip_recording = r.clip != nullptr;
  return r.clip != nullptr ? 1 : kDecodeErrFileCreate;
}

int startAviRecording(PaneRecorders& r, const std::string& path, int width, int height) {
  std::lock_guard lock(r.mutex);
  r.avi_path = path;
  if (path.empty()) {
    r.avi_recording = false;
    return 0;
  }
  if (r.avi != nullptr) return 0;
  r.avi_final_path = formats::replaceExtension(path, ".avi");
  r.avi_temp_path =
      workingPath(path, r.avi_final_path, r.clip != nullptr ? r.clip_temp_path : std::string());
  r.avi = formats::AviWriterCreate(r.avi_temp_path, width, height);
  r.avi_recording = r.avi != nullptr;
  return r.avi != nullptr ? 1 : kDecodeErrFileCreate;
}

int feedRecorders(PaneRecorders& r, std::span<const std::uint8_t> record) {
  std::lock_guard lock(r.mutex);
  int taken = 0;
  if (r.clip != nullptr) {
    if (r.clip_recording) {
      taken += formats::ClipWriterAppend(r.clip, record) > 0 ? 1 : 0;
    } else {
      finishClip(r);
    }
  }
  if (r.avi != nullptr) {
    if (r.avi_recording) {
      taken += formats::AviWriterAddFrame(r.avi, record) > 0 ? 1 : 0;
    } else {
      finishAvi(r);
    }
  }
  return taken;
}

int finishRecorders(PaneRecorders& r) {
  std::lock_guard lock(r.mutex);
  int finished = 0;
  r.clip_recording = false;
  r.avi_recording = false;
  if (r.clip != nullptr) {
    finishClip(r);
    ++finished;
  }
  if (r.avi != nullptr) {
    finishAvi(r);
    ++finished;
  }
  return finished;
}

bool recordingMarkShown(PaneRecorders& r) {
  std::lock_guard lock(r.mutex);
  return r.clip_recording || r.avi_recording;
}

}  // namespace kv4r::viewer
