// The live view's session logic without any window: connection settings, what the server said
// about itself (ServerInfo, rights, camera names), the four camera panes' flags and names, the two
// connect sequences, the stream start and stop, and the stream session's owner callbacks.
//
// The window layer (a Qt widget) and headless programs both wrap this core. It shows messages only
// through platform::MessageBoxes, asks for layout passes through `request_layout`, reports a login
// that the server refused through `post_login_refused` (the widget turns that into a queued call to
// its own thread; a headless program handles it on its main thread), and hands every delivered
// frame to its pane's `on_frame` hook (the decoding layer plugs in there).
//
// Threads: everything here runs on the owner's thread (the window thread) except the three stream
// callbacks of stream_owner.cpp, which run on the session's threads and touch only the fields
// marked "shared" below.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/message_boxes.h"
#include "stream/frame_pools.h"
#include "stream/rsp.h"

namespace kv4r::viewer {

inline constexpr int kPaneCount = 4;
inline constexpr int kMaxCameraCount = 4;
inline constexpr std::size_t kQueryBytes = 1024;
inline constexpr int kEmptyMaskDelay_ms = 1500;
inline constexpr std::size_t kOsTypeChars = 15;
inline constexpr std::size_t kCameraModelChars = 4;
inline constexpr std::size_t kSerialNumberChars = 17;
inline constexpr std::size_t kCameraNameChars = 127;
inline constexpr int kCgiVersion = 1;

// What the system information query found. -1 marks a number the answer did not contain.
struct ServerInfo {
  int model = 0;
  int kernel_version = 0;
  std::string os_type;                 // read only from kernel version 768 on; up to 15 characters
  int camera_count = kMaxCameraCount;  // at most 4
  int digital_inputs = 0;
  int digital_outputs = 0;
  std::string camera_model;   // up to 4 characters
  std::string serial_number;  // up to 17 characters
};

// Indexes of the four rights masks (bit i = camera i + 1).
enum RightsMask : int { kViewRights = 0, kRights1 = 1, kRights2 = 2, kRights3 = 3 };

struct CameraPane;

// Takes a delivered frame: `buffer` is a receive-pool block holding one record of `length` bytes,
// and the hook owns it: it gives it back with stream::poolPut before the stream stops. Runs on the
// session's delivering thread.
using FrameHook = std::function<void(CameraPane& pane, void* buffer, int length)>;

struct CameraPane {
  int index = 0;  // 0..3 = camera 1..4

  // Shared: written by the owner's thread, read by the stream callbacks.
  std::atomic<bool> enabled{true};
  std::atomic<bool> draw{true};
  std::atomic<bool> allowed{false};  // bit `index` of the view rights

  // Owner's thread.
  std::string name;  // empty until the camera name query or the owner sets it
  stream::PictureBuffer* picture = nullptr;  // current picture (a picture-pool block), if any
  bool relayout_on_next_picture = true;

  // Set before the stream starts; called on the delivering thread. None gives frames back.
  FrameHook on_frame;
};

// The control's connection properties as the host sees them (strIpAddr, iHttpPort, strUserID,
// strUserPWD, iSvrID, iPauseTime) and its modified flag. Owner's thread.
struct ControlConnection {
  std::string ip_addr;
  int http_port = 80;
  std::string user_id;
  std::string user_pwd;
  int svr_id = 0;
  int pause_time = 0;
  bool modified = false;
};

struct ViewerWindow {
  // Connection settings copied from the control (owner's thread; the session keeps its own copies).
  std::string host;  // dotted IPv4 text; empty = no server
  int port = 80;
  std::string user;
  std::string password;
  int server_number = 0;
  int pause_time = 0;  // 0..490

  // Owner's thread.
  int active_count = 0;  // enabled panes among the first camera_count ones
  int drawn_count = 0;   // drawn panes among them (address property path only)
  ServerInfo info;
  std::array<int, 4> rights{};  // view mask, then the three further masks
  stream::FramePools pools;
  stream::RSP* session = nullptr;
  platform::MessageBoxes* boxes = nullptr;  // where the user's messages go; none = dropped
  std::function<void()> request_layout;     // a layout pass is wanted (optional)

