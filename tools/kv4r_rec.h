// kv4r_rec: the headless live view. Runs the live view's connect sequence against a video server,
// prints what the server said about itself, or streams the wanted cameras and writes every
// delivered frame record to a folder. Main thread only, except the frame and link callbacks,
// which run on the stream session's threads.
#pragma once

#include <string>
#include <vector>

#include "platform/message_boxes.h"
#include "viewer/viewer_window.h"

namespace kv4r::tools {

struct RecOptions {
  std::string url;           // every form strIpAddr takes
  int server_id = 0;         // iSvrID
  int pause_time = 0;        // iPauseTime (limited to 490)
  std::vector<int> cameras;  // 1..4; empty = every camera
  long long frames = 0;      // stop after this many records (0 = no limit)
  double seconds = 0;        // stop after this many seconds (0 = no limit)
  std::string raw_dir;       // where the records go
};

// Copies the options into the live view's connection settings and panes (server number, pause
// time, enabled cameras) and installs the message boxes. Before any connect; main thread.
void prepareRecWindow(const RecOptions& options, viewer::ViewerWindow& window,
                      viewer::ControlConnection& control, platform::MessageBoxes& boxes);

// Warns on stderr about each camera of --cameras that the server (with `server_cameras` cameras)
// does not have. False when cameras were asked for and the server has none of them: the run
// cannot bring anything and ends at once, with exit status 1.
bool checkAskedCameras(const std::vector<int>& asked, int server_cameras);

// Makes Ctrl-C, SIGTERM and a closed terminal (SIGHUP) ask the run to stop, so that it ends through
// its stop sequence and finishes its files.
void installStopSignals();
// Whether one of those signals came. The main thread polls it.
bool stopRequested();

// After a failed connect sequence, says on stderr what the messages do not: what to give in the URL
// when the server refused the login (a message shows its 401 status line); otherwise, when the
// server was not ready, why a connection fails (refused, no answer, no route) or that the port
// takes connections but answers no server information query.
void explainConnectFailure(const platform::RecordingMessageBoxes& boxes, const std::string& url);

// --info: connect sequence without a stream; prints the server information, the four rights masks
// and the camera names. Exit status 0, or 1 when the sequence failed (its messages on stderr).
int runRecInfo(const RecOptions& options);

// --raw-dir: streams until the frame count, the time or Ctrl-C / SIGTERM, writing one file per
// delivered record ("frame_NNNNNN_camC.rec" in delivery order). Prints link events as they happen
// and the per-camera counts at the end. Exit status 0, or 1 when the connect sequence failed, the
// server refused the login, a file could not be written or no record came, or when the folder
// already holds records of an earlier run (checked before any connect).
int runRecRaw(const RecOptions& options);

}  // namespace kv4r::tools
