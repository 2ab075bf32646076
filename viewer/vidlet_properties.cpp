#include "viewer/vidlet_properties.h"

#include <cstdio>

#include "platform/dispatch.h"

namespace kv4r::viewer {

using platform::Variant;
using platform::VarType;

namespace {

// One per-camera row: the first DISPID (camera 1), the name with %d for the camera number, type,
// start value and kind. Rows are in DISPID order; cameras 5 and 6 follow the same order.
struct CameraRow {
  int first_dispid;
  const char* pattern;
  VarType type;
  Variant start;
  PropKind kind;
};

std::vector<CameraRow> cameraRows() {
  const Variant arial = Variant::fromString("Arial");
  const Variant no_box = Variant::fromI4(-1);
  const Variant size18 = Variant::fromI4(18);
  const Variant x5 = Variant::fromI4(5);
  const Variant no = Variant::fromBool(false);
  const Variant yes = Variant::fromBool(true);
  return {
      {1, "dMagnify%d", VarType::R8, Variant::fromR8(1.0), PropKind::Magnify},
      {5, "bEnableCam%d", VarType::Bool, yes, PropKind::EnableCam},
      {9, "bStretch%d", VarType::Bool, no, PropKind::Stretch},
      {18, "bDraw%d", VarType::Bool, yes, PropKind::Draw},
      {24, "strRec%d", VarType::String, Variant::fromString("REC"), PropKind::RecText},
      {28, "iRec%dFontColor", VarType::I4, Variant::fromI4(0xAABBCC), PropKind::RecFontColor},
      {32, "iRec%dBgColor", VarType::I4, no_box, PropKind::RecBgColor},
      {36, "strRec%dFontType", VarType::String, arial, PropKind::RecFontType},
      {40, "iRec%dFontSize", VarType::I4, size18, PropKind::RecFontSize},
      {44, "iRec%dposX", VarType::I4, x5, PropKind::RecPosX},
      {48, "iRec%dposY", VarType::I4, Variant::fromI4(25), PropKind::RecPosY},
      {59, "bRec%d", VarType::Bool, no, PropKind::RecOn},
      {63, "bTxt%d", VarType::Bool, no, PropKind::TxtOn},
      {67, "strTxt%d", VarType::String, Variant::fromString(""), PropKind::TxtText},
      {71, "iTxt%dFontColor", VarType::I4, Variant::fromI4(0x11CC33), PropKind::TxtFontColor},
      {75, "iTxt%dBgColor", VarType::I4, no_box, PropKind::TxtBgColor},
      {79, "strTxt%dFontType", VarType::String, arial, PropKind::TxtFontType},
      {83, "iTxt%dFontSize", VarType::I4, size18, PropKind::TxtFontSize},
      {87, "iTxt%dposX", VarType::I4, x5, PropKind::TxtPosX},
      {91, "bFps%d", VarType::Bool, no, PropKind::FpsOn},
      {95, "iFps%dFontColor", VarType::I4, Variant::fromI4(0x4411CC), PropKind::FpsFontColor},
      {99, "iFps%dBgColor", VarType::I4, no_box, PropKind::FpsBgColor},
      {103, "strFps%dFontType", VarType::String, arial, PropKind::FpsFontType},
      {107, "iFps%dFontSize", VarType::I4, size18, PropKind::FpsFontSize},
      {111, "iFps%dposX", VarType::I4, x5, PropKind::FpsPosX},
      {115, "iFps%dposY", VarType::I4, Variant::fromI4(-45), PropKind::FpsPosY},
      {119, "bTime%d", VarType::Bool, no, PropKind::TimeOn},
      {123, "iTime%dFontColor", VarType::I4, Variant::fromI4(0xDD5522), PropKind::TimeFontColor},
      {127, "iTime%dBgColor", VarType::I4, no_box, PropKind::TimeBgColor},
      {131, "strTime%dFontType", VarType::String, arial, PropKind::TimeFontType},
      {135, "iTime%dFontSize", VarType::I4, size18, PropKind::TimeFontSize},
      {139, "iTime%dposX", VarType::I4, x5, PropKind::TimePosX},
      {143, "iTime%dposY", VarType::I4, x5, PropKind::TimePosY},
      {147, "iTxt%dposY", VarType::I4, Variant::fromI4(-25), PropKind::TxtPosY},
      {152, "bBestFit%d", VarType::Bool, yes, PropKind::BestFit},
  };
}

std::string cameraName(const char* pattern, int camera) {
  char name[64];
  std::snprintf(name, sizeof name, pattern, camera);
  return name;
}

// The zero value of a type: the start of properties that are only stored.
Variant zeroOf(VarType type) {
  Variant out;
  (void)platform::convertVariant(Variant(), type, out);
  return out;
}

std::array<PropertyInfo, kPropertyCount> buildProperties() {
  std::array<PropertyInfo, kPropertyCount> table{};
  auto put = [&](int dispid, std::string name, VarType type, Variant start, bool persisted,
                 PropKind kind, int camera) {
    PropertyInfo& p = table[static_cast<std::size_t>(dispid - 1)];
    p.dispid = dispid;
    p.name = std::move(name);
    p.type = type;
    p.default_value = std::move(start);
    p.persisted = persisted;
    p.kind = kind;
    p.camera = camera;
  };
  const Variant no = Variant::fromBool(false);
  const Variant yes = Variant::fromBool(true);
  const Variant zero = Variant::fromI4(0);
  const Variant empty_text = Variant::fromString("");

  put(13, "strIpAddr", VarType::String, empty_text, true, PropKind::IpAddr, 0);
  put(14, "iHttpPort", VarType::I4, Variant::fromI4(80), true, PropKind::HttpPort, 0);
  put(15, "strUserID", VarType::String, empty_text, true, PropKind::UserId, 0);
  put(16, "strUserPWD", VarType::String, empty_text, true, PropKind::UserPwd, 0);
  put(17, "iSvrID", VarType::I4, zero, true, PropKind::SvrId, 0);
  put(22, "bSingle", VarType::Bool, no, true, PropKind::Single, 0);
  put(23, "iPauseTime", VarType::I4, zero, true, PropKind::PauseTime, 0);
  put(52, "bRelativeOSD", VarType::Bool, yes, true, PropKind::RelativeOsd, 0);
  put(53, "bBorderTop", VarType::Bool, no, true, PropKind::BorderTop, 0);
  put(54, "bBorderBottom", VarType::Bool, no, true, PropKind::BorderBottom, 0);
  put(55, "bBorderTime", VarType::Bool, yes, true, PropKind::BorderTime, 0);
  put(56, "bBorderTxt", VarType::Bool, yes, true, PropKind::BorderTxt, 0);
  put(57, "bBorderFps", VarType::Bool, yes, true, PropKind::BorderFps, 0);
  put(58, "bBorderRec", VarType::Bool, yes, true, PropKind::BorderRec, 0);
  put(151, "bSequentialOn", VarType::Bool, no, true, PropKind::SequentialOn, 0);
  put(156, "iBorderStyle", VarType::I4, Variant::fromI4(1), true, PropKind::BorderStyle, 0);
  put(157, "iBgColor", VarType::I4, zero, true, PropKind::BgColor, 0);
  put(158, "iTargetImgWidth", VarType::I4, zero, true, PropKind::TargetImgWidth, 0);
  put(159, "iTargetImgHeight", VarType::I4, zero, true, PropKind::TargetImgHeight, 0);
  put(160, "strIpAddrProxy", VarType::String, empty_text, false, PropKind::IpAddrProxy, 0);
  put(161, "iHttpPortProxy", VarType::I4, zero, false, PropKind::HttpPortProxy, 0);

  const std::vector<CameraRow> rows = cameraRows();
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const CameraRow& row = rows[r];
    for (int camera = 1; camera <= 4; ++camera) {
      put(row.first_dispid + camera - 1, cameraName(row.pattern, camera), row.type, row.start, true,
          row.kind, camera);
    }
    // Cameras 5 and 6 are only stored; their background colour of the frame rate is a truth
    // value in the interface.
    const VarType stored_type = row.kind == PropKind::FpsBgColor ? VarType::Bool : row.type;
    for (int camera = 5; camera <= 6; ++camera) {
      put(162 + 2 * static_cast<int>(r) + camera - 5, cameraName(row.pattern, camera), stored_type,
          zeroOf(stored_type), false, row.kind, camera);
    }
  }