  // Shared with the stream callbacks.
  std::atomic<int> connected{0};
  std::atomic<int> active_mask{0};
  std::atomic<bool> key_refused{false};  // set by the decoding layer when a frame key is wrong
  std::array<CameraPane, kPaneCount> panes;
  int empty_mask_delay_ms = kEmptyMaskDelay_ms;
  // Called on the stream thread when the server refused the login; the owner answers on its own
  // thread with handleLoginRefused. Set before the stream starts.
  std::function<void()> post_login_refused;
  // Every link event, for observers such as a headless recorder (optional; stream thread).
  std::function<void(int kind, int code)> on_link_event;

  // Cuts the empty-mask pause short when the stream stops.
  std::mutex stop_mutex;
  std::condition_variable stop_cv;
  bool stopping = false;

  ViewerWindow() {
    for (int i = 0; i < kPaneCount; ++i) panes[i].index = i;
  }
  ViewerWindow(const ViewerWindow&) = delete;
  ViewerWindow& operator=(const ViewerWindow&) = delete;
  // Stops a running stream (the owner normally does it first).
  ~ViewerWindow();
};

// --- Server queries (owner's thread; each blocks up to the request time-outs) ---

// Asks the system information script and fills `window.info`. 0, or -1 when the query fails, the
// answer has no "Model=" (message "CGI failed ..." with the first 196 bytes of the answer) or the
// camera count is not 1..6 (message "Max Camera Number is %d. ...").
[[nodiscard]] int querySystemInfo(ViewerWindow& window);

// Reads the four rights masks from the user rights page and sets each pane's allowed flag from the
// view mask. 0, or -1 when the query fails.
[[nodiscard]] int queryUserRights(ViewerWindow& window);

// Names the panes of the server's cameras from the camera name pages ("Cam %d" for a page without
// CAMNAME); a pane that has a name keeps it. 0, or -1 at the first query that fails.
[[nodiscard]] int queryCameraNames(ViewerWindow& window);

// The three queries in order; the first failure ends them. 0 or -1.
[[nodiscard]] int runServerQueries(ViewerWindow& window);

// --- Connect sequences and stop (owner's thread) ---

// The connect sequence when the window is created: nothing without a host; otherwise the three
// queries, the panes beyond the camera count disabled, the enabled ones counted and the stream
// started. Returns 1 when the stream was started, 0 without a host, -1 on failure (message
// "\"%s\" is not ready, ...", host emptied, not connected).
int connectAtCreation(ViewerWindow& window);

// A new strIpAddr value. Connected: an empty value stops the connection (stopConnection), another
// is only stored. Not connected: an empty value is stored; another is cleaned and parsed ("Bad URL
// format" on failure, strIpAddr emptied), its host, port, user and password go to the properties
// and the window, the queries run ("Module %d of %s is not ready, ..." on failure) and, with
// `start_stream`, the stream starts and the control is marked modified. Returns 1 when connected,
// 0 when nothing was started, -1 on failure.
int setIpAddress(ViewerWindow& window, ControlConnection& control, std::string_view value,
                 bool start_stream = true);

// Copies port, credentials and server number into the window while it is not connected (while
// connected they stay with the control only). The pause time goes through changePauseTime.
void applyConnectionSettings(ViewerWindow& window, const ControlConnection& control);

// A new iPauseTime: limited to 0..490, sent to a running stream, copied into the window. Returns
// the stored value.
int changePauseTime(ViewerWindow& window, ControlConnection& control, int pause_time);

// Stops the connection: stream stop, every pane's picture dropped and marked for a relayout,
// not connected, both counts 0, a layout pass requested.
void stopConnection(ViewerWindow& window);

// The answer to a refused login: a connected control empties strIpAddr and stops; in every case
// the message "Login id & password is incorrect." is shown.
void handleLoginRefused(ViewerWindow& window, ControlConnection& control);

// --- Stream start and stop (owner's thread) ---

// Creates the picture pool (if none) and the receive pool for the active cameras and starts the
// session. 1, or 0 when a pool or the session cannot be made.
int startStream(ViewerWindow& window);

// Terminates the receive pool, destroys the session, frees the receive and picture pools. Blocks
// until the session's threads have ended.
void stopStream(ViewerWindow& window);

// --- Stream session callbacks (session threads; `owner` is the ViewerWindow) ---

void* viewerGetBuffer(void* owner);
void viewerDeliverFrame(void* owner, int kind, int camera_index, void* buffer, int length);
void viewerLinkEvent(void* owner, int kind, int code);

// The wanted-camera mask: bit i for each pane below the camera count that is enabled, drawn and
// allowed. Any thread.
[[nodiscard]] int wantedCameraMask(const ViewerWindow& window);

}  // namespace kv4r::viewer
