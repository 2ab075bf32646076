#include "tools/kv4r_rec_record.h"

#include <CLI/CLI.hpp>

#include <sys/stat.h>
#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <tuple>
#include <vector>

#include "formats/clip_writer.h"
#include "formats/formats_codes.h"
#include "platform/control_registry.h"
#include "platform/message_boxes.h"
#include "stream/rsp.h"
#include "tools/folder_problem.h"
#include "tools/rec_progress.h"
#include "viewer/live_decoding.h"
#include "viewer/vidlet_ctrl.h"
#include "viewer/vidlet_properties.h"

namespace kv4r::tools {
namespace {

using platform::DispatchResult;
using platform::Variant;

inline constexpr int kTick_ms = 20;
// SaveJpg waits for the camera's next frame; a camera whose pictures flow gives one well within
// this many calls.
inline constexpr int kJpegAttempts = 3;
inline constexpr const char* kLoginRefusedText = "Login id & password is incorrect.";

// One recording the host started: the names the control records it under and finishes it as.
struct Recording {
  std::string final_path;
  std::string working_path;          // the one the recorder claimed
  std::string extension;             // ".vrx" or ".avi"
  viewer::RecordingFailure failure;  // why it ended early, if it did
  bool announced = false;            // its early end was reported during the run
  long long frames = 0;              // written into it, known once the session has ended
};

// Why a recording ended early or could not be finished, in words.
const char* failureReason(const viewer::RecordingFailure& failure) {
  if (failure.code == formats::kFormatsErrWrite) return std::strerror(failure.error);
  return failure.at_finish ? formats::formatsCodeName(failure.code) : "the file is full";
}

// A working file with data that an earlier run left behind (it crashed, or its final name was
// taken). A new recording of that name keeps it aside as "<name>.1" (or the next free number); the
// user hears where, as it holds frames of its own.
struct Leftover {
  std::string path;
  struct stat identity {};
};

std::vector<Leftover> leftoversFor(const std::string& path, const std::string& final_path) {
  std::vector<Leftover> found;
  for (const std::string& temp : {viewer::recordingTempPath(path), final_path + ".tmp"}) {
    Leftover leftover{temp, {}};
    if (::stat(temp.c_str(), &leftover.identity) == 0 && S_ISREG(leftover.identity.st_mode) &&
        leftover.identity.st_size > 0) {
      found.push_back(leftover);
    }
  }
  return found;
}

void reportKeptLeftovers(const std::vector<Leftover>& leftovers) {
  for (const Leftover& leftover : leftovers) {
    for (int n = 1; n <= 99; ++n) {
      const std::string aside = leftover.path + "." + std::to_string(n);
      struct stat now {};
      if (::stat(aside.c_str(), &now) != 0) continue;
      if (now.st_dev != leftover.identity.st_dev || now.st_ino != leftover.identity.st_ino)
        continue;
      std::fprintf(stderr,
                   "kv4r_rec: an earlier recording left %s (%lld bytes); it is kept as %s\n",
                   leftover.path.c_str(), static_cast<long long>(now.st_size), aside.c_str());
      break;
    }
  }
}

// What the host keeps per wanted camera (window thread).
struct CameraWork {
  int camera = 0;
  bool flowing = false;  // a picture came
  bool jpg_done = false;
  bool bmp_done = false;
  int jpg_attempts = 0;
  std::vector<Recording> recordings;
};

// Frames handed to the control, counted per pane on the delivering threads.
struct FrameCounts {
  std::array<std::atomic<long long>, viewer::kPaneCount> pane{};
  std::atomic<long long> total{0};
};

// Tells the user once when the link to the server breaks and once when it is back: between the two
// the control reconnects by itself and the frame count stands still. Link events come on the
// receiving thread.
struct LinkReport {
  std::atomic<bool> ending{false};  // the stop closes the link; that is no news
  std::atomic<bool> down{false};