  struct ReservedRow {
    int first_dispid;
    const char* pattern;
    VarType type;
  };
  for (const ReservedRow& row : {ReservedRow{232, "bReserved%d", VarType::Bool},
                                 ReservedRow{237, "iReserved%d", VarType::I4},
                                 ReservedRow{242, "strReserved%d", VarType::String},
                                 ReservedRow{247, "dReserved%d", VarType::R8},
                                 ReservedRow{252, "fReserved%d", VarType::R4}}) {
    for (int i = 1; i <= 5; ++i) {
      put(row.first_dispid + i - 1, cameraName(row.pattern, i), row.type, zeroOf(row.type), false,
          PropKind::Reserved, 0);
    }
  }
  return table;
}

std::vector<int> buildPersistenceOrder() {
  std::vector<int> order;
  auto control = [&](PropKind kind) { order.push_back(propertyDispid(kind)); };
  auto cameras = [&](PropKind kind) {
    for (int camera = 1; camera <= 4; ++camera) order.push_back(propertyDispid(kind, camera));
  };
  for (PropKind k : {PropKind::SvrId, PropKind::IpAddr, PropKind::HttpPort, PropKind::UserId,
                     PropKind::UserPwd, PropKind::PauseTime}) {
    control(k);
  }
  for (PropKind k : {PropKind::EnableCam, PropKind::Stretch, PropKind::Magnify, PropKind::BestFit,
                     PropKind::Draw}) {
    cameras(k);
  }
  for (PropKind k :
       {PropKind::Single, PropKind::BorderStyle, PropKind::BgColor, PropKind::BorderTop,
        PropKind::BorderBottom, PropKind::BorderTime, PropKind::BorderTxt, PropKind::BorderFps,
        PropKind::BorderRec, PropKind::RelativeOsd, PropKind::SequentialOn,
        PropKind::TargetImgWidth, PropKind::TargetImgHeight}) {
    control(k);
  }
  for (PropKind k : {PropKind::TimeOn,       PropKind::TimeFontColor, PropKind::TimeBgColor,
                     PropKind::TimeFontType, PropKind::TimeFontSize,  PropKind::TimePosX,
                     PropKind::TimePosY,     PropKind::RecOn,         PropKind::RecText,
                     PropKind::RecFontColor, PropKind::RecBgColor,    PropKind::RecFontType,
                     PropKind::RecFontSize,  PropKind::RecPosX,       PropKind::RecPosY,
                     PropKind::TxtOn,        PropKind::TxtText,       PropKind::TxtFontColor,
                     PropKind::TxtBgColor,   PropKind::TxtFontType,   PropKind::TxtFontSize,
                     PropKind::TxtPosX,      PropKind::TxtPosY,       PropKind::FpsOn,
                     PropKind::FpsFontColor, PropKind::FpsBgColor,    PropKind::FpsFontType,
                     PropKind::FpsFontSize,  PropKind::FpsPosX,       PropKind::FpsPosY}) {
    cameras(k);
  }
  return order;
}

}  // namespace

