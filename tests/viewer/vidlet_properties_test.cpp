#include "viewer/vidlet_properties.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "platform/dispatch.h"

namespace kv4r::viewer {
namespace {

using platform::Variant;
using platform::VarType;

// The interface as documented for hosts, one line per row:
//   first-last  name (# = camera or index)  type  default  persisted(P) or stored only(-)
// "?" as default: a stored-only value whose start is 0/FALSE/"".
const char* kInterface = R"(
1-4 dMagnify# R8 1.0 P
5-8 bEnableCam# BOOL 1 P
9-12 bStretch# BOOL 0 P
13 strIpAddr BSTR "" P
14 iHttpPort I4 80 P
15 strUserID BSTR "" P
16 strUserPWD BSTR "" P
17 iSvrID I4 0 P
18-21 bDraw# BOOL 1 P
22 bSingle BOOL 0 P
23 iPauseTime I4 0 P
24-27 strRec# BSTR "REC" P
28-31 iRec#FontColor I4 11189196 P
32-35 iRec#BgColor I4 -1 P
36-39 strRec#FontType BSTR "Arial" P
40-43 iRec#FontSize I4 18 P
44-47 iRec#posX I4 5 P
48-51 iRec#posY I4 25 P
52 bRelativeOSD BOOL 1 P
53 bBorderTop BOOL 0 P
54 bBorderBottom BOOL 0 P
55 bBorderTime BOOL 1 P
56 bBorderTxt BOOL 1 P
57 bBorderFps BOOL 1 P
58 bBorderRec BOOL 1 P
59-62 bRec# BOOL 0 P
63-66 bTxt# BOOL 0 P
67-70 strTxt# BSTR "" P
71-74 iTxt#FontColor I4 1166387 P
75-78 iTxt#BgColor I4 -1 P
79-82 strTxt#FontType BSTR "Arial" P
83-86 iTxt#FontSize I4 18 P
87-90 iTxt#posX I4 5 P
91-94 bFps# BOOL 0 P
95-98 iFps#FontColor I4 4461004 P
99-102 iFps#BgColor I4 -1 P
103-106 strFps#FontType BSTR "Arial" P
107-110 iFps#FontSize I4 18 P
111-114 iFps#posX I4 5 P
115-118 iFps#posY I4 -45 P
119-122 bTime# BOOL 0 P
123-126 iTime#FontColor I4 14505250 P
127-130 iTime#BgColor I4 -1 P
131-134 strTime#FontType BSTR "Arial" P
135-138 iTime#FontSize I4 18 P
139-142 iTime#posX I4 5 P
143-146 iTime#posY I4 5 P
147-150 iTxt#posY I4 -25 P
151 bSequentialOn BOOL 0 P
152-155 bBestFit# BOOL 1 P
156 iBorderStyle I4 1 P
157 iBgColor I4 0 P
158 iTargetImgWidth I4 0 P
159 iTargetImgHeight I4 0 P
160 strIpAddrProxy BSTR ? -
161 iHttpPortProxy I4 ? -
162-163 dMagnify@ R8 ? -
164-165 bEnableCam@ BOOL ? -
166-167 bStretch@ BOOL ? -
168-169 bDraw@ BOOL ? -
170-171 strRec@ BSTR ? -
172-173 iRec@FontColor I4 ? -
174-175 iRec@BgColor I4 ? -
176-177 strRec@FontType BSTR ? -
178-179 iRec@FontSize I4 ? -
180-181 iRec@posX I4 ? -
182-183 iRec@posY I4 ? -
184-185 bRec@ BOOL ? -
186-187 bTxt@ BOOL ? -
188-189 strTxt@ BSTR ? -
190-191 iTxt@FontColor I4 ? -
192-193 iTxt@BgColor I4 ? -
194-195 strTxt@FontType BSTR ? -
196-197 iTxt@FontSize I4 ? -
198-199 iTxt@posX I4 ? -
200-201 bFps@ BOOL ? -
202-203 iFps@FontColor I4 ? -
204-205 iFps@BgColor BOOL ? -
206-207 strFps@FontType BSTR ? -
208-209 iFps@FontSize I4 ? -
210-211 iFps@posX I4 ? -
212-213 iFps@posY I4 ? -
214-215 bTime@ BOOL ? -
216-217 iTime@FontColor I4 ? -
218-219 iTime@BgColor I4 ? -
220-221 strTime@FontType BSTR ? -
222-223 iTime@FontSize I4 ? -
224-225 iTime@posX I4 ? -
226-227 iTime@posY I4 ? -
228-229 iTxt@posY I4 ? -
230-231 bBestFit@ BOOL ? -
232-236 bReserved# BOOL ? -
237-241 iReserved# I4 ? -
242-246 strReserved# BSTR ? -
247-251 dReserved# R8 ? -
252-256 fReserved# R4 ? -
)";

struct Expected {
  std::string name;
  std::string type;
  std::string start;  // as written in the interface table
  bool persisted = false;
};

// Expands the rows: "#" counts 1, 2, ... over the range; "@" counts 5, 6.
std::map<int, Expected> expectedInterface() {
  std::map<int, Expected> out;
  std::istringstream rows(kInterface);
  std::string range, name, type, start, persisted;
  while (rows >> range >> name >> type >> start >> persisted) {
    const auto dash = range.find('-');
    const int first = std::stoi(range.substr(0, dash));
    const int last = dash == std::string::npos ? first : std::stoi(range.substr(dash + 1));
    for (int id = first; id <= last; ++id) {
      std::string n = name;
      if (auto p = n.find('#'); p != std::string::npos)
        n.replace(p, 1, std::to_string(id - first + 1));
      if (auto p = n.find('@'); p != std::string::npos)
        n.replace(p, 1, std::to_string(id - first + 5));
      out[id] = {n, type, start, persisted == "P"};
    }
  }
  return out;
}

std::string startText(const Variant& v) {
  switch (v.type()) {
    case VarType::String:
      return "\"" + v.stringValue() + "\"";
    case VarType::Bool:
      return v.boolValue() ? "1" : "0";
    case VarType::R8:
      return v.r8Value() == 1.0 ? "1.0" : std::to_string(v.r8Value());
    default: {
      Variant text;
      EXPECT_EQ(platform::convertVariant(v, VarType::String, text), platform::kVariantOk);
      return text.stringValue();
    }
  }
}

TEST(VidletProperties, EveryDispidNameTypeDefaultAndPersistenceFlagMatchesTheInterface) {
  const std::map<int, Expected> expected = expectedInterface();
  ASSERT_EQ(expected.size(), 256u);
  ASSERT_EQ(expected.begin()->first, 1);
  ASSERT_EQ(expected.rbegin()->first, 256);
  for (const auto& [id, e] : expected) {
    const PropertyInfo* p = findProperty(id);
    ASSERT_NE(p, nullptr) << id;
    EXPECT_EQ(p->dispid, id);
    EXPECT_EQ(p->name, e.name) << id;
    EXPECT_EQ(platform::varTypeName(p->type), e.type) << e.name;
    EXPECT_EQ(p->default_value.type(), p->type) << e.name;
    EXPECT_EQ(p->persisted, e.persisted) << e.name;
    if (e.start == "?") {
      Variant zero;
      ASSERT_EQ(platform::convertVariant(Variant(), p->type, zero), platform::kVariantOk);
      EXPECT_EQ(p->default_value, zero) << e.name;
    } else {
      EXPECT_EQ(startText(p->default_value), e.start) << e.name;
    }
    EXPECT_EQ(vidletDispidOfName(e.name), id);
  }
  EXPECT_EQ(findProperty(0), nullptr);
  EXPECT_EQ(findProperty(257), nullptr);
}

TEST(VidletProperties, MethodsHaveTheirDispidsAndSignatures) {
  struct Row {
    int id;
    const char* name;
    VarType result;
    std::vector<VarType> params;
  };
  const VarType any = VarType::Empty;
  const std::vector<Row> rows = {
      {257, "GetJpg", VarType::Bool, {any, any, VarType::I2}},
      {258, "GetBmp", VarType::Bool, {any, any, VarType::I2}},
      {259, "RecMovieVrx", VarType::I4, {VarType::I2, VarType::String}},
      {260, "RecMovieAvi", VarType::I4, {VarType::I2, VarType::String}},
      {261, "SaveJpg", VarType::Bool, {VarType::I2, VarType::String}},
      {262, "SaveBmp", VarType::Bool, {VarType::I2, VarType::String}},
      {263, "GetMacAddr", VarType::String, {}},
      {264, "GetVersion", VarType::I4, {}},
      {-552, "AboutBox", VarType::Empty, {}},
  };
  ASSERT_EQ(vidletMethods().size(), rows.size());
  for (const Row& row : rows) {
    const MethodInfo* m = findMethod(row.id);
    ASSERT_NE(m, nullptr) << row.name;
    EXPECT_EQ(m->name, row.name);
    EXPECT_EQ(m->result, row.result) << row.name;
    EXPECT_EQ(m->params, row.params) << row.name;
    EXPECT_EQ(vidletDispidOfName(row.name), row.id);
  }
  EXPECT_EQ(vidletDispidOfName("getjpg"), 257);  // names compare without regard to case
  EXPECT_EQ(vidletDispidOfName("NoSuchMember"), platform::kDispUnknownName);
}

// The persisted names in the order the stored set holds them.
std::vector<std::string> expectedPersistenceOrder() {
  std::vector<std::string> names = {"iSvrID",    "strIpAddr",  "iHttpPort",
                                    "strUserID", "strUserPWD", "iPauseTime"};
  auto four = [&](const std::string& before, const std::string& after = "") {
    for (int n = 1; n <= 4; ++n) names.push_back(before + std::to_string(n) + after);
  };
  four("bEnableCam");
  four("bStretch");
  four("dMagnify");
  four("bBestFit");
  four("bDraw");
  for (const char* n : {"bSingle", "iBorderStyle", "iBgColor", "bBorderTop", "bBorderBottom",
                        "bBorderTime", "bBorderTxt", "bBorderFps", "bBorderRec", "bRelativeOSD",
                        "bSequentialOn", "iTargetImgWidth", "iTargetImgHeight"}) {
    names.push_back(n);
  }
  four("bTime");
  four("iTime", "FontColor");
  four("iTime", "BgColor");
  four("strTime", "FontType");
  four("iTime", "FontSize");
  four("iTime", "posX");
  four("iTime", "posY");
  four("bRec");
  four("strRec");
  four("iRec", "FontColor");
  four("iRec", "BgColor");
  four("strRec", "FontType");
  four("iRec", "FontSize");
  four("iRec", "posX");
  four("iRec", "posY");
  four("bTxt");
  four("strTxt");
  four("iTxt", "FontColor");
  four("iTxt", "BgColor");
  four("strTxt", "FontType");
  four("iTxt", "FontSize");
  four("iTxt", "posX");
  four("iTxt", "posY");
  four("bFps");
  four("iFps", "FontColor");
  four("iFps", "BgColor");
  four("strFps", "FontType");
  four("iFps", "FontSize");
  four("iFps", "posX");
  four("iFps", "posY");
  return names;
}

TEST(VidletProperties, PersistenceOrderHoldsEveryPersistedPropertyOnce) {
  std::vector<std::string> order;
  for (int id : persistenceOrder()) order.push_back(findProperty(id)->name);
  EXPECT_EQ(order, expectedPersistenceOrder());
  int persisted = 0;
  for (const PropertyInfo& p : vidletProperties()) persisted += p.persisted ? 1 : 0;
  EXPECT_EQ(persisted, 159);
}

}  // namespace
}  // namespace kv4r::viewer