  void event(int kind, int code) {
    if (ending.load()) return;
    if (kind == stream::kLinkStarted) {
      if (down.exchange(false)) std::fprintf(stderr, "kv4r_rec: the link to the server is back\n");
      return;
    }
    // A refused login ends the run with its own message.
    if (code == stream::kLinkRefused || down.exchange(true)) return;
    std::fprintf(stderr, "kv4r_rec: %s; reconnecting\n",
                 code == stream::kLinkWrongModel ? "the server now reports another model"
                                                 : "the link to the server broke");
  }
};

// The control as a host holds it: everything by DISPID through its dispatch interface.
class Host {
 public:
  explicit Host(platform::Dispatch& control) : control_(control) {}

  int id(const char* name) const { return control_.getIdsOfNames(name); }

  bool put(const char* name, const Variant& value) {
    const int dispid = id(name);
    const DispatchResult r = control_.putProperty(dispid, value);
    if (!r.ok()) std::fprintf(stderr, "kv4r_rec: %s: %s\n", name, r.message.c_str());
    return r.ok();
  }

  std::string text(const char* name) {
    const DispatchResult r = control_.getProperty(id(name));
    Variant out;
    if (!r.ok() || platform::convertVariant(r.value, platform::VarType::String, out) != 0)
      return {};
    return out.stringValue();
  }

  DispatchResult call(const char* name, std::vector<Variant>& args) {
    return control_.invoke(id(name), args);
  }

  // RecMovieVrx / RecMovieAvi: 1 started, 0 not started or a stop, -1 the file cannot be made.
  int record(const char* method, int camera, const std::string& path) {
    std::vector<Variant> args = {Variant::fromI2(static_cast<std::int16_t>(camera)),
                                 Variant::fromString(path)};
    const DispatchResult r = call(method, args);
    if (!r.ok()) {
      std::fprintf(stderr, "kv4r_rec: %s: %s\n", method, r.message.c_str());
      return -1;
    }
    return r.value.i4Value();
  }

  // Whether the camera has a picture: the length GetBmp reports.
  bool hasPicture(int camera) {
    std::vector<Variant> args = {Variant(), Variant(),
                                 Variant::fromI2(static_cast<std::int16_t>(camera))};
    const DispatchResult r = call("GetBmp", args);
    return r.ok() && args[1].i4Value() > 0;
  }

  // SaveJpg / SaveBmp: 1 written, 0 nothing to save yet, -1 the file failed (message printed).
  int save(const char* method, int camera, const std::string& path) {
    std::vector<Variant> args = {Variant::fromI2(static_cast<std::int16_t>(camera)),
                                 Variant::fromString(path)};
    const DispatchResult r = call(method, args);
    if (!r.ok()) {
      std::fprintf(stderr, "kv4r_rec: cannot write %s (%s)\n", path.c_str(), r.message.c_str());
      return -1;
    }
    return r.value.boolValue() ? 1 : 0;
  }

