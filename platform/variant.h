// Values that cross the dispatch interface: empty, BOOL, I2, I4, R4, R8, string and byte array.
// A Variant is a plain value (copyable, no sharing); any thread may use its own copies.
// Conversions between the kinds follow the automation rules a host expects: numbers convert to
// one another (with a range check), strings parse as numbers and truth values, and everything but a
// byte array formats as a string.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kv4r::platform {

// The kinds of value. Empty is the only kind with the value 0.
enum class VarType : int { Empty = 0, Bool, I2, I4, R4, R8, String, Bytes };

// The type name as automation writes it ("BOOL", "I4", "BSTR", ...).
[[nodiscard]] const char* varTypeName(VarType type);

class Variant {
 public:
  Variant() = default;  // empty
  static Variant fromBool(bool value);
  static Variant fromI2(std::int16_t value);
  static Variant fromI4(std::int32_t value);
  static Variant fromR4(float value);
  static Variant fromR8(double value);
  static Variant fromString(std::string value);
  static Variant fromBytes(std::vector<std::uint8_t> value);

  [[nodiscard]] VarType type() const;
  [[nodiscard]] bool isEmpty() const { return type() == VarType::Empty; }

  // The stored value when the kind matches; otherwise the kind's zero value (false, 0, "", {}).
  // Use `convertVariant` to read a value of another kind.
  [[nodiscard]] bool boolValue() const;
  [[nodiscard]] std::int16_t i2Value() const;
  [[nodiscard]] std::int32_t i4Value() const;
  [[nodiscard]] float r4Value() const;
  [[nodiscard]] double r8Value() const;
  [[nodiscard]] const std::string& stringValue() const;
  [[nodiscard]] const std::vector<std::uint8_t>& bytesValue() const;

  bool operator==(const Variant& other) const = default;

 private:
  std::variant<std::monostate, bool, std::int16_t, std::int32_t, float, double, std::string,
               std::vector<std::uint8_t>>
      value_;
};

// Results of `convertVariant`.
enum : int {
  kVariantOk = 0,
  kVariantTypeMismatch = -1,  // the kinds cannot convert, or a string is not a number
  kVariantOverflow = -2,      // the number does not fit the target kind
};

// Converts `from` to the kind `to` into `out`. Numbers convert among themselves (floating values
// round to the nearest integer, halves away from zero); a truth value is 1 or 0 as a number, any
// non-zero number is true. A string converts to a number by parsing it whole (blanks around it
// allowed) and to a truth value as "0"/"1"/any number, "true"/"false" or "yes"/"no" (any case).
// Every kind but a byte array converts to a string (truth values as "1"/"0", floating values in
// shortest round-trip form). Empty converts to the zero value of any kind. Returns kVariantOk, or
// a negative code with `out` unchanged.
[[nodiscard]] int convertVariant(const Variant& from, VarType to, Variant& out);

// A floating value in its shortest text form that reads back to the same value ("2.5", "1e+20").
[[nodiscard]] std::string formatShortest(double value);
[[nodiscard]] std::string formatShortest(float value);

}  // namespace kv4r::platform
