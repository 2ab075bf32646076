// CVidletCtrl: the live-view control as a Qt widget. Hosts reach it through the dispatch
// interface (256 properties, nine methods); it owns the session core (ViewerWindow with its four
// camera panes), applies each property's change rule, keeps the stored property set, runs the
// camera sequencer and answers the stream session's two requests (refused login, JPEG key).
//
// Threads: the widget and its dispatch members run on the window thread. postLoginRefused and
// requestJpegKey may be called from any thread. The sequencer steps on its timer thread.
#pragma once

#include <QWidget>
#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/control_registry.h"
#include "platform/dispatch.h"
#include "platform/message_boxes.h"
#include "platform/property_bag.h"
#include "platform/settings_store.h"
#include "viewer/camera_sequencer.h"
#include "viewer/live_decoding.h"
#include "viewer/vidlet_properties.h"
#include "viewer/viewer_window.h"

namespace kv4r::viewer {

// Identity of the control.
inline constexpr const char* kVidletClassId = "{5E3A7D05-4B2C-11D8-A1F0-6C2D8E4B9A10}";
inline constexpr const char* kVidletProgId = "KV4RCTRL.Kv4rCtrlCtrl.1";
inline constexpr const char* kVidletClassName = "Kv4rCtrl Control";
inline constexpr const char* kVidletTypeLibId = "{5E3A7D01-4B2C-11D8-A1F0-6C2D8E4B9A10}";
inline constexpr const char* kVidletTypeLibName = "VIDLETLib";
inline constexpr const char* kVidletTypeLibHelp = "Kv4rCtrl ActiveX Control module";
inline constexpr const char* kVidletDispatchId = "{5E3A7D07-4B2C-11D8-A1F0-6C2D8E4B9A10}";
inline constexpr const char* kVidletDispatchName = "_DVidlet";
inline constexpr const char* kVidletDispatchHelp = "Dispatch interface for Kv4rCtrl Control";
inline constexpr const char* kVidletEventsId = "{5E3A7D09-4B2C-11D8-A1F0-6C2D8E4B9A10}";
inline constexpr const char* kVidletEventsName = "_DVidletEvents";
inline constexpr const char* kVidletPropPageId = "{5E3A7D0B-4B2C-11D8-A1F0-6C2D8E4B9A10}";
inline constexpr const char* kVidletPropPageProgId = "VIDLET.VidletPropPage.1";
inline constexpr const char* kVidletPropPageCaption = "General";
inline constexpr const char* kVidletPropPageName = "Kv4rCtrl Property Page";
inline constexpr int kVidletVersionMajor = 1;
inline constexpr int kVidletVersionMinor = 0;
inline constexpr std::uint32_t kVidletMiscStatus = 0x20191;
inline constexpr int kVidletVersion = 20040601;  // GetVersion

// The window messages of the stream session, kept as names.
inline constexpr int kWmUser = 0x0400;
inline constexpr int kMsgLayout = kWmUser + 1;
inline constexpr int kMsgKeyRequest = kWmUser + 2;
inline constexpr int kMsgLoginRefused = kWmUser + 3;

inline constexpr int kBandHeight_px = 12;

// Safe-for-scripting answers.
using HResult = std::int32_t;
inline constexpr HResult kS_OK = 0;
inline constexpr HResult kE_NOINTERFACE = static_cast<HResult>(0x80004002u);
inline constexpr HResult kE_FAIL = static_cast<HResult>(0x80004005u);
inline constexpr const char* kIidIObjectSafety = "{CB5BDC81-93C1-11CF-8F20-00805F2CD064}";
inline constexpr const char* kIidIDispatch = "{00020400-0000-0000-C000-000000000046}";
inline constexpr const char* kIidIUnknown = "{00000000-0000-0000-C000-000000000046}";
inline constexpr const char* kIidIPersistPropertyBag = "{37D84F60-42CB-11CE-8135-00AA004BB851}";
inline constexpr std::uint32_t kSafetyOptions = 3;  // untrusted caller | untrusted data

// Frame and inset of the panes chosen by iBorderStyle.
struct BorderStyle {
  bool pane_border = true;  // one-pixel window border
  int inset_px = 1;         // picture inset inside the pane; the total margin is twice this
  int allowance_px = 4;     // border allowance of the layout
  bool operator==(const BorderStyle&) const = default;
};
// 2, 3 and 4 have their own rows; every other value is style 1.
[[nodiscard]] BorderStyle borderStyleFor(int value);

// The on-screen display and layout settings of one pane, as copied from the properties. The
// layout and painting read them on the window thread.
struct PaneSettings {
  double zoom = 1.0;
  bool stretch = false;
  bool best_fit = true;
  int band_top_px = 0;
  int band_bottom_px = 0;
  int inset_px = 1;
  int margin_px = 2;
  bool window_border = true;
  bool relative_osd = true;
  bool border_time = true, border_txt = true, border_fps = true, border_rec = true;
  struct Item {
    bool on = false;
    std::string text;  // rec mark and free text only
    std::int32_t font_color = 0;
    std::int32_t bg_color = -1;
    std::string font_type = "Arial";
    int font_size = 18;
    int pos_x = 5;
    int pos_y = 5;
  };
  Item rec, txt, fps, time;
};

// Window-wide settings (window thread), beside those the session core holds.
struct ViewSettings {
  bool single = false;
  bool sequencer_on = false;
  int band_top_px = 0;
  int band_bottom_px = 0;
  BorderStyle border;
  int brush_index = 0;  // 0 white, 1 light grey, 2 grey, 3 dark grey, 4 black
  int target_width = 0;
  int target_height = 0;
};

class CVidletCtrl : public QWidget, public platform::Dispatch {
  Q_OBJECT
 public:
  explicit CVidletCtrl(QWidget* parent = nullptr);
  ~CVidletCtrl() override;