 private:
  platform::Dispatch& control_;
};

bool shown(const platform::RecordingMessageBoxes& boxes, const std::string& text) {
  const std::vector<std::string> texts = boxes.texts();
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

bool exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

// Whether the recording ended under its final name: the file is there and its working file is
// not left (a taken name leaves the data in the working file).
bool finishedCleanly(const Recording& r) {
  return exists(r.final_path) && !exists(r.working_path);
}

// The working file a recording that did not get its final name left its frames in; empty if none.
std::string leftWorkingFile(const Recording& r) {
  return exists(r.working_path) ? r.working_path : std::string();
}

// One file a run is asked to write.
struct Output {
  int camera = 0;
  const char* what = "";
  const std::string* pattern = nullptr;
  std::string path;
};

// Whether every file the run is asked to write for `cameras` has a name of its own. Two outputs
// of one name would overwrite each other (snapshots) or leave all but one recording in a working
// file; each such pair is named on stderr before anything is recorded.
bool outputNamesAreDistinct(const RecordingOptions& recording, const std::vector<int>& cameras) {
  std::vector<Output> outputs;
  for (int camera : cameras) {
    for (const auto& [pattern, what, extension] :
         {std::tuple{&recording.vrx, "clip", ".vrx"},
          std::tuple{&recording.avi, "AVI file", ".avi"},
          std::tuple{&recording.jpg, "JPEG snapshot", ""},
          std::tuple{&recording.bmp, "bitmap snapshot", ""}}) {
      if (pattern->empty()) continue;
      std::string path = cameraPath(*pattern, camera);
      if (*extension != '\0') path = formats::replaceExtension(path, extension);
      outputs.push_back({camera, what, pattern, path});
    }
  }
  // Each name that is taken twice is told once, with the first two outputs that want it.
  std::map<std::filesystem::path, const Output*> first_by_name;
  std::set<std::filesystem::path> told;
  for (const Output& output : outputs) {
    std::error_code error;
    // As the recorders compare names: through the links of the folders.
    const std::filesystem::path name = std::filesystem::weakly_canonical(output.path, error);
    const auto [it, first] = first_by_name.emplace(name, &output);
    if (first || !told.insert(name).second) continue;
    const Output& earlier = *it->second;
    const bool one_pattern_for_cameras =
        earlier.pattern == output.pattern && output.pattern->find("%c") == std::string::npos;
    std::fprintf(
        stderr,
        "kv4r_rec: the %s of camera %d and the %s of camera %d would both be written to %s%s\n",
        earlier.what, earlier.camera, output.what, output.camera, output.path.c_str(),
        one_pattern_for_cameras ? " (put %c in the path)" : "");
  }
  return told.empty();
}

// Offscreen platform unless the user chose one, so that no display is needed.
void useOffscreenPlatform() {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 0);
}

// Qt's own messages pass on, except the one about a missing XDG_RUNTIME_DIR: a recorder started
// from a service or a container has none, needs none, and would print it on every run.
QtMessageHandler qt_handler = nullptr;

void quietRuntimeDirNotice(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtWarningMsg && text.startsWith(QStringLiteral("QStandardPaths: XDG_RUNTIME_DIR"))) {
    return;
  }
  if (qt_handler != nullptr) {
    qt_handler(type, context, text);
  } else {
    std::fprintf(stderr, "%s\n", qPrintable(text));
  }
}

}  // namespace

