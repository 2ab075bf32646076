// kv4r_rec's recording part: hosts the live-view control without a display and drives it as a
// page would, through its dispatch interface by DISPID: connection properties and the enabled
// cameras, then the recording methods (one clip and/or AVI file per camera from its first picture
// on) and the snapshot methods (one bitmap per camera once its pictures flow; one JPEG, which
// waits for the camera's next picture, once every camera that may send does or 5 s have passed,
// so that it does not hold up the start of recordings). The host
// answers the control's key request with --key and echoes its messages to stderr. Main thread (the
// control's window thread), except the frame counter, which runs on the stream session's
// delivering thread.
#pragma once

#include <string>
#include <vector>

#include "tools/kv4r_rec.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace kv4r::tools {

struct RecordingOptions {
  std::string vrx;  // clip path per camera; "%c" stands for the camera number
  std::string avi;  // AVI path per camera
  std::string jpg;  // JPEG snapshot path per camera
  std::string bmp;  // bitmap snapshot path per camera
  std::string key;  // the answer to the key request
  bool key_given = false;
};

// Adds --vrx, --avi, --jpg, --bmp and --key to `app`. Returns the four that ask for files.
std::vector<CLI::Option*> addRecordingOptions(CLI::App& app, RecordingOptions& recording);

// Whether any recording or snapshot was asked for.
[[nodiscard]] bool recordingRequested(const RecordingOptions& recording);

// `pattern` with every "%c" replaced by `camera`.
[[nodiscard]] std::string cameraPath(const std::string& pattern, int camera);

// Streams until the frame count (frames handed to the control, all cameras), the time, Ctrl-C /
// SIGTERM, a refused login or a refused key, pumping the Qt event loop meanwhile; records and
// snapshots as asked; stops and finishes every recording; prints the frames per camera and the
// files made. Exit status 0, or 1 when the control could not be created, the connect sequence
// failed, two of the files asked for would get one name (said before anything is recorded), the
// login or the key was refused, a file could not be created, a recording did not end
// under its final name, a snapshot of a camera with pictures was not taken, a camera named in
// --cameras sent no picture or no camera sent one. Creates the QApplication itself (offscreen
// platform when QT_QPA_PLATFORM is unset); call it at most once, from main.
int runRecRecord(const RecOptions& options, const RecordingOptions& recording);

}  // namespace kv4r::tools
