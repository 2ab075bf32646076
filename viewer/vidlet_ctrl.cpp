#include "viewer/vidlet_ctrl.h"

#include <QMetaObject>
#include <QResizeEvent>
#include <QThread>
#include <algorithm>

#include "stream/fallback_host.h"
#include "stream/server_address.h"
#include "stream/stream_codes.h"
#include "viewer/about_box.h"
#include "viewer/decode_methods.h"
#include "viewer/key_dialog.h"
#include "viewer/qt_message_boxes.h"

namespace kv4r::viewer {

using platform::DispatchResult;
using platform::Variant;
using platform::VarType;

BorderStyle borderStyleFor(int value) {
  switch (value) {
    case 2:
      return {true, 0, 2};
    case 3:
      return {false, 2, 4};
    case 4:
      return {false, 1, 2};
    default:
      return {true, 1, 4};
  }
}

CVidletCtrl::CVidletCtrl(QWidget* parent)
    : QWidget(parent), viewer_(std::make_unique<ViewerWindow>()) {
  values_.reserve(kPropertyCount);
  for (const PropertyInfo& p : vidletProperties()) values_.push_back(p.default_value);
  own_boxes_ = std::make_unique<QtMessageBoxes>(this);
  boxes_ = own_boxes_.get();
  viewer_->boxes = boxes_;
  viewer_->request_layout = [this] { requestLayout(); };
  viewer_->post_login_refused = [this] { postLoginRefused(); };
  attachDecoding(*viewer_, *decoding_);
  decoding_->key.request_key = [this](std::string* typed) {
    std::optional<std::string> answer = requestJpegKey();
    if (!answer) return KeyAnswer::kWithdrawn;
    *typed = std::move(*answer);
    return KeyAnswer::kTyped;
  };
  decoding_->answer_window_requests = [this] { answerKeyRequests(); };
  key_prompt_ = [this] { return KeyDialog::ask(this); };
  about_prompt_ = [this] {
    AboutBox box(this);
    box.exec();
  };
  // Posts from other threads go by slot name, so that nothing but Qt's own event touches the
  // hand-over.
  sequencer_ = std::make_unique<CameraSequencer>(*viewer_, [this] {
    QMetaObject::invokeMethod(this, "afterSequencerStep", Qt::QueuedConnection);
  });
}

void CVidletCtrl::afterSequencerStep() {
  view_.single = true;
  relayout();
}

CVidletCtrl::~CVidletCtrl() {
  sequencer_.reset();
  stopSession();
  viewer_.reset();
}

platform::MessageBoxes& CVidletCtrl::boxes() {
  return *boxes_;
}

void CVidletCtrl::setMessageBoxes(platform::MessageBoxes* boxes) {
  boxes_ = boxes != nullptr ? boxes : own_boxes_.get();
  viewer_->boxes = boxes_;
}

// --- Property values ---

bool CVidletCtrl::boolOf(PropKind kind, int camera) const {
  return value(propertyDispid(kind, camera)).boolValue();
}
int CVidletCtrl::intOf(PropKind kind, int camera) const {
  return value(propertyDispid(kind, camera)).i4Value();
}
std::string CVidletCtrl::textOf(PropKind kind, int camera) const {
  return value(propertyDispid(kind, camera)).stringValue();
}
void CVidletCtrl::store(PropKind kind, int camera, const Variant& v) {
  values_[propertyDispid(kind, camera) - 1] = v;
}

ControlConnection CVidletCtrl::connectionFromProperties() const {
  ControlConnection c;
  c.ip_addr = textOf(PropKind::IpAddr);
  c.http_port = intOf(PropKind::HttpPort);
  c.user_id = textOf(PropKind::UserId);
  c.user_pwd = textOf(PropKind::UserPwd);
  c.svr_id = intOf(PropKind::SvrId);
  c.pause_time = intOf(PropKind::PauseTime);
  c.modified = false;
  return c;
}

void CVidletCtrl::connectionToProperties(const ControlConnection& c) {
  store(PropKind::IpAddr, 0, Variant::fromString(c.ip_addr));
  store(PropKind::HttpPort, 0, Variant::fromI4(c.http_port));
  store(PropKind::UserId, 0, Variant::fromString(c.user_id));
  store(PropKind::UserPwd, 0, Variant::fromString(c.user_pwd));
  store(PropKind::PauseTime, 0, Variant::fromI4(c.pause_time));
  if (c.modified) modified_ = true;
}

// --- Dispatch ---

int CVidletCtrl::getIdsOfNames(std::string_view name) const {
  return vidletDispidOfName(name);
}

DispatchResult CVidletCtrl::getProperty(int dispid) {
  if (findProperty(dispid) == nullptr) {
    return DispatchResult::failure(findMethod(dispid) ? platform::kDispNotAProperty
                                                      : platform::kDispMemberNotFound);
  }
  return DispatchResult::success(value(dispid));
}

DispatchResult CVidletCtrl::putProperty(int dispid, const Variant& v) {
  const PropertyInfo* info = findProperty(dispid);
  if (info == nullptr) {
    return DispatchResult::failure(findMethod(dispid) ? platform::kDispNotAProperty
                                                      : platform::kDispMemberNotFound);
  }
  Variant converted;
  if (platform::convertVariant(v, info->type, converted) != platform::kVariantOk) {
    return DispatchResult::failure(
        platform::kDispTypeMismatch,
        "type mismatch: " + info->name + " takes " + platform::varTypeName(info->type));
  }
  values_[dispid - 1] = converted;
  if (!window_created_) {
    // Nothing to apply to yet; creation takes the stored values.
    modified_ = true;
  } else {
    applyRule(*info);
  }
  return DispatchResult::success();
}

DispatchResult CVidletCtrl::invoke(int dispid, std::vector<Variant>& args) {
  const MethodInfo* method = findMethod(dispid);
  if (method == nullptr) {
    return DispatchResult::failure(findProperty(dispid) ? platform::kDispNotAMethod
                                                        : platform::kDispMemberNotFound);
  }
  if (args.size() != method->params.size()) {
    return DispatchResult::failure(
        platform::kDispBadParamCount,
        method->name + " takes " + std::to_string(method->params.size()) + " arguments");
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (method->params[i] == VarType::Empty) continue;  // by-reference VARIANT
    Variant converted;
    if (platform::convertVariant(args[i], method->params[i], converted) != platform::kVariantOk) {
      return DispatchResult::failure(platform::kDispTypeMismatch,
                                     method->name + ": argument " + std::to_string(i + 1) +
                                         " is not " + platform::varTypeName(method->params[i]));
    }
    args[i] = converted;
  }
  // Snapshots, recording, serial number and version belong to the decoding layer.
  if (isDecodeMethod(dispid)) return invokeDecodeMethod(*viewer_, *decoding_, dispid, args);
  switch (dispid) {
    case platform::kDispidAboutBox:
      if (about_prompt_) about_prompt_();
      return DispatchResult::success();
    default:
      break;
  }
  return DispatchResult::failure(platform::kDispMemberNotFound);
}

// --- Stored property set ---

void CVidletCtrl::loadProperties(const platform::PropertyBag& bag) {
  for (const int dispid : persistenceOrder()) {
    const PropertyInfo& info = *findProperty(dispid);
    const std::optional<Variant> stored = bag.read(info.name, info.type);
    values_[dispid - 1] = stored ? *stored : info.default_value;
  }
}

platform::PropertyBag CVidletCtrl::saveProperties() const {
  platform::PropertyBag bag;
  for (const int dispid : persistenceOrder()) bag.write(findProperty(dispid)->name, value(dispid));
  return bag;
}

// --- Window creation ---

bool CVidletCtrl::createControlWindow() {
  if (window_created_) return true;
  // 1. The window exists from here on (the widget itself).
  window_created_ = true;

  // 2. The session window object exists since construction; its panes come with it.

  // 3. The server address, with the fallback of a control that sits in a page.
  if (page_url_) {
    std::string fallback;
    if (stream::findServerHost(settings_, *page_url_, fallback) == 1) {
      const std::string current = textOf(PropKind::IpAddr);
      const bool own = !current.empty();
      std::string host, user, password;
      int port = stream::kDefaultHttpPort;
      if (stream::parseServerAddress(stream::cleanServerAddress(own ? current : fallback), host,
                                     port, &user, &password) != 0) {
        store(PropKind::IpAddr, 0, Variant::fromString(""));
        if (own) boxes().show("Bad URL format");
      } else {
        store(PropKind::IpAddr, 0, Variant::fromString(host));
        store(PropKind::HttpPort, 0, Variant::fromI4(port));
        if (!user.empty()) store(PropKind::UserId, 0, Variant::fromString(user));
        if (!password.empty()) store(PropKind::UserPwd, 0, Variant::fromString(password));
      }
    }
  }

  // 4. Connection settings.
  ViewerWindow& w = *viewer_;
  w.host = textOf(PropKind::IpAddr);
  w.port = intOf(PropKind::HttpPort);
  w.user = textOf(PropKind::UserId);
  w.password = textOf(PropKind::UserPwd);
  w.server_number = intOf(PropKind::SvrId);
  w.pause_time = std::clamp(intOf(PropKind::PauseTime), 0, stream::kMaxPauseTime);
  view_.target_width = intOf(PropKind::TargetImgWidth);
  view_.target_height = intOf(PropKind::TargetImgHeight);

  // 5. Pane settings (truth values are 0 or 1 already).
  for (int camera = 1; camera <= kPaneCount; ++camera) {
    w.panes[camera - 1].enabled.store(boolOf(PropKind::EnableCam, camera));
    w.panes[camera - 1].draw.store(boolOf(PropKind::Draw, camera));
    for (const PropertyInfo& p : vidletProperties()) {
      if (p.camera == camera) copyPaneSetting(p.kind, camera);
    }
  }
  for (PropKind kind : {PropKind::RelativeOsd, PropKind::BorderTime, PropKind::BorderTxt,
                        PropKind::BorderFps, PropKind::BorderRec}) {
    copyPaneSetting(kind, 0);
  }
  applyBands();

  // 6. One-pane mode.
  applySingle();

  // 7. Frame style and background for the panes' creation.
  view_.border = borderStyleFor(intOf(PropKind::BorderStyle));
  for (PaneSettings& pane : panes_) {
    pane.inset_px = view_.border.inset_px;
    pane.margin_px = 2 * view_.border.inset_px;
    pane.window_border = view_.border.pane_border;
  }
  applyBgColor();

  // 8. The session window at the control's place; its creation connects.
  position_x_ = std::max(0, x());
  position_y_ = std::max(0, y());
  if (x() < 0 || y() < 0) position_x_ = position_y_ = 0;
  viewer_widget_ = new QWidget(this);
  viewer_widget_->setGeometry(0, 0, width(), height());
  viewer_widget_->show();
  (void)connectAtCreation(w);

  // 9. Sequencer, then one-pane mode once more.
  applySequential();
  applySingle();
  modified_ = false;
  return true;
}

void CVidletCtrl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (viewer_widget_ != nullptr) {
    viewer_widget_->setGeometry(0, 0, event->size().width(), event->size().height());
    relayout();
  }
}

