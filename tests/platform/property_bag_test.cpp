#include "platform/property_bag.h"

#include <gtest/gtest.h>

#include "tests/support/test_env.h"

namespace kv4r::platform {
namespace {

TEST(PropertyBag, WritesOneLinePerValueInOrderAndReadsThemBack) {
  PropertyBag bag;
  bag.write("bOn", Variant::fromBool(true));
  bag.write("iNum", Variant::fromI4(-45));
  bag.write("dZoom", Variant::fromR8(2.5));
  bag.write("fSmall", Variant::fromR4(0.1f));
  bag.write("strText", Variant::fromString("a\\b\nc\rd=e"));
  bag.write("iNum", Variant::fromI4(7));  // replaced in place
  EXPECT_EQ(bag.toText(), "bOn=1\niNum=7\ndZoom=2.5\nfSmall=0.1\nstrText=a\\\\b\\nc\\rd=e\n");

  const PropertyBag back = PropertyBag::fromText(bag.toText());
  EXPECT_EQ(back.read("bon", VarType::Bool), Variant::fromBool(true));
  EXPECT_EQ(back.read("iNum", VarType::I4), Variant::fromI4(7));
  EXPECT_EQ(back.read("dZoom", VarType::R8), Variant::fromR8(2.5));
  EXPECT_EQ(back.read("fSmall", VarType::R4), Variant::fromR4(0.1f));
  EXPECT_EQ(back.read("strText", VarType::String), Variant::fromString("a\\b\nc\rd=e"));
}

TEST(PropertyBag, ToleratesDamagedLinesAndReportsWhatCannotBeRead) {
  const PropertyBag bag = PropertyBag::fromText(
      "no equals sign\n=nameless\niNum=12x\r\nstrEnd=ends with backslash\\\nstrOdd=\\q\n"
      "iTwice=1\niTwice=2");
  EXPECT_EQ(bag.read("iNum", VarType::I4), std::nullopt);  // not a number: caller's default
  EXPECT_EQ(bag.read("missing", VarType::I4), std::nullopt);
  EXPECT_EQ(bag.readText("strEnd"), "ends with backslash\\");
  EXPECT_EQ(bag.readText("strOdd"), "\\q");
  EXPECT_EQ(bag.read("iTwice", VarType::I4), Variant::fromI4(2));
}

TEST(PropertyBag, FilesRoundTripAndAFailedSaveLeavesTheOldFile) {
  kv4r::testing::TempDir dir;
  PropertyBag bag;
  bag.write("strA", Variant::fromString("x"));
  ASSERT_EQ(bag.saveFile(dir / "a.bag"), kBagOk);
  PropertyBag loaded;
  ASSERT_EQ(PropertyBag::loadFile(dir / "a.bag", loaded), kBagOk);
  EXPECT_EQ(loaded.entries(), bag.entries());
  EXPECT_EQ(PropertyBag::loadFile(dir / "missing.bag", loaded), kBagReadFailed);
  EXPECT_EQ(bag.saveFile(dir / "no-such-folder" / "a.bag"), kBagWriteFailed);
  EXPECT_EQ(kv4r::testing::readFile(dir / "a.bag"), "strA=x\n");
}

}  // namespace
}  // namespace kv4r::platform