const std::array<PropertyInfo, kPropertyCount>& vidletProperties() {
  static const std::array<PropertyInfo, kPropertyCount> table = buildProperties();
  return table;
}

const PropertyInfo* findProperty(int dispid) {
  if (dispid < 1 || dispid > kPropertyCount) return nullptr;
  return &vidletProperties()[static_cast<std::size_t>(dispid - 1)];
}

int propertyDispid(PropKind kind, int camera) {
  for (const PropertyInfo& p : vidletProperties()) {
    if (p.kind == kind && p.camera == camera) return p.dispid;
  }
  return 0;
}

const std::vector<int>& persistenceOrder() {
  static const std::vector<int> order = buildPersistenceOrder();
  return order;
}

const std::vector<MethodInfo>& vidletMethods() {
  static const std::vector<MethodInfo> methods = {
      {kDispidGetJpg, "GetJpg", VarType::Bool, {VarType::Empty, VarType::Empty, VarType::I2}},
      {kDispidGetBmp, "GetBmp", VarType::Bool, {VarType::Empty, VarType::Empty, VarType::I2}},
      {kDispidRecMovieVrx, "RecMovieVrx", VarType::I4, {VarType::I2, VarType::String}},
      {kDispidRecMovieAvi, "RecMovieAvi", VarType::I4, {VarType::I2, VarType::String}},
      {kDispidSaveJpg, "SaveJpg", VarType::Bool, {VarType::I2, VarType::String}},
      {kDispidSaveBmp, "SaveBmp", VarType::Bool, {VarType::I2, VarType::String}},
      {kDispidGetMacAddr, "GetMacAddr", VarType::String, {}},
      {kDispidGetVersion, "GetVersion", VarType::I4, {}},
      {platform::kDispidAboutBox, "AboutBox", VarType::Empty, {}},
  };
  return methods;
}

const MethodInfo* findMethod(int dispid) {
  for (const MethodInfo& m : vidletMethods()) {
    if (m.dispid == dispid) return &m;
  }
  return nullptr;
}

int vidletDispidOfName(std::string_view name) {
  for (const PropertyInfo& p : vidletProperties()) {
    if (platform::memberNamesEqual(p.name, name)) return p.dispid;
  }
  for (const MethodInfo& m : vidletMethods()) {
    if (platform::memberNamesEqual(m.name, name)) return m.dispid;
  }
  return platform::kDispUnknownName;
}

}  // namespace kv4r::viewer