// --- Change rules ---

void CVidletCtrl::applyRule(const PropertyInfo& info) {
  switch (info.kind) {
    case PropKind::IpAddr:
      applyIpAddr();
      return;
    case PropKind::Draw:
      if (info.camera <= kPaneCount) {
        applyDraw(info.camera);
        return;
      }
      break;
    case PropKind::Single:
      applySingle();
      return;
    case PropKind::SequentialOn:
      applySequential();
      return;
    case PropKind::PauseTime: {
      ControlConnection c = connectionFromProperties();
      (void)changePauseTime(*viewer_, c, intOf(PropKind::PauseTime));
      connectionToProperties(c);
      modified_ = true;
      return;
    }
    case PropKind::BorderStyle:
      applyBorderStyle();
      return;
    case PropKind::BgColor:
      applyBgColor();
      modified_ = true;
      return;
    case PropKind::HttpPort:
    case PropKind::UserId:
    case PropKind::UserPwd:
    case PropKind::SvrId:
      if (viewer_->connected.load() != 0) return;  // kept for the next connection, not applied
      applyConnectionSettings(*viewer_, connectionFromProperties());
      modified_ = true;
      return;
    case PropKind::EnableCam:
      if (info.camera <= kPaneCount && viewer_->connected.load() == 0) {
        viewer_->panes[info.camera - 1].enabled.store(boolOf(PropKind::EnableCam, info.camera));
      }
      break;
    case PropKind::Magnify:
    case PropKind::Stretch:
      if (info.camera <= kPaneCount) {
        copyPaneSetting(info.kind, info.camera);
        relayout();
      }
      break;
    case PropKind::BorderTop:
    case PropKind::BorderBottom:
      applyBands();
      break;
    case PropKind::TargetImgWidth:
      view_.target_width = intOf(info.kind);
      break;
    case PropKind::TargetImgHeight:
      view_.target_height = intOf(info.kind);
      break;
    case PropKind::IpAddrProxy:
    case PropKind::HttpPortProxy:
    case PropKind::Reserved:
      break;
    default:
      if (info.camera <= kPaneCount) copyPaneSetting(info.kind, info.camera);
      break;
  }
  modified_ = true;
}

