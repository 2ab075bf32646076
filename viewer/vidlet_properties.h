// The live-view control's automation members: 256 properties and nine methods, each with its
// DISPID, name and type, and for properties their start value, whether the stored property set
// holds them, and what they stand for (so that the change rules can tell them apart).
// The tables are built once and never change; any thread may read them.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "platform/variant.h"

namespace kv4r::viewer {

inline constexpr int kPropertyCount = 256;
inline constexpr int kFirstMethodDispid = 257;

// What a property stands for. Per-camera kinds come with the camera number in PropertyInfo.
enum class PropKind : int {
  // Control-wide properties.
  IpAddr = 1,
  HttpPort,
  UserId,
  UserPwd,
  SvrId,
  Single,
  PauseTime,
  RelativeOsd,
  BorderTop,
  BorderBottom,
  BorderTime,
  BorderTxt,
  BorderFps,
  BorderRec,
  SequentialOn,
  BorderStyle,
  BgColor,
  TargetImgWidth,
  TargetImgHeight,
  IpAddrProxy,
  HttpPortProxy,
  // Per-camera properties, in the order of their first DISPIDs.
  Magnify,
  EnableCam,
  Stretch,
  Draw,
  RecText,
  RecFontColor,
  RecBgColor,
  RecFontType,
  RecFontSize,
  RecPosX,
  RecPosY,
  RecOn,
  TxtOn,
  TxtText,
  TxtFontColor,
  TxtBgColor,
  TxtFontType,
  TxtFontSize,
  TxtPosX,
  FpsOn,
  FpsFontColor,
  FpsBgColor,
  FpsFontType,
  FpsFontSize,
  FpsPosX,
  FpsPosY,
  TimeOn,
  TimeFontColor,
  TimeBgColor,
  TimeFontType,
  TimeFontSize,
  TimePosX,
  TimePosY,
  TxtPosY,
  BestFit,
  // bReserved1..5, iReserved1..5, strReserved1..5, dReserved1..5, fReserved1..5.
  Reserved,
};

struct PropertyInfo {
  int dispid = 0;
  std::string name;
  platform::VarType type = platform::VarType::Empty;
  platform::Variant default_value;  // start value and value of a property missing from a bag
  bool persisted = false;
  PropKind kind = PropKind::Reserved;
  int camera = 0;  // 1..6 for per-camera properties, 0 otherwise
};

// All properties, index DISPID − 1.
[[nodiscard]] const std::array<PropertyInfo, kPropertyCount>& vidletProperties();
// The property with a DISPID, or null.
[[nodiscard]] const PropertyInfo* findProperty(int dispid);
// The DISPID of a property of a given kind and camera (1..4 for the panes), or 0.
[[nodiscard]] int propertyDispid(PropKind kind, int camera = 0);
// The persisted properties' DISPIDs in the order the stored property set holds them.
[[nodiscard]] const std::vector<int>& persistenceOrder();

// A method argument or result type; Empty stands for VARIANT (any value, passed by reference).
struct MethodInfo {
  int dispid = 0;
  std::string name;
  platform::VarType result = platform::VarType::Empty;  // Empty: no result
  std::vector<platform::VarType> params;
};

[[nodiscard]] const std::vector<MethodInfo>& vidletMethods();
[[nodiscard]] const MethodInfo* findMethod(int dispid);

// The DISPIDs of the methods.
enum : int {
  kDispidGetJpg = 257,
  kDispidGetBmp = 258,
  kDispidRecMovieVrx = 259,
  kDispidRecMovieAvi = 260,
  kDispidSaveJpg = 261,
  kDispidSaveBmp = 262,
  kDispidGetMacAddr = 263,
  kDispidGetVersion = 264,
};

// The DISPID of a property or method by name (without regard to case), or
// platform::kDispUnknownName.
[[nodiscard]] int vidletDispidOfName(std::string_view name);

}  // namespace kv4r::viewer