std::vector<CLI::Option*> addRecordingOptions(CLI::App& app, RecordingOptions& recording) {
  std::vector<CLI::Option*> outputs = {
      app.add_option("--vrx", recording.vrx,
                     "record each camera to a clip; %c stands for the camera number"),
      app.add_option("--avi", recording.avi, "record each camera to an AVI file; %c as for --vrx"),
      app.add_option("--jpg", recording.jpg,
                     "save one JPEG snapshot per camera once pictures flow; %c as for --vrx"),
      app.add_option("--bmp", recording.bmp,
                     "save one bitmap snapshot per camera once pictures flow; %c as for --vrx")};
  app.add_option("--key", recording.key, "the key of protected frames (answers the key request)")
      ->each([&recording](const std::string&) { recording.key_given = true; });
  return outputs;
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
  useOffscreenPlatform();
  qt_handler = qInstallMessageHandler(quietRuntimeDirNotice);
  static int argc = 1;
  static char name[] = "kv4r_rec";
  static char* argv[] = {name, nullptr};
  QApplication app(argc, argv);

  // Declared before the control, which uses them until it is gone.
  platform::RecordingMessageBoxes boxes(true);
  FrameCounts counts;
  LinkReport link;
  int key_requests = 0;

  platform::ControlRegistry& registry = platform::ControlRegistry::instance();
  if (viewer::registerVidletControl(registry) != platform::kRegistryOk) {
    std::fprintf(stderr, "kv4r_rec: cannot register the live-view control\n");
    return 1;
  }
  std::unique_ptr<platform::Dispatch> control;
  const int created = registry.create(viewer::kVidletClassId, control);
  auto* widget = dynamic_cast<viewer::CVidletCtrl*>(control.get());
  if (created != platform::kRegistryOk || widget == nullptr) {
    std::fprintf(stderr, "kv4r_rec: cannot create the live-view control (%s)\n",
                 platform::registryCodeName(created));
    return 1;
  }
  widget->setMessageBoxes(&boxes);
  widget->setKeyPrompt([&recording, &key_requests] {
    ++key_requests;
    return recording.key_given ? recording.key : std::string();
  });

  Host host(*control);
  std::vector<CameraWork> work;
  bool ok = host.put("iSvrID", Variant::fromI4(options.server_id)) &&
            host.put("iPauseTime", Variant::fromI4(options.pause_time));
  for (int camera = 1; camera <= viewer::kPaneCount; ++camera) {
    const bool wanted =
        options.cameras.empty() ||
        std::find(options.cameras.begin(), options.cameras.end(), camera) != options.cameras.end();
    const std::string enable = "bEnableCam" + std::to_string(camera);
    ok = ok && host.put(enable.c_str(), Variant::fromBool(wanted));
    if (!wanted) continue;
    CameraWork w;
    w.camera = camera;
    w.jpg_done = recording.jpg.empty();
    w.bmp_done = recording.bmp.empty();
    work.push_back(std::move(w));
  }
  // The window exists before the address: the address property then runs the connect sequence,
  // which takes every form of address (credentials and port included).
  if (!ok || !widget->createControlWindow()) {
    std::fprintf(stderr, "kv4r_rec: cannot set up the live-view control\n");
    return 1;
  }
  // --frames needs the frame count, which the dispatch interface does not show: each pane's frame
  // hook is wrapped before the stream starts, counting the frames handed to the control.
  for (viewer::CameraPane& pane : widget->viewer().panes) {
    viewer::FrameHook inner = pane.on_frame;
    pane.on_frame = [inner, &counts](viewer::CameraPane& p, void* buffer, int length) {
      counts.pane[p.index].fetch_add(1);
      counts.total.fetch_add(1);
      if (inner) inner(p, buffer, length);
    };
  }
  // Nor does it show the link: the window's observer hook is used for that too.
  widget->viewer().on_link_event = [&link](int kind, int code) { link.event(kind, code); };

  installStopSignals();
  ok = host.put("strIpAddr", Variant::fromString(options.url));
  if (!ok || host.text("strIpAddr").empty() || !boxes.texts().empty()) {
    // The connect sequence said why on stderr.
    (void)host.put("strIpAddr", Variant::fromString(""));
    explainConnectFailure(boxes, options.url);
    return 1;
  }

  // Cameras the server does not have are left out of the summary unless they were asked for.
  const int server_cameras = widget->viewer().info.camera_count;
  if (!checkAskedCameras(options.cameras, server_cameras)) {
    (void)host.put("strIpAddr", Variant::fromString(""));
    return 1;
  }
  std::vector<int> running_cameras;
  for (const CameraWork& w : work) {
    if (w.camera <= server_cameras) running_cameras.push_back(w.camera);
  }
  if (!outputNamesAreDistinct(recording, running_cameras)) {
    (void)host.put("strIpAddr", Variant::fromString(""));
    return 1;
  }

  bool failed = false;
  std::vector<std::string> made;
  const auto start = std::chrono::steady_clock::now();
  RecProgress progress(start);
  bool login_refused = false;
  bool key_refused = false;

  // Whether the server has the camera and may show it to this user, and it is streamed.
  auto maySend = [&](int camera) {
    const viewer::CameraPane& pane = widget->viewer().panes[camera - 1];
    return camera <= server_cameras && pane.allowed.load() && pane.enabled.load();
  };
  auto takeJpegSnapshots = [&] {
    for (CameraWork& w : work) {
      if (!w.flowing || w.jpg_done || w.jpg_attempts >= kJpegAttempts) continue;
      const std::string path = cameraPath(recording.jpg, w.camera);
      ++w.jpg_attempts;
      const int rc = host.save("SaveJpg", w.camera, path);
      if (rc == 1) made.push_back(path);
      failed = failed || rc < 0;
      w.jpg_done = rc != 0;
    }
  };

  // One step of the host's work on the window thread; quits the event loop when the run ends.
  auto step = [&] {
    login_refused = shown(boxes, kLoginRefusedText);
    key_refused = shown(boxes, viewer::kWrongKeyText);
    const auto now = std::chrono::steady_clock::now();
    const bool ended =
        failed || login_refused || key_refused || stopRequested() ||
        (options.frames > 0 && counts.total.load() >= options.frames) ||
        (options.seconds > 0 && now - start >= std::chrono::duration<double>(options.seconds));
    if (ended) {
      // A run that reached its limit first takes the JPEG snapshots still due of cameras that send.
      if (!failed && !login_refused && !key_refused && !stopRequested()) takeJpegSnapshots();
      QCoreApplication::quit();
      return;
    }
    for (CameraWork& w : work) {
      if (!w.flowing) {
        if (!host.hasPicture(w.camera)) continue;
        w.flowing = true;
        // Recordings start with the camera's first picture: a camera that sends none gets no file.
        for (const auto& [method, pattern, extension] :
             {std::tuple{"RecMovieVrx", recording.vrx, ".vrx"},
              std::tuple{"RecMovieAvi", recording.avi, ".avi"}}) {
          if (pattern.empty()) continue;
          const std::string path = cameraPath(pattern, w.camera);
          const std::string final_path = formats::replaceExtension(path, extension);
          const std::vector<Leftover> leftovers = leftoversFor(path, final_path);
          if (host.record(method, w.camera, path) != 1) {
            // Names that two outputs share were refused before the run began.
            std::string hint;
            if (viewer::workingFileLockedByARecording(path)) {
              hint = " (another program is recording into " + viewer::recordingTempPath(path) + ")";
            } else if (const std::string problem = folderProblem(path); !problem.empty()) {
              hint = " (its folder " + folderOf(path) + ": " + problem + ")";
            }
            std::fprintf(stderr, "kv4r_rec: cannot record camera %d to %s%s\n", w.camera,
                         path.c_str(), hint.c_str());
            failed = true;
            continue;
          }
          reportKeptLeftovers(leftovers);
          // The control keeps an existing file and leaves the new recording in its working
          // file; say so now rather than only at the end.
          if (exists(final_path)) {
            std::fprintf(stderr,
                         "kv4r_rec: %s exists already and is left as it is; the recording of "
                         "camera %d stays in its working file\n",
                         final_path.c_str(), w.camera);
          }
          const std::string working =
              viewer::recordingWorkingPath(widget->decoding().panes[w.camera - 1].recorders,
                                           std::strcmp(extension, ".avi") == 0);
          w.recordings.push_back({final_path, working, extension, {}});
        }
      }
      if (!w.bmp_done) {
        const std::string path = cameraPath(recording.bmp, w.camera);
        const int rc = host.save("SaveBmp", w.camera, path);
        if (rc == 1) made.push_back(path);
        failed = failed || rc < 0;
        w.bmp_done = rc != 0;
      }
    }
    // SaveJpg waits for the camera's next frame, and this thread with it: the JPEG snapshots wait
    // until every camera that may send does (and so records), or 5 s have passed, so that a slow
    // camera does not hold up the start of the others' recordings.
    const bool awaiting_first_picture =
        std::any_of(work.begin(), work.end(),
                    [&](const CameraWork& w) { return !w.flowing && maySend(w.camera); }) &&
        now - start < std::chrono::seconds(5);
    if (!awaiting_first_picture) takeJpegSnapshots();
    // A recording that stops (a full disk, the file-size limit) is news at once, not at the end
    // of a long run; once nothing is left to record, the run ends.
    int running = 0;
    int stopped = 0;
    for (CameraWork& w : work) {
      for (Recording& r : w.recordings) {
        if (!r.announced) {
          r.failure = viewer::recordingFailure(widget->decoding().panes[w.camera - 1].recorders,
                                               r.extension == ".avi");
          r.announced = r.failure.code != 0;
          if (r.announced) {
            std::fprintf(stderr,
                         "kv4r_rec: the recording of camera %d into %s stopped: %s; what it "
                         "recorded is kept\n",
                         w.camera, r.final_path.c_str(), failureReason(r.failure));
          }
        }
        ++(r.announced ? stopped : running);
      }
    }
    const bool more_to_start = std::any_of(work.begin(), work.end(), [&](const CameraWork& w) {
      return !w.flowing && w.camera <= server_cameras;
    });
    if (stopped > 0 && running == 0 && !more_to_start) {
      std::fprintf(stderr, "kv4r_rec: no recording is left running; the run ends\n");
      failed = true;
    }
    progress.tick(now, counts.total.load());
  };
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, step);
  tick.start(kTick_ms);
  QApplication::exec();
  tick.stop();
  link.ending = true;

  // Stop requests first, then the end of the session, which finishes every recording.
  for (const CameraWork& w : work) {
    for (const Recording& r : w.recordings) {
      (void)host.record(r.extension == ".vrx" ? "RecMovieVrx" : "RecMovieAvi", w.camera, "");
    }
  }
  if (!login_refused) (void)host.put("strIpAddr", Variant::fromString(""));
  for (CameraWork& w : work) {
    for (Recording& r : w.recordings) {
      r.failure = viewer::recordingFailure(widget->decoding().panes[w.camera - 1].recorders,
                                           r.extension == ".avi");
      r.announced = r.announced && !r.failure.at_finish;
      r.frames = viewer::recordedFrames(widget->decoding().panes[w.camera - 1].recorders,
                                        r.extension == ".avi");
    }
  }
  control.reset();
  (void)viewer::unregisterVidletControl(registry);

  bool any_flowing = false;
  const bool asked = !options.cameras.empty();
  // Frames are counted as they reach the control; a small --frames can end the run before a
  // camera's first picture, with which its recordings and snapshots begin.
  const bool limit_reached = options.frames > 0 && counts.total.load() >= options.frames;
  const char* limit_came_first = "the frame limit (--frames) came before";
  for (const CameraWork& w : work) {
    if (!asked && w.camera > server_cameras) continue;
    std::printf("camera %d: %lld frames\n", w.camera, counts.pane[w.camera - 1].load());
    any_flowing = any_flowing || w.flowing;
    for (const Recording& r : w.recordings) {
      if (r.failure.code != 0) {
        // What was written before is kept (and listed below when it got its name).
        if (!r.announced) {
          std::fprintf(stderr, "kv4r_rec: the recording of camera %d into %s %s: %s\n", w.camera,
                       r.final_path.c_str(),
                       r.failure.at_finish ? "could not be finished" : "ended early",
                       failureReason(r.failure));
        }
        failed = true;
      }
      if (r.frames == 0) {
        // The recording began with a picture that it does not hold and no later frame came; the
        // control makes no file of it.
        std::fprintf(stderr, "kv4r_rec: no frame of camera %d was recorded into %s\n", w.camera,
                     r.final_path.c_str());
        failed = true;
        continue;
      }
      if (finishedCleanly(r)) {
        made.push_back(r.final_path);
      } else {
        const std::string left = leftWorkingFile(r);
        std::fprintf(stderr, "kv4r_rec: the recording of camera %d did not end as %s%s%s\n",
                     w.camera, r.final_path.c_str(), left.empty() ? "" : "; its frames are in ",
                     left.c_str());
        failed = true;
      }
    }
    if (!w.flowing && asked) {
      if (limit_reached && counts.pane[w.camera - 1].load() > 0) {
        std::fprintf(stderr, "kv4r_rec: %s the first picture of camera %d\n", limit_came_first,
                     w.camera);
      } else {
        std::fprintf(stderr, "kv4r_rec: no pictures from camera %d\n", w.camera);
      }
      failed = true;
    } else if (w.flowing && (!w.jpg_done || !w.bmp_done)) {
      std::fprintf(stderr, "kv4r_rec: no snapshot of camera %d\n", w.camera);
      failed = true;
    }
  }
  if (!any_flowing && !login_refused && !key_refused) {
    if (limit_reached) {
      std::fprintf(stderr, "kv4r_rec: %s any picture; nothing was recorded or saved\n",
                   limit_came_first);
    } else {
      std::fprintf(stderr, "kv4r_rec: no pictures came\n");
    }
    failed = true;
  }
  for (const std::string& path : made) std::printf("file: %s\n", path.c_str());
  return login_refused || key_refused || failed ? 1 : 0;
}

}  // namespace kv4r::tools