void CVidletCtrl::applyIpAddr() {
  ControlConnection c = connectionFromProperties();
  const bool was_connected = viewer_->connected.load() != 0;
  const std::string wanted = c.ip_addr;
  if (!was_connected && wanted.empty()) {
    modified_ = true;
    return;
  }
  if (was_connected && wanted.empty()) {
    stopSession();
    connectionToProperties(c);
    relayout();
    modified_ = true;
    return;
  }
  if (was_connected) {
    modified_ = true;  // stored; the running connection keeps its address
    return;
  }
  // The panes take the host's choice again: an earlier, smaller server switched off the cameras
  // it lacked, which this one may have (it switches off those it lacks itself).
  for (int camera = 1; camera <= kPaneCount; ++camera) {
    viewer_->panes[camera - 1].enabled.store(boolOf(PropKind::EnableCam, camera));
  }
  (void)setIpAddress(*viewer_, c, wanted);
  connectionToProperties(c);
}

void CVidletCtrl::applyDraw(int camera) {
  if (sequencer_->running()) return;
  viewer_->panes[camera - 1].draw.store(boolOf(PropKind::Draw, camera));
  viewer_->key_refused.store(false);
  (void)recountDrawn();
  modified_ = true;
}

int CVidletCtrl::recountDrawn() {
  const int n = std::clamp(viewer_->info.camera_count, 0, kPaneCount);
  int drawn = 0;
  for (int i = 0; i < n; ++i) drawn += viewer_->panes[i].draw.load() ? 1 : 0;
  viewer_->drawn_count = drawn;
  return drawn;
}