  // --- Dispatch interface (window thread) ---
  [[nodiscard]] int getIdsOfNames(std::string_view name) const override;
  [[nodiscard]] platform::DispatchResult getProperty(int dispid) override;
  [[nodiscard]] platform::DispatchResult putProperty(int dispid,
                                                     const platform::Variant& value) override;
  [[nodiscard]] platform::DispatchResult invoke(int dispid,
                                                std::vector<platform::Variant>& args) override;

  // --- Stored property set (window thread) ---
  // Reads the persisted properties; a missing one takes its default. Values are only stored.
  void loadProperties(const platform::PropertyBag& bag);
  // The persisted properties in their order.
  [[nodiscard]] platform::PropertyBag saveProperties() const;

  // --- Host environment, before createControlWindow ---
  // Message boxes (not owned; null restores the control's own Qt boxes).
  void setMessageBoxes(platform::MessageBoxes* boxes);
  // The user's settings (proxy); copied.
  void setSettings(const platform::SettingsStore& settings) { settings_ = settings; }
  // The hosting page's address: the control then sits in a page (a browser). Without it the
  // control has no fallback server address.
  void setPageUrl(std::optional<std::string> url) { page_url_ = std::move(url); }
  // Replaces the key dialog and the about box (tests, headless hosts). Window thread.
  void setKeyPrompt(std::function<std::string()> prompt) { key_prompt_ = std::move(prompt); }
  void setAboutPrompt(std::function<void()> prompt) { about_prompt_ = std::move(prompt); }

  // Creation of the control window: steps 1-9 (fallback address, hand-over, pane settings, one
  // pane mode, frame style, background, the session window with its connect sequence, the
  // sequencer). Runs once; false when the session window cannot be made.
  bool createControlWindow();
  [[nodiscard]] bool windowCreated() const { return window_created_; }

  [[nodiscard]] bool isModified() const { return modified_; }
  void setModified(bool modified) { modified_ = modified; }

  // --- Safe-for-scripting answers ---
  HResult getInterfaceSafetyOptions(std::string_view iid, std::uint32_t* supported,
                                    std::uint32_t* enabled) const;
  HResult setInterfaceSafetyOptions(std::string_view iid, std::uint32_t option_mask,
                                    std::uint32_t enabled_options) const;

