#include "viewer/vidlet_ctrl.h"
#include "tests/support/qt_test_app.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "sim/simulator.h"
#include "stream/socket_io.h"
#include "tests/support/loopback_server.h"
#include "tests/support/stream_wire.h"
#include "tests/support/test_env.h"
#include "viewer/key_dialog.h"

#if defined(__SANITIZE_ADDRESS__)
// The system's font configuration keeps a cache block for the life of the process once a dialog
// has laid out text; that is not ours to free.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
#endif

namespace kv4r::viewer {
namespace {

using platform::Variant;

QApplication& app() {
  return kv4r::testing::qtTestApp();
}
using kv4r::testing::pumpUntil;

class Control : public ::testing::Test {
 protected:
  void SetUp() override {
    app();
    previous_timeout_ = stream::setTimeoutSecondForTesting(std::chrono::milliseconds(40));
    ctrl_ = std::make_unique<CVidletCtrl>();
    ctrl_->setMessageBoxes(&boxes_);
    ctrl_->setAboutPrompt([this] { ++about_calls_; });
  }
  void TearDown() override {
    ctrl_.reset();
    stream::setTimeoutSecondForTesting(previous_timeout_);
  }

  void put(const std::string& name, const Variant& v) {
    const auto r = ctrl_->putProperty(ctrl_->getIdsOfNames(name), v);
    ASSERT_TRUE(r.ok()) << name << ": " << r.message;
  }
  Variant get(const std::string& name) {
    return ctrl_->getProperty(ctrl_->getIdsOfNames(name)).value;
  }
  bool drawn(int pane) { return ctrl_->viewer().panes[pane].draw.load(); }
  // A session as the server queries leave it, without a stream.
  void pretendSession(int cameras, int view_mask) {
    ctrl_->viewer().connected.store(1);
    ctrl_->viewer().info.camera_count = cameras;
    ctrl_->viewer().rights[kViewRights] = view_mask;
  }