void CVidletCtrl::applySingle() {
  if (sequencer_->running()) return;
  bool single = boolOf(PropKind::Single);
  view_.single = single;
  const int drawn = recountDrawn();
  const int n = std::clamp(viewer_->info.camera_count, 0, kPaneCount);
  if (single && drawn > 1) {
    bool kept = false;
    for (int i = 0; i < n; ++i) {
      CameraPane& pane = viewer_->panes[i];
      if (!pane.draw.load()) continue;
      if (kept) pane.draw.store(false);
      kept = true;
    }
  } else if (!single && drawn == 1) {
    // One drawn pane always means one-pane mode.
    store(PropKind::Single, 0, Variant::fromBool(true));
    view_.single = true;
  }
  (void)recountDrawn();
  relayout();
  modified_ = true;
}

void CVidletCtrl::applySequential() {
  const std::uint32_t mask = static_cast<std::uint32_t>(viewer_->rights[kViewRights]);
  if (viewer_->connected.load() == 0 || (mask & 0x3Fu) == 0) return;
  const bool on = boolOf(PropKind::SequentialOn);
  view_.sequencer_on = on;
  if (on) {
    sequencer_->start(viewer_->info.camera_count, mask);
  } else {
    sequencer_->stop();
  }
  modified_ = true;
}