  // --- Requests of the stream session ---
  // A refused login (posted): any thread; handled later on the window thread.
  void postLoginRefused();
  // Asks the user for the JPEG key and returns it after the dialog closed ("" for Cancel). From
  // another thread the call waits for the window thread; on the window thread it asks directly.
  // While the session stops, a waiting or new request returns none at once: withdrawn, not
  // answered.
  std::optional<std::string> requestJpegKey();
  // The key last typed. Any thread.
  [[nodiscard]] std::string jpegKey() const;
  // Key requests of other threads that wait for an answer (for tests and traces). Any thread.
  [[nodiscard]] int waitingKeyRequests() const;

  // --- For the layout, painting and tests (window thread) ---
  [[nodiscard]] ViewerWindow& viewer() { return *viewer_; }
  [[nodiscard]] LiveDecoding& decoding() { return *decoding_; }
  [[nodiscard]] const ViewSettings& viewSettings() const { return view_; }
  [[nodiscard]] const PaneSettings& paneSettings(int pane) const { return panes_[pane]; }
  [[nodiscard]] CameraSequencer& sequencer() { return *sequencer_; }
  [[nodiscard]] bool sequencerRunning() const { return sequencer_->running(); }
  [[nodiscard]] int layoutPasses() const { return layout_passes_; }
  [[nodiscard]] QWidget* viewerWidget() const { return viewer_widget_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private slots:
  // Window thread: the handlers of requests posted from other threads.
  void onLoginRefused();
  void answerKeyRequests();
  void afterSequencerStep();
  void layoutRequested();

 private:
  const platform::Variant& value(int dispid) const { return values_[dispid - 1]; }
  bool boolOf(PropKind kind, int camera = 0) const;
  int intOf(PropKind kind, int camera = 0) const;
  std::string textOf(PropKind kind, int camera = 0) const;
  void store(PropKind kind, int camera, const platform::Variant& v);

  ControlConnection connectionFromProperties() const;
  void connectionToProperties(const ControlConnection& connection);

  void applyRule(const PropertyInfo& info);
  void applyIpAddr();
  void applyDraw(int camera);
  void applySingle();
  void applySequential();
  void applyBorderStyle();
  void applyBgColor();
  void copyPaneSetting(PropKind kind, int camera);
  void applyBands();
  int recountDrawn();
  void relayout();
  void requestLayout();  // any thread: a queued layout pass
  void stopSession();
  void cancelKeyRequests(bool stopping);
  std::string askKeyNow();
  platform::MessageBoxes& boxes();

  // Window thread.
  std::vector<platform::Variant> values_;  // index DISPID - 1
  bool modified_ = false;
  bool window_created_ = false;
  std::array<PaneSettings, kPaneCount> panes_;
  ViewSettings view_;
  int layout_passes_ = 0;
  int position_x_ = 0, position_y_ = 0;
  platform::SettingsStore settings_;
  std::optional<std::string> page_url_;
  std::function<std::string()> key_prompt_;
  std::function<void()> about_prompt_;
  std::unique_ptr<platform::MessageBoxes> own_boxes_;
  platform::MessageBoxes* boxes_ = nullptr;
  QWidget* viewer_widget_ = nullptr;  // stands for the session window; owned by this widget

  std::unique_ptr<ViewerWindow> viewer_;
  // Decoding, snapshots and recorders of the panes; attached to viewer_'s panes.
  std::unique_ptr<LiveDecoding> decoding_ = std::make_unique<LiveDecoding>();
  std::unique_ptr<CameraSequencer> sequencer_;

  // The JPEG key and the hand-over of key requests from other threads.
  mutable std::mutex key_mutex_;
  std::condition_variable key_answered_;
  std::string jpeg_key_;                 // under key_mutex_
  std::uint64_t key_requests_ = 0;       // under key_mutex_: requests made
  int key_waiting_ = 0;                  // under key_mutex_: callers waiting
  std::uint64_t key_answers_ = 0;        // under key_mutex_: requests answered
  bool key_requests_cancelled_ = false;  // under key_mutex_: while the session stops
  std::uint64_t key_cancellations_ = 0;  // under key_mutex_: stops that cancelled requests
};

// Registers the control class (class id, ProgID, a factory making a parentless CVidletCtrl).
// Needs a QApplication when a control is created.
[[nodiscard]] int registerVidletControl(platform::ControlRegistry& registry);
int unregisterVidletControl(platform::ControlRegistry& registry);

}  // namespace kv4r::viewer