  platform::RecordingMessageBoxes boxes_;
  std::unique_ptr<CVidletCtrl> ctrl_;
  int about_calls_ = 0;
  std::chrono::milliseconds previous_timeout_{};
};

TEST_F(Control, StoredSetLacksAPropertyGivesItsDefaultAndSavesOnlyPersistedOnesInOrder) {
  put("iHttpPort", Variant::fromI4(81));
  put("dMagnify5", Variant::fromR8(3.0));
  put("strReserved1", Variant::fromString("x"));
  ctrl_->loadProperties(platform::PropertyBag::fromText(
      "strTxt2=two\\nlines\ndMagnify3=2.5\nbEnableCam4=0\nunknown=1\niTxt1FontSize=zz\n"));
  EXPECT_EQ(get("iHttpPort"), Variant::fromI4(80));  // missing: default, not the earlier value
  EXPECT_EQ(get("strTxt2"), Variant::fromString("two\nlines"));
  EXPECT_EQ(get("dMagnify3"), Variant::fromR8(2.5));
  EXPECT_EQ(get("bEnableCam4"), Variant::fromBool(false));
  EXPECT_EQ(get("iTxt1FontSize"), Variant::fromI4(18));  // unreadable: default
  EXPECT_EQ(get("dMagnify5"), Variant::fromR8(3.0));     // not part of the set: untouched

  const platform::PropertyBag saved = ctrl_->saveProperties();
  ASSERT_EQ(saved.entries().size(), persistenceOrder().size());
  for (std::size_t i = 0; i < saved.entries().size(); ++i) {
    EXPECT_EQ(saved.entries()[i].first, findProperty(persistenceOrder()[i])->name);
  }
  EXPECT_EQ(saved.readText("strTxt2"), "two\nlines");
  EXPECT_FALSE(saved.readText("dMagnify5"));
  EXPECT_FALSE(saved.readText("strReserved1"));
  EXPECT_FALSE(saved.readText("strIpAddrProxy"));
}

TEST_F(Control, DispatchConvertsValuesAndReportsFailuresAsResults) {
  put("dMagnify1", Variant::fromString("2.5"));
  EXPECT_EQ(get("dMagnify1"), Variant::fromR8(2.5));
  put("bStretch1", Variant::fromI2(1));
  EXPECT_EQ(get("BSTRETCH1"), Variant::fromBool(true));

  const auto mismatch =
      ctrl_->putProperty(ctrl_->getIdsOfNames("iHttpPort"), Variant::fromString("eighty"));
  EXPECT_EQ(mismatch.code, platform::kDispTypeMismatch);
  EXPECT_NE(mismatch.message.find("iHttpPort"), std::string::npos);
  EXPECT_EQ(get("iHttpPort"), Variant::fromI4(80));
  EXPECT_EQ(ctrl_->getProperty(999).code, platform::kDispMemberNotFound);
  EXPECT_EQ(ctrl_->getProperty(kDispidGetVersion).code, platform::kDispNotAProperty);
  std::vector<Variant> none;
  EXPECT_EQ(ctrl_->invoke(13, none).code, platform::kDispNotAMethod);

  // Methods answer as for a camera that cannot deliver until a session delivers pictures.
  auto version = ctrl_->invoke(kDispidGetVersion, none);
  EXPECT_EQ(version.value, Variant::fromI4(20040601));
  std::vector<Variant> grab = {Variant(), Variant(), Variant::fromI2(1)};
  EXPECT_EQ(ctrl_->invoke(kDispidGetJpg, grab).value, Variant::fromBool(true));
  EXPECT_EQ(grab[0], Variant::fromBytes({}));
  EXPECT_EQ(grab[1], Variant::fromI4(0));
  std::vector<Variant> save = {Variant::fromI2(1), Variant::fromString("/tmp/x.jpg")};
  EXPECT_EQ(ctrl_->invoke(kDispidSaveJpg, save).value, Variant::fromBool(false));
  std::vector<Variant> rec = {Variant::fromI2(1), Variant::fromString("/tmp/x.vrx")};
  EXPECT_EQ(ctrl_->invoke(kDispidRecMovieVrx, rec).value, Variant::fromI4(0));
  std::vector<Variant> short_args = {Variant::fromI2(1)};
  EXPECT_EQ(ctrl_->invoke(kDispidSaveBmp, short_args).code, platform::kDispBadParamCount);
  EXPECT_EQ(ctrl_->invoke(kDispidGetMacAddr, none).value, Variant::fromString(""));
  EXPECT_TRUE(ctrl_->invoke(platform::kDispidAboutBox, none).ok());
  EXPECT_EQ(about_calls_, 1);
}

TEST_F(Control, BeforeCreationValuesAreOnlyStored) {
  put("iPauseTime", Variant::fromI4(1000));
  put("iBgColor", Variant::fromI4(7));
  EXPECT_EQ(get("iPauseTime"), Variant::fromI4(1000));
  EXPECT_EQ(get("iBgColor"), Variant::fromI4(7));
  EXPECT_TRUE(ctrl_->isModified());
  ASSERT_TRUE(ctrl_->createControlWindow());
  EXPECT_EQ(ctrl_->viewer().pause_time, 490);
  EXPECT_EQ(get("iBgColor"), Variant::fromI4(0));
  EXPECT_EQ(ctrl_->viewSettings().brush_index, 0);
}

TEST_F(Control, ValueRulesCapPauseTimeAndBackgroundAndSetBandsAndBorders) {
  ASSERT_TRUE(ctrl_->createControlWindow());
  EXPECT_FALSE(ctrl_->isModified());
  put("iPauseTime", Variant::fromI4(1000));
  EXPECT_EQ(get("iPauseTime"), Variant::fromI4(490));
  EXPECT_EQ(ctrl_->viewer().pause_time, 490);
  EXPECT_TRUE(ctrl_->isModified());
  put("iPauseTime", Variant::fromI4(-5));
  EXPECT_EQ(get("iPauseTime"), Variant::fromI4(0));
  EXPECT_EQ(ctrl_->viewer().pause_time, 0);
  put("iPauseTime", Variant::fromI4(1000));
  put("iBgColor", Variant::fromI4(3));
  EXPECT_EQ(ctrl_->viewSettings().brush_index, 3);
  put("iBgColor", Variant::fromI4(7));
  EXPECT_EQ(get("iBgColor"), Variant::fromI4(0));
  EXPECT_EQ(ctrl_->viewSettings().brush_index, 0);
  EXPECT_EQ(ctrl_->viewerWidget()->palette().color(QPalette::Window), QColor(Qt::white));

  put("bBorderTop", Variant::fromBool(true));
  EXPECT_EQ(ctrl_->paneSettings(2).band_top_px, 12);
  EXPECT_EQ(ctrl_->paneSettings(2).band_bottom_px, 0);
  put("iTxt3posY", Variant::fromI4(-7));
  EXPECT_EQ(ctrl_->paneSettings(2).txt.pos_y, -7);

  const struct {
    int value;
    BorderStyle style;
  } styles[] = {{1, {true, 1, 4}},  {2, {true, 0, 2}}, {3, {false, 2, 4}},
                {4, {false, 1, 2}}, {0, {true, 1, 4}}, {9, {true, 1, 4}}};
  for (const auto& s : styles) EXPECT_EQ(borderStyleFor(s.value), s.style) << s.value;
  put("iBorderStyle", Variant::fromI4(3));
  EXPECT_EQ(ctrl_->paneSettings(0).margin_px, 4);
  EXPECT_FALSE(ctrl_->paneSettings(0).window_border);
  put("iBorderStyle", Variant::fromI4(2));  // no border comes back to existing panes
  EXPECT_FALSE(ctrl_->paneSettings(0).window_border);
  EXPECT_EQ(ctrl_->paneSettings(0).inset_px, 0);

  pretendSession(4, 0xF);
  ctrl_->setModified(false);
  put("iBorderStyle", Variant::fromI4(4));
  EXPECT_EQ(boxes_.texts(),
            std::vector<std::string>{"You should set this property \n\nbefore window is created."});
  EXPECT_EQ(get("iBorderStyle"), Variant::fromI4(4));  // stored, not applied
  EXPECT_EQ(ctrl_->viewSettings().border, borderStyleFor(2));
  EXPECT_FALSE(ctrl_->isModified());
  ctrl_->viewer().connected.store(0);
}

TEST_F(Control, SingleModeKeepsTheFirstDrawnPaneAndOnePaneMeansSingle) {
  ASSERT_TRUE(ctrl_->createControlWindow());
  put("bDraw1", Variant::fromBool(false));
  put("bDraw4", Variant::fromBool(false));
  put("bSingle", Variant::fromBool(true));
  EXPECT_FALSE(drawn(0));
  EXPECT_TRUE(drawn(1));
  EXPECT_FALSE(drawn(2));
  EXPECT_EQ(ctrl_->viewer().drawn_count, 1);
  put("bSingle", Variant::fromBool(false));
  EXPECT_EQ(get("bSingle"), Variant::fromBool(true));
  EXPECT_TRUE(ctrl_->viewSettings().single);
  // Drawing a pane again clears a refused key so that its frames are checked once more.
  ctrl_->viewer().key_refused.store(true);
  put("bDraw3", Variant::fromBool(true));
  EXPECT_FALSE(ctrl_->viewer().key_refused.load());
  EXPECT_EQ(ctrl_->viewer().drawn_count, 2);
}

TEST_F(Control, ConnectionSettingsWaitWhileASessionIsActive) {
  ASSERT_TRUE(ctrl_->createControlWindow());
  put("iHttpPort", Variant::fromI4(8081));
  EXPECT_EQ(ctrl_->viewer().port, 8081);
  pretendSession(4, 0xF);
  ctrl_->setModified(false);
  put("iHttpPort", Variant::fromI4(9090));
  put("strUserID", Variant::fromString("ann"));
  put("bEnableCam2", Variant::fromBool(false));
  EXPECT_EQ(ctrl_->viewer().port, 8081);
  EXPECT_EQ(ctrl_->viewer().user, "");
  EXPECT_TRUE(ctrl_->viewer().panes[1].enabled.load());
  EXPECT_EQ(get("iHttpPort"), Variant::fromI4(9090));
  // A new address while connected is only stored.
  put("strIpAddr", Variant::fromString("127.0.0.2"));
  EXPECT_EQ(ctrl_->viewer().connected.load(), 1);
  put("iSvrID", Variant::fromI4(3));
  EXPECT_EQ(ctrl_->viewer().server_number, 0);
  // Emptying it stops the session; the next address connects with the stored settings (the port
  // comes from the address text, 80 when it names none).
  put("strIpAddr", Variant::fromString(""));
  EXPECT_EQ(ctrl_->viewer().connected.load(), 0);
  kv4r::testing::RefusingPort refusing;
  put("strIpAddr", Variant::fromString("127.0.0.1:" + std::to_string(refusing.port())));
  EXPECT_EQ(ctrl_->viewer().port, refusing.port());
  EXPECT_EQ(ctrl_->viewer().user, "ann");
  EXPECT_EQ(ctrl_->viewer().server_number, 3);
  EXPECT_EQ(boxes_.texts().back(), "Module 3 of 127.0.0.1 is not ready,\n\nor network is bad.");
  EXPECT_EQ(ctrl_->viewer().connected.load(), 0);
}

sim::SimulatorPtr startSim(int cameras) {
  sim::SimOptions options;
  options.port = 0;
  options.scenario = sim::defaultScenario();
  options.scenario.camera_count = cameras;
  options.scenario.cameras.resize(static_cast<std::size_t>(cameras));
  sim::SimulatorPtr simulator;
  std::string error;
  EXPECT_EQ(sim::simStart(options, &simulator, &error), 1) << error;
  return simulator;
}

std::string urlOf(const sim::SimulatorPtr& simulator) {
  return "127.0.0.1:" + std::to_string(sim::simPort(simulator.get()));
}

// Whichever way the address came, the server's cameras decide which enabled panes stream: one it
// lacks is switched off (so a recording of it is refused), and a larger server after a small one
// streams every camera the host enabled.
TEST_F(Control, EachServerStreamsTheEnabledCamerasItHas) {
  const auto small = startSim(1);
  const auto large = startSim(4);
  put("strIpAddr", Variant::fromString("127.0.0.1"));
  put("iHttpPort", Variant::fromI4(sim::simPort(small.get())));
  ASSERT_TRUE(ctrl_->createControlWindow());
  ASSERT_EQ(ctrl_->viewer().connected.load(), 1);
  EXPECT_FALSE(ctrl_->viewer().panes[1].enabled.load());

  put("strIpAddr", Variant::fromString(""));
  put("strIpAddr", Variant::fromString(urlOf(large)));
  ASSERT_EQ(ctrl_->viewer().connected.load(), 1);
  for (const CameraPane& pane : ctrl_->viewer().panes) EXPECT_TRUE(pane.enabled.load());
  EXPECT_EQ(ctrl_->viewer().active_count, 4);

  put("strIpAddr", Variant::fromString(""));
  put("bEnableCam3", Variant::fromBool(false));
  put("strIpAddr", Variant::fromString(urlOf(small)));
  ASSERT_EQ(ctrl_->viewer().connected.load(), 1);
  EXPECT_TRUE(ctrl_->viewer().panes[0].enabled.load());
  EXPECT_FALSE(ctrl_->viewer().panes[1].enabled.load());
  EXPECT_EQ(ctrl_->viewer().active_count, 1);
  kv4r::testing::TempDir dir;
  std::vector<Variant> record = {Variant::fromI2(2),
                                 Variant::fromString((dir / "c2.vrx").string())};
  EXPECT_EQ(ctrl_->invoke(kDispidRecMovieVrx, record).value, Variant::fromI4(0));
  EXPECT_FALSE(std::filesystem::exists(dir / "c2.tmp"));

  put("strIpAddr", Variant::fromString(""));
  put("strIpAddr", Variant::fromString(urlOf(large)));
  EXPECT_TRUE(ctrl_->viewer().panes[1].enabled.load());
  EXPECT_FALSE(ctrl_->viewer().panes[2].enabled.load()) << "the host switched camera 3 off";
  put("strIpAddr", Variant::fromString(""));
}

TEST_F(Control, AddressTextGivesHostAndPortOrShowsBadUrl) {
  ASSERT_TRUE(ctrl_->createControlWindow());
  kv4r::testing::RefusingPort refusing;
  const std::string port = std::to_string(refusing.port());
  put("strIpAddr", Variant::fromString("http://ann:pw@127.0.0.1:" + port + "/page/x.html"));
  EXPECT_EQ(get("strIpAddr"), Variant::fromString("127.0.0.1"));
  EXPECT_EQ(get("iHttpPort"), Variant::fromI4(refusing.port()));
  EXPECT_EQ(get("strUserID"), Variant::fromString("ann"));
  EXPECT_EQ(get("strUserPWD"), Variant::fromString("pw"));
  put("strIpAddr", Variant::fromString(""));
  put("strIpAddr", Variant::fromString("127.0.0.1"));
  EXPECT_EQ(get("iHttpPort"), Variant::fromI4(80));

  boxes_.clear();
  ctrl_->setModified(false);
  put("strIpAddr", Variant::fromString("1234567890.1234567890"));
  EXPECT_EQ(boxes_.texts(), std::vector<std::string>{"Bad URL format"});
  EXPECT_EQ(get("strIpAddr"), Variant::fromString(""));
  EXPECT_FALSE(ctrl_->isModified());
}

TEST_F(Control, CreationTakesTheFallbackAddressOnlyInAPage) {
  kv4r::testing::RefusingPort refusing;
  const std::string port = std::to_string(refusing.port());
  ctrl_->setSettings(platform::SettingsStore::fromText(
      "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings]\n"
      "ProxyEnable=dword:00000000\nProxyServer=http=10.0.0.1:3128\n"));
  ctrl_->setPageUrl("http://bob:pw@127.0.0.1:" + port + "/live/index.html");
  ASSERT_TRUE(ctrl_->createControlWindow());
  EXPECT_EQ(get("iHttpPort"), Variant::fromI4(refusing.port()));
  EXPECT_EQ(get("strUserID"), Variant::fromString("bob"));
  // The server did not answer: the creation's own message, no session.
  ASSERT_EQ(boxes_.texts().size(), 1u);
  EXPECT_EQ(boxes_.texts()[0],
            "\"127.0.0.1\" is not ready, \nor network is bad. \nPlease try again.");
  EXPECT_EQ(ctrl_->viewer().connected.load(), 0);

  // Its own address text is parsed in a page; a bad one is emptied with a message.
  CVidletCtrl other;
  other.setMessageBoxes(&boxes_);
  other.setPageUrl("http://127.0.0.1/");
  ASSERT_TRUE(other.putProperty(13, Variant::fromString("1234567890.1234567890")).ok());
  boxes_.clear();
  ASSERT_TRUE(other.createControlWindow());
  EXPECT_EQ(boxes_.texts(), std::vector<std::string>{"Bad URL format"});
  EXPECT_EQ(other.getProperty(13).value, Variant::fromString(""));

  // Outside a page the address stays as it was given.
  CVidletCtrl outside;
  outside.setMessageBoxes(&boxes_);
  ASSERT_TRUE(outside.createControlWindow());
  EXPECT_EQ(outside.getProperty(13).value, Variant::fromString(""));
  EXPECT_EQ(outside.viewer().connected.load(), 0);
}

TEST_F(Control, SequencerShowsOneAllowedCameraAtATimeAndLocksDrawAndSingle) {
  ASSERT_TRUE(ctrl_->createControlWindow());
  // Without a session the switch is only stored.
  put("bSequentialOn", Variant::fromBool(true));
  EXPECT_FALSE(ctrl_->sequencerRunning());

  pretendSession(4, 0b1010);  // cameras 2 and 4 may be viewed
  put("bSequentialOn", Variant::fromBool(false));
  put("bSequentialOn", Variant::fromBool(true));
  ASSERT_TRUE(ctrl_->sequencerRunning());
  EXPECT_FALSE(drawn(0));
  EXPECT_TRUE(drawn(1));
  EXPECT_FALSE(drawn(3));
  EXPECT_EQ(ctrl_->sequencer().counter(), 2);
  ASSERT_TRUE(pumpUntil([&] { return ctrl_->viewSettings().single; }));

  const int passes = ctrl_->layoutPasses();
  put("bDraw1", Variant::fromBool(true));
  put("bSingle", Variant::fromBool(false));
  EXPECT_FALSE(drawn(0));
  EXPECT_TRUE(ctrl_->viewSettings().single);
  EXPECT_EQ(ctrl_->layoutPasses(), passes);

  EXPECT_EQ(ctrl_->sequencer().step(), 3);
  EXPECT_EQ(ctrl_->sequencer().step(), 1);
  // A refused key stops the sequence at its next step.
  ctrl_->viewer().key_refused.store(true);
  EXPECT_EQ(ctrl_->sequencer().step(), -1);
  EXPECT_FALSE(ctrl_->sequencerRunning());
  put("bSequentialOn", Variant::fromBool(false));
  ctrl_->viewer().connected.store(0);
}

TEST_F(Control, SequencerTimerStepsOnItsOwnThreadEveryPeriod) {
  ASSERT_TRUE(ctrl_->createControlWindow());
  pretendSession(3, 0x7);
  put("bSequentialOn", Variant::fromBool(true));
  ASSERT_EQ(ctrl_->sequencer().counter(), 1);
  EXPECT_TRUE(drawn(0));
  // The window thread keeps reading the flags and applying properties meanwhile.
  ASSERT_TRUE(pumpUntil([&] {
    put("bDraw3", Variant::fromBool(false));
    return ctrl_->sequencer().counter() == 2;
  }));
  EXPECT_FALSE(drawn(0));
  EXPECT_TRUE(drawn(1));
  EXPECT_TRUE(ctrl_->sequencerRunning());
  put("bSequentialOn", Variant::fromBool(false));
  EXPECT_FALSE(ctrl_->sequencerRunning());
  ctrl_->viewer().connected.store(0);
}

TEST_F(Control, SequencerStopsAtItsFirstStepWhenNoCameraMayBeViewed) {
  ASSERT_TRUE(ctrl_->createControlWindow());
  pretendSession(4, 0b110000);  // only cameras 5 and 6, which this server does not have
  put("bSequentialOn", Variant::fromBool(true));
  EXPECT_FALSE(ctrl_->sequencerRunning());
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(drawn(i));
  ctrl_->viewer().connected.store(0);
}

TEST_F(Control, SequencerStepsOnAnotherThreadWhileTheWindowThreadWorks) {
  ASSERT_TRUE(ctrl_->createControlWindow());
  pretendSession(4, 0xF);
  put("bSequentialOn", Variant::fromBool(true));
  std::atomic<bool> done{false};
  std::thread stepper([&] {
    for (int i = 0; i < 200; ++i) (void)ctrl_->sequencer().step();
    done = true;
  });
  while (!done) {
    put("bDraw2", Variant::fromBool(true));  // ignored while sequencing, reads the flags
    (void)ctrl_->viewer().panes[2].draw.load();
    QCoreApplication::processEvents();
  }
  stepper.join();
  int drawn_panes = 0;
  for (int i = 0; i < 4; ++i) drawn_panes += drawn(i) ? 1 : 0;
  EXPECT_EQ(drawn_panes, 1);
  put("bSequentialOn", Variant::fromBool(false));
  ctrl_->viewer().connected.store(0);
}

TEST_F(Control, RefusedLoginOnTheStreamEmptiesTheAddressAndShowsOneMessagePerRefusal) {
  using kv4r::testing::httpAnswer;
  using kv4r::testing::LoopbackReply;
  kv4r::testing::LoopbackServer server;
  auto page = [](const std::string& body) {
    return LoopbackReply::closing({"HTTP/1.0 200 OK\r\n\r\n" + body});
  };
  server.queueReply(
      LoopbackReply::closing({httpAnswer("Model=0x0007\r\nSupportCameraCount=1\r\n")}));
  server.queueReply(page("PROPERTY0=0x00F1\r\n"));
  server.queueReply(page("CAMNAME=\"Gate\"\r\n"));
  server.queueReply(LoopbackReply::closing({kv4r::testing::unauthorizedAnswer()}));
  server.queueReply(LoopbackReply::closing({httpAnswer("Model=0x0007\r\n")}));

  ASSERT_TRUE(ctrl_->createControlWindow());
  put("strIpAddr", Variant::fromString("127.0.0.1:" + std::to_string(server.port())));
  ASSERT_EQ(ctrl_->viewer().connected.load(), 1);
  ASSERT_TRUE(pumpUntil([&] { return !boxes_.texts().empty(); }));
  EXPECT_EQ(get("strIpAddr"), Variant::fromString(""));
  EXPECT_EQ(ctrl_->viewer().connected.load(), 0);
  EXPECT_EQ(ctrl_->viewer().session, nullptr);
  // A refusal that arrives after the stop shows its message too, once.
  std::thread late([&] { ctrl_->postLoginRefused(); });
  late.join();
  ASSERT_TRUE(pumpUntil([&] { return boxes_.texts().size() >= 2; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(boxes_.texts(), (std::vector<std::string>(2, "Login id & password is incorrect.")));
}

TEST_F(Control, KeyRequestFromAnotherThreadWaitsForTheWindowThreadsAnswer) {
  std::atomic<bool> asked_on_window_thread{false};
  ctrl_->setKeyPrompt([&] {
    asked_on_window_thread = QThread::currentThread() == ctrl_->thread();
    return std::string("secret");
  });
  std::optional<std::string> answer;
  std::atomic<bool> done{false};
  std::thread delivering([&] {
    answer = ctrl_->requestJpegKey();
    done = true;
  });
  ASSERT_TRUE(pumpUntil([&] { return done.load(); }));
  delivering.join();
  EXPECT_EQ(answer, "secret");
  EXPECT_TRUE(asked_on_window_thread);
  EXPECT_EQ(ctrl_->jpegKey(), "secret");
  // On the window thread itself the request is answered directly.
  ctrl_->setKeyPrompt([] { return std::string(); });
  EXPECT_EQ(ctrl_->requestJpegKey(), "");
  EXPECT_EQ(ctrl_->jpegKey(), "");
}

TEST_F(Control, StoppingTheSessionReleasesAWaitingKeyRequestWithoutADialog) {
  ASSERT_TRUE(ctrl_->createControlWindow());
  int prompts = 0;
  ctrl_->setKeyPrompt([&] {
    ++prompts;
    return std::string("late");
  });
  pretendSession(4, 0xF);
  std::optional<std::string> answer = "unset";
  std::thread delivering([&] { answer = ctrl_->requestJpegKey(); });
  // The window thread is busy (it does not run its queue) until the request waits.
  while (ctrl_->waitingKeyRequests() == 0) std::this_thread::yield();
  put("strIpAddr", Variant::fromString(""));  // the stop, as a host or a refused login does it
  delivering.join();
  EXPECT_FALSE(answer.has_value());  // withdrawn, not answered with an empty key
  QCoreApplication::processEvents();
  EXPECT_EQ(prompts, 0);
  EXPECT_EQ(ctrl_->viewer().connected.load(), 0);
}

TEST_F(Control, KeyDialogHidesTheTextAndReturnsItOnlyAfterOk) {
  for (const bool ok : {true, false}) {
    QTimer::singleShot(0, [ok] {
      auto* dialog = qobject_cast<KeyDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      EXPECT_EQ(dialog->windowTitle(), "Enter JPEG encryption key");
      EXPECT_EQ(dialog->keyEdit()->echoMode(), QLineEdit::Password);
      dialog->keyEdit()->setText("k3y");
      ok ? dialog->accept() : dialog->reject();
    });
    EXPECT_EQ(KeyDialog::ask(nullptr), ok ? "k3y" : "");
  }
}

TEST_F(Control, SafetyOptionsAndRegistration) {
  std::uint32_t supported = 0, enabled = 0;
  EXPECT_EQ(ctrl_->getInterfaceSafetyOptions(kIidIDispatch, &supported, &enabled), kS_OK);
  EXPECT_EQ(supported, 3u);
  EXPECT_EQ(enabled, 3u);
  const char* foreign = "{12345678-0000-0000-0000-000000000000}";
  EXPECT_EQ(ctrl_->getInterfaceSafetyOptions(foreign, &supported, &enabled), kE_NOINTERFACE);
  EXPECT_EQ(ctrl_->setInterfaceSafetyOptions(kIidIDispatch, 3, 3), kS_OK);
  EXPECT_EQ(ctrl_->setInterfaceSafetyOptions(kIidIDispatch, 1, 1), kS_OK);
  EXPECT_EQ(ctrl_->setInterfaceSafetyOptions(kIidIDispatch, 4, 4), kE_FAIL);
  EXPECT_EQ(ctrl_->setInterfaceSafetyOptions(kIidIDispatch, 7, 7), kE_FAIL);
  EXPECT_EQ(ctrl_->setInterfaceSafetyOptions(kIidIDispatch, 1, 0), kE_FAIL);
  EXPECT_EQ(ctrl_->setInterfaceSafetyOptions(kIidIDispatch, 3, 2), kE_FAIL);
  EXPECT_EQ(ctrl_->setInterfaceSafetyOptions(kIidIDispatch, 2, 3), kS_OK);
  EXPECT_EQ(ctrl_->setInterfaceSafetyOptions(foreign, 1, 1), kE_NOINTERFACE);

  platform::ControlRegistry registry;
  std::unique_ptr<platform::Dispatch> made;
  EXPECT_EQ(registry.create(kVidletClassId, made), platform::kRegistryNotRegistered);
  ASSERT_EQ(registerVidletControl(registry), platform::kRegistryOk);
  EXPECT_EQ(registry.classIdOfProgId(kVidletProgId), kVidletClassId);
  ASSERT_EQ(registry.create(kVidletClassId, made), platform::kRegistryOk);
  EXPECT_NE(dynamic_cast<CVidletCtrl*>(made.get()), nullptr);
  EXPECT_EQ(made->getIdsOfNames("strIpAddr"), 13);
  made.reset();
  EXPECT_EQ(unregisterVidletControl(registry), platform::kRegistryOk);
  EXPECT_EQ(registry.create(kVidletClassId, made), platform::kRegistryNotRegistered);
}

TEST(VidletProgram, SavesTheParametersWithEveryOtherPersistedDefaultInOrder) {
  kv4r::testing::TempDir dir;
  const auto out = dir / "out.bag";
  const auto result = kv4r::testing::runProgram(
      kv4r::testing::programPath("vidlet"),
      {"--param", "strTxt2=Hello", "--param", "dMagnify3=2.5", "--save-bag", out.string(), "--quit",
       "--settings", (dir / "none.ini").string()});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  const platform::PropertyBag bag = platform::PropertyBag::fromText(kv4r::testing::readFile(out));
  ASSERT_EQ(bag.entries().size(), persistenceOrder().size());
  for (std::size_t i = 0; i < bag.entries().size(); ++i) {
    const PropertyInfo& info = *findProperty(persistenceOrder()[i]);
    ASSERT_EQ(bag.entries()[i].first, info.name);
    if (info.name == "strTxt2") {
      EXPECT_EQ(bag.entries()[i].second, "Hello");
    } else if (info.name == "dMagnify3") {
      EXPECT_EQ(bag.entries()[i].second, "2.5");
    } else {
      EXPECT_EQ(bag.read(info.name, info.type), info.default_value) << info.name;
    }
  }
  // The stored set loads back into a new host run.
  const auto again = kv4r::testing::runProgram(
      kv4r::testing::programPath("vidlet"),
      {"--bag", out.string(), "--save-bag", (dir / "again.bag").string(), "--quit"});
  ASSERT_EQ(again.exit_status, 0) << again.err;
  EXPECT_EQ(kv4r::testing::readFile(dir / "again.bag"), kv4r::testing::readFile(out));

  const auto bad = kv4r::testing::runProgram(kv4r::testing::programPath("vidlet"),
                                             {"--param", "noSuchProperty=1", "--quit"});
  EXPECT_NE(bad.exit_status, 0);
  EXPECT_NE(bad.err.find("noSuchProperty"), std::string::npos);
}

}  // namespace
}  // namespace kv4r::viewer