void CVidletCtrl::applyBorderStyle() {
  if (viewer_->connected.load() != 0) {
    boxes().show("You should set this property \n\nbefore window is created.");
    return;
  }
  view_.border = borderStyleFor(intOf(PropKind::BorderStyle));
  for (PaneSettings& pane : panes_) {
    pane.inset_px = view_.border.inset_px;
    pane.margin_px = 2 * view_.border.inset_px;
    // Existing pane windows lose their border for 3 and 4; 1 and 2 add none to them.
    if (!view_.border.pane_border) pane.window_border = false;
  }
  modified_ = true;
}

void CVidletCtrl::applyBgColor() {
  int index = intOf(PropKind::BgColor);
  if (index < 0 || index > 4) {
    index = 0;
    store(PropKind::BgColor, 0, Variant::fromI4(0));
  }
  view_.brush_index = index;
  if (viewer_widget_ != nullptr) {
    static constexpr QRgb kBrushes[] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0x000000};
    QPalette palette = viewer_widget_->palette();
    palette.setColor(QPalette::Window, QColor(kBrushes[index]));
    viewer_widget_->setPalette(palette);
    viewer_widget_->setAutoFillBackground(true);
  }
}

void CVidletCtrl::applyBands() {
  const int top = boolOf(PropKind::BorderTop) ? kBandHeight_px : 0;
  const int bottom = boolOf(PropKind::BorderBottom) ? kBandHeight_px : 0;
  view_.band_top_px = top;
  view_.band_bottom_px = bottom;
  for (PaneSettings& pane : panes_) {
    pane.band_top_px = top;
    pane.band_bottom_px = bottom;
  }
}

