#include "platform/variant.h"

#include <gtest/gtest.h>

#include "platform/control_registry.h"

namespace kv4r::platform {
namespace {

Variant convert(const Variant& from, VarType to, int expected_rc = kVariantOk) {
  Variant out = Variant::fromString("untouched");
  EXPECT_EQ(convertVariant(from, to, out), expected_rc)
      << varTypeName(from.type()) << " -> " << varTypeName(to);
  return out;
}

TEST(Variant, StringsConvertToNumbersAndTruthValuesOnlyWhenWhollyNumeric) {
  EXPECT_EQ(convert(Variant::fromString("2.5"), VarType::R8), Variant::fromR8(2.5));
  EXPECT_EQ(convert(Variant::fromString(" -45 "), VarType::I4), Variant::fromI4(-45));
  EXPECT_EQ(convert(Variant::fromString("2.5"), VarType::I4), Variant::fromI4(3));
  EXPECT_EQ(convert(Variant::fromString("True"), VarType::Bool), Variant::fromBool(true));
  EXPECT_EQ(convert(Variant::fromString("0"), VarType::Bool), Variant::fromBool(false));
  EXPECT_EQ(convert(Variant::fromString("-1"), VarType::Bool), Variant::fromBool(true));
  // A failed conversion leaves the output alone.
  EXPECT_EQ(convert(Variant::fromString("12abc"), VarType::I4, kVariantTypeMismatch),
            Variant::fromString("untouched"));
  EXPECT_EQ(convert(Variant::fromString(""), VarType::R8, kVariantTypeMismatch),
            Variant::fromString("untouched"));
  EXPECT_EQ(convert(Variant::fromString("maybe"), VarType::Bool, kVariantTypeMismatch),
            Variant::fromString("untouched"));
}

TEST(Variant, NumbersConvertWithRangeChecks) {
  EXPECT_EQ(convert(Variant::fromI4(40000), VarType::I2, kVariantOverflow),
            Variant::fromString("untouched"));
  EXPECT_EQ(convert(Variant::fromR8(1e10), VarType::I4, kVariantOverflow),
            Variant::fromString("untouched"));
  EXPECT_EQ(convert(Variant::fromR8(1e300), VarType::R4, kVariantOverflow),
            Variant::fromString("untouched"));
  EXPECT_EQ(convert(Variant::fromI2(7), VarType::I4), Variant::fromI4(7));
  EXPECT_EQ(convert(Variant::fromR8(-2.5), VarType::I4), Variant::fromI4(-3));
  EXPECT_EQ(convert(Variant::fromI4(2), VarType::Bool), Variant::fromBool(true));
  EXPECT_EQ(convert(Variant::fromBool(true), VarType::I4), Variant::fromI4(1));
  EXPECT_EQ(convert(Variant(), VarType::I4), Variant::fromI4(0));
  EXPECT_EQ(convert(Variant::fromBytes({1}), VarType::I4, kVariantTypeMismatch),
            Variant::fromString("untouched"));
}

TEST(Variant, FloatingValuesFormatInShortestRoundTripForm) {
  EXPECT_EQ(convert(Variant::fromR8(0.1), VarType::String), Variant::fromString("0.1"));
  EXPECT_EQ(convert(Variant::fromR4(0.1f), VarType::String), Variant::fromString("0.1"));
  EXPECT_EQ(convert(Variant::fromBool(true), VarType::String), Variant::fromString("1"));
  const double awkward = 1.0 / 3.0;
  const Variant text = convert(Variant::fromR8(awkward), VarType::String);
  EXPECT_EQ(convert(text, VarType::R8), Variant::fromR8(awkward));
}

TEST(ControlRegistry, CreatesOnlyRegisteredClasses) {
  struct Nothing : Dispatch {
    int getIdsOfNames(std::string_view) const override { return kDispUnknownName; }
    DispatchResult getProperty(int) override {
      return DispatchResult::failure(kDispMemberNotFound);
    }
    DispatchResult putProperty(int, const Variant&) override { return {}; }
    DispatchResult invoke(int, std::vector<Variant>&) override { return {}; }
  };
  ControlRegistry registry;
  const std::string id = "{11111111-2222-3333-4444-555555555555}";
  std::unique_ptr<Dispatch> control;
  EXPECT_EQ(registry.create(id, control), kRegistryNotRegistered);
  EXPECT_FALSE(control);

  EXPECT_EQ(registry.registerClass({id, "Lib.Thing.1", "Thing", nullptr}), kRegistryBadClass);
  ASSERT_EQ(registry.registerClass(
                {id, "Lib.Thing.1", "Thing", [] { return std::make_unique<Nothing>(); }}),
            kRegistryOk);
  // Class ids and ProgIDs compare without regard to case.
  EXPECT_EQ(registry.classIdOfProgId("lib.thing.1"), id);
  EXPECT_EQ(registry.create("{11111111-2222-3333-4444-555555555555}", control), kRegistryOk);
  EXPECT_TRUE(control);

  EXPECT_EQ(registry.unregisterClass(id), kRegistryOk);
  EXPECT_EQ(registry.create(id, control), kRegistryNotRegistered);
  EXPECT_FALSE(control);
  EXPECT_EQ(registry.unregisterClass(id), kRegistryNotRegistered);

  ASSERT_EQ(registry.registerClass({id, "Lib.Thing.1", "Thing", [] { return nullptr; }}),
            kRegistryOk);
  EXPECT_EQ(registry.create(id, control), kRegistryCreateFailed);
}

}  // namespace
}  // namespace kv4r::platform
