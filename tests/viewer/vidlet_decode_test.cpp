// The control's snapshot and recording methods over a live stream of the development server, with
// key-protected frames whose key the user types once.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/message_boxes.h"
#include "sim/simulator.h"
#include "tests/support/qt_test_app.h"
#include "tests/support/test_env.h"
#include "viewer/qt_message_boxes.h"
#include "viewer/vidlet_ctrl.h"

namespace kv4r::viewer {
namespace {

namespace fs = std::filesystem;
using platform::Variant;

QApplication& app() {
  return kv4r::testing::qtTestApp();
}
using kv4r::testing::pumpUntil;

// A development server whose cameras send key-protected frames at 20 per second, and a control
// connected to it whose key dialog types the right key and counts how often it opened.
struct ProtectedStream {
  sim::SimulatorPtr simulator;
  platform::RecordingMessageBoxes boxes;
  int prompts = 0;
  std::unique_ptr<CVidletCtrl> ctrl;

  void start(int camera_count, int mode) {
    app();
    sim::SimOptions options;
    options.port = 0;
    options.scenario = sim::defaultScenario();
    options.scenario.key = "gate7";
    options.scenario.camera_count = camera_count;
    options.scenario.cameras.resize(static_cast<std::size_t>(camera_count));
    for (auto& camera : options.scenario.cameras) {
      camera.mode = mode;
      camera.fps = 20;
    }
    std::string error;
    ASSERT_EQ(sim::simStart(options, &simulator, &error), 1) << error;
    ctrl = std::make_unique<CVidletCtrl>();
    ctrl->setMessageBoxes(&boxes);
    ctrl->setKeyPrompt([this] {
      ++prompts;
      return std::string("gate7");
    });
    ASSERT_TRUE(ctrl->createControlWindow());
    const std::string url = "127.0.0.1:" + std::to_string(sim::simPort(simulator.get()));
    ASSERT_TRUE(ctrl->putProperty(ctrl->getIdsOfNames("strIpAddr"), Variant::fromString(url)).ok());
  }
};

TEST(ControlMethods, SnapshotsAndRecordingOfProtectedFramesOverALiveStream) {
  ProtectedStream stream;
  ASSERT_NO_FATAL_FAILURE(stream.start(2, 2));
  kv4r::testing::TempDir dir;
  auto& ctrl = stream.ctrl;
  platform::RecordingMessageBoxes& boxes = stream.boxes;
  int& prompts = stream.prompts;

  auto call = [&](int dispid, std::vector<Variant> args) {
    return std::make_pair(ctrl->invoke(dispid, args), args);
  };
  // The first picture needs the key from the window thread, so wait for it with events running.
  ASSERT_TRUE(pumpUntil([&] {
    return call(kDispidGetBmp, {Variant(), Variant(), Variant::fromI2(1)}).second[1].i4Value() > 0;
  }));
  EXPECT_EQ(prompts, 1);
  EXPECT_TRUE(boxes.texts().empty());

  ASSERT_EQ(call(kDispidRecMovieVrx,
                 {Variant::fromI2(1), Variant::fromString((dir / "cam1.avi").string())})
                .first.value,
            Variant::fromI4(1));
  auto [jpg, jpg_args] = call(kDispidGetJpg, {Variant(), Variant(), Variant::fromI2(2)});
  EXPECT_EQ(jpg.value, Variant::fromBool(true));
  ASSERT_GT(jpg_args[1].i4Value(), 600);
  EXPECT_EQ(jpg_args[0].bytesValue().size(), static_cast<std::size_t>(jpg_args[1].i4Value()));
  EXPECT_EQ(jpg_args[0].bytesValue()[58] & 3, 0);  // handed out unlocked
  EXPECT_EQ(
      call(kDispidSaveJpg, {Variant::fromI2(1), Variant::fromString((dir / "one.jpg").string())})
          .first.value,
      Variant::fromBool(true));
  EXPECT_GT(fs::file_size(dir / "one.jpg"), 600u);
  ASSERT_TRUE(pumpUntil([&] { return fs::file_size(dir / "cam1.tmp") > 0; }));

  // Destroying the control stops the stream and finishes the recording under its final name.
  ctrl.reset();
  EXPECT_FALSE(fs::exists(dir / "cam1.tmp"));
  ASSERT_TRUE(fs::exists(dir / "cam1.vrx"));
  const auto verify = kv4r::testing::runProgram(kv4r::testing::programPath("vrxtool"),
                                                {"verify", (dir / "cam1.vrx").string()});
  EXPECT_EQ(verify.exit_status, 0) << verify.out << verify.err;
  EXPECT_EQ(prompts, 1);
}

// A host that connects and at once asks for a JPEG, on the window thread, before any key was typed:
// the first frame waits for the key dialog, which the snapshot opens itself instead of waiting out
// its bound with nothing.
TEST(ControlMethods, SnapshotRightAfterConnectingAsksForTheKeyItself) {
  ProtectedStream stream;
  ASSERT_NO_FATAL_FAILURE(stream.start(1, 3));

  std::vector<Variant> args = {Variant(), Variant(), Variant::fromI2(1)};
  EXPECT_EQ(stream.ctrl->invoke(kDispidGetJpg, args).value, Variant::fromBool(true));
  EXPECT_GT(args[1].i4Value(), 600);
  EXPECT_EQ(stream.prompts, 1);
  EXPECT_TRUE(stream.boxes.texts().empty());
}

// The host stops the connection while the first protected frame waits for the key dialog, which
// the window thread has not opened yet: no wrong key, nothing hidden, and the next connection asks
// again.
TEST(ControlMethods, AStopWhileTheKeyIsAskedForIsNoWrongKey) {
  ProtectedStream stream;
  ASSERT_NO_FATAL_FAILURE(stream.start(1, 2));
  while (stream.ctrl->waitingKeyRequests() == 0) std::this_thread::yield();
  const int ip = stream.ctrl->getIdsOfNames("strIpAddr");
  ASSERT_TRUE(stream.ctrl->putProperty(ip, Variant::fromString("")).ok());
  EXPECT_TRUE(stream.boxes.texts().empty());
  EXPECT_FALSE(stream.ctrl->viewer().key_refused.load());
  EXPECT_TRUE(stream.ctrl->viewer().panes[0].draw.load());
  EXPECT_EQ(stream.prompts, 0);

  const std::string url = "127.0.0.1:" + std::to_string(sim::simPort(stream.simulator.get()));
  ASSERT_TRUE(stream.ctrl->putProperty(ip, Variant::fromString(url)).ok());
  ASSERT_TRUE(pumpUntil([&] {
    std::vector<Variant> args = {Variant(), Variant(), Variant::fromI2(1)};
    return stream.ctrl->invoke(kDispidGetBmp, args).ok() && args[1].i4Value() > 0;
  }));
  EXPECT_EQ(stream.prompts, 1);
  EXPECT_TRUE(stream.boxes.texts().empty());
}

// A message shown from a stream thread must not wait for the window thread, which may be waiting
// for that very thread to end.
TEST(MessageBoxes, ShownFromAnotherThreadDoesNotWaitForTheWindowThread) {
  app();
  QWidget parent;
  QtMessageBoxes boxes(&parent);
  std::atomic<bool> returned{false};
  std::thread stream_thread([&] {
    boxes.show("Key is wrong", platform::MessageIcon::Warning);
    returned = true;
  });
  // The window thread runs no events meanwhile (bounded: a waiting show would never return).
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!returned.load() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  EXPECT_TRUE(returned.load());

  // The box comes up once the window thread runs its events.
  bool shown = false;
  QTimer closer;
  closer.setInterval(1);
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      shown = box->text() == "Key is wrong";
      box->accept();
    }
  });
  closer.start();
  EXPECT_TRUE(pumpUntil([&] { return shown; }));
  closer.stop();
  stream_thread.join();
}

}  // namespace
}  // namespace kv4r::viewer
