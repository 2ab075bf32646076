// kv4r_rec's recording part: decodes the streamed cameras as the live view does and records them
// to clips and AVI files, takes one JPEG and one bitmap snapshot per camera once pictures flow, and
// answers the key request of protected frames. Main thread, except the frame and link callbacks,
// which run on the stream session's threads.
#pragma once

#include <string>

#include "tools/kv4r_rec.h"

namespace CLI {
class App;
}

namespace kv4r::tools {

struct RecordingOptions {
  std::string vrx;  // clip path per camera; "%c" stands for the camera number
  std::string avi;  // AVI path per camera
  std::string jpg;  // JPEG snapshot path per camera
  std::string bmp;  // bitmap snapshot path per camera
  std::string key;  // the answer to the key request
  bool key_given = false;
};

// Adds --vrx, --avi, --jpg, --bmp and --key to `app`.
void addRecordingOptions(CLI::App& app, RecordingOptions& recording);

// Whether any recording or snapshot was asked for.
[[nodiscard]] bool recordingRequested(const RecordingOptions& recording);

// `pattern` with every "%c" replaced by `camera`.
[[nodiscard]] std::string cameraPath(const std::string& pattern, int camera);

// Streams until the frame count (decoded frames of all cameras), the time, Ctrl-C / SIGTERM, a
// refused login or a refused key; records and snapshots as asked; finishes every recording; prints
// the files made and the frames per camera. Exit status 0, or 1 when the connect sequence failed,
// the login or the key was refused, a file could not be created or a snapshot was not taken.
int runRecRecord(const RecOptions& options, const RecordingOptions& recording);

}  // namespace kv4r::tools