void CVidletCtrl::copyPaneSetting(PropKind kind, int camera) {
  if (camera == 0) {
    for (PaneSettings& p : panes_) {
      switch (kind) {
        case PropKind::RelativeOsd:
          p.relative_osd = boolOf(kind);
          break;
        case PropKind::BorderTime:
          p.border_time = boolOf(kind);
          break;
        case PropKind::BorderTxt:
          p.border_txt = boolOf(kind);
          break;
        case PropKind::BorderFps:
          p.border_fps = boolOf(kind);
          break;
        case PropKind::BorderRec:
          p.border_rec = boolOf(kind);
          break;
        default:
          break;
      }
    }
    return;
  }
  if (camera < 1 || camera > kPaneCount) return;
  PaneSettings& p = panes_[camera - 1];
  const Variant& v = value(propertyDispid(kind, camera));
  switch (kind) {
    case PropKind::Magnify:
      p.zoom = v.r8Value();
      break;
    case PropKind::Stretch:
      p.stretch = v.boolValue();
      break;
    case PropKind::BestFit:
      p.best_fit = v.boolValue();
      break;
    case PropKind::RecOn:
      p.rec.on = v.boolValue();
      break;
    case PropKind::RecText:
      p.rec.text = v.stringValue();
      break;
    case PropKind::RecFontColor:
      p.rec.font_color = v.i4Value();
      break;
    case PropKind::RecBgColor:
      p.rec.bg_color = v.i4Value();
      break;
    case PropKind::RecFontType:
      p.rec.font_type = v.stringValue();
      break;
    case PropKind::RecFontSize:
      p.rec.font_size = v.i4Value();
      break;
    case PropKind::RecPosX:
      p.rec.pos_x = v.i4Value();
      break;
    case PropKind::RecPosY:
      p.rec.pos_y = v.i4Value();
      break;
    case PropKind::TxtOn:
      p.txt.on = v.boolValue();
      break;
    case PropKind::TxtText:
      p.txt.text = v.stringValue();
      break;
    case PropKind::TxtFontColor:
      p.txt.font_color = v.i4Value();
      break;
    case PropKind::TxtBgColor:
      p.txt.bg_color = v.i4Value();
      break;
    case PropKind::TxtFontType:
      p.txt.font_type = v.stringValue();
      break;
    case PropKind::TxtFontSize:
      p.txt.font_size = v.i4Value();
      break;
    case PropKind::TxtPosX:
      p.txt.pos_x = v.i4Value();
      break;
    case PropKind::TxtPosY:
      p.txt.pos_y = v.i4Value();
      break;
    case PropKind::FpsOn:
      p.fps.on = v.boolValue();
      break;
    case PropKind::FpsFontColor:
      p.fps.font_color = v.i4Value();
      break;
    case PropKind::FpsBgColor:
      p.fps.bg_color = v.i4Value();
      break;
    case PropKind::FpsFontType:
      p.fps.font_type = v.stringValue();
      break;
    case PropKind::FpsFontSize:
      p.fps.font_size = v.i4Value();
      break;
    case PropKind::FpsPosX:
      p.fps.pos_x = v.i4Value();
      break;
    case PropKind::FpsPosY:
      p.fps.pos_y = v.i4Value();
      break;
    case PropKind::TimeOn:
      p.time.on = v.boolValue();
      break;
    case PropKind::TimeFontColor:
      p.time.font_color = v.i4Value();
      break;
    case PropKind::TimeBgColor:
      p.time.bg_color = v.i4Value();
      break;
    case PropKind::TimeFontType:
      p.time.font_type = v.stringValue();
      break;
    case PropKind::TimeFontSize:
      p.time.font_size = v.i4Value();
      break;
    case PropKind::TimePosX:
      p.time.pos_x = v.i4Value();
      break;
    case PropKind::TimePosY:
      p.time.pos_y = v.i4Value();
      break;
    default:
      break;
  }
}

void CVidletCtrl::relayout() {
  // The layout pass itself arrives with the pane layout; count the requests meanwhile.
  ++layout_passes_;
}

void CVidletCtrl::requestLayout() {
  QMetaObject::invokeMethod(this, "layoutRequested", Qt::QueuedConnection);
}

void CVidletCtrl::layoutRequested() {
  relayout();
}

// --- Session stop and the stream session's requests ---

void CVidletCtrl::stopSession() {
  if (!viewer_) return;
  cancelKeyRequests(true);
  if (viewer_->connected.load() != 0 || viewer_->session != nullptr) stopConnection(*viewer_);
  // The stream has ended: recordings still open are finished and renamed now.
  (void)finishAllRecordings(*decoding_);
  cancelKeyRequests(false);
}

void CVidletCtrl::cancelKeyRequests(bool stopping) {
  {
    // A delivering thread that waits for a key must not hold up the stop: every waiting request
    // returns an empty key, and no dialog opens for them any more.
    std::lock_guard lock(key_mutex_);
    key_requests_cancelled_ = stopping;
    if (stopping) {
      ++key_cancellations_;
      key_answers_ = key_requests_;
    }
  }
  key_answered_.notify_all();
}

void CVidletCtrl::postLoginRefused() {
  QMetaObject::invokeMethod(this, "onLoginRefused", Qt::QueuedConnection);
}

void CVidletCtrl::onLoginRefused() {
  if (viewer_->connected.load() != 0) {
    store(PropKind::IpAddr, 0, Variant::fromString(""));
    stopSession();
    relayout();
  }
  boxes().show("Login id & password is incorrect.");
}

std::string CVidletCtrl::askKeyNow() {
  const std::string key = key_prompt_ ? key_prompt_() : std::string();
  std::lock_guard lock(key_mutex_);
  jpeg_key_ = key;
  return key;
}

std::optional<std::string> CVidletCtrl::requestJpegKey() {
  if (QThread::currentThread() == thread()) return askKeyNow();
  std::unique_lock lock(key_mutex_);
  if (key_requests_cancelled_) return std::nullopt;
  const std::uint64_t ticket = ++key_requests_;
  const std::uint64_t cancellations = key_cancellations_;
  lock.unlock();
  QMetaObject::invokeMethod(this, "answerKeyRequests", Qt::QueuedConnection);
  // A snapshot waiting on the window thread would hold up the dialog: it answers the request
  // itself.
  interruptGrabs(*decoding_);
  lock.lock();
  ++key_waiting_;
  key_answered_.wait(lock, [&] { return key_answers_ >= ticket; });
  --key_waiting_;
  if (key_cancellations_ != cancellations) return std::nullopt;
  return jpeg_key_;
}

void CVidletCtrl::answerKeyRequests() {
  std::uint64_t asked = 0;
  {
    std::lock_guard lock(key_mutex_);
    if (key_requests_cancelled_ || key_answers_ >= key_requests_) return;
    asked = key_requests_;
  }
  // One dialog answers every request made before it opened.
  (void)askKeyNow();
  {
    std::lock_guard lock(key_mutex_);
    key_answers_ = std::max(key_answers_, asked);
  }
  key_answered_.notify_all();
}

int CVidletCtrl::waitingKeyRequests() const {
  std::lock_guard lock(key_mutex_);
  return key_waiting_;
}

std::string CVidletCtrl::jpegKey() const {
  std::lock_guard lock(key_mutex_);
  return jpeg_key_;
}

// --- Safe-for-scripting answers ---

namespace {
bool controlHasInterface(std::string_view iid) {
  for (const char* own : {kIidIUnknown, kIidIDispatch, kVidletDispatchId, kIidIObjectSafety,
                          kIidIPersistPropertyBag}) {
    if (platform::memberNamesEqual(iid, own)) return true;
  }
  return false;
}
}  // namespace

HResult CVidletCtrl::getInterfaceSafetyOptions(std::string_view iid, std::uint32_t* supported,
                                               std::uint32_t* enabled) const {
  if (!controlHasInterface(iid)) return kE_NOINTERFACE;
  if (supported != nullptr) *supported = kSafetyOptions;
  if (enabled != nullptr) *enabled = kSafetyOptions;
  return kS_OK;
}

HResult CVidletCtrl::setInterfaceSafetyOptions(std::string_view iid, std::uint32_t option_mask,
                                               std::uint32_t enabled_options) const {
  if (!controlHasInterface(iid)) return kE_NOINTERFACE;
  // The control is always safe: a host may confirm that, but not switch it off.
  if (option_mask < 4 && (option_mask & enabled_options) == option_mask) return kS_OK;
  return kE_FAIL;
}

// --- Registration ---

int registerVidletControl(platform::ControlRegistry& registry) {
  return registry.registerClass({kVidletClassId, kVidletProgId, kVidletClassName,
                                 [] { return std::make_unique<CVidletCtrl>(); }});
}

int unregisterVidletControl(platform::ControlRegistry& registry) {
  return registry.unregisterClass(kVidletClassId);
}

}  // namespace kv4r::viewer
