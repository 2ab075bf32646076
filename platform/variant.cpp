#include "platform/variant.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "platform/dispatch.h"

namespace kv4r::platform {

namespace {

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A whole string as a double; false if it is not a number.
bool parseNumberText(std::string_view text, double& value) {
  text = trimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

// The numeric value of a number or truth value; false for the other kinds.
bool numericValue(const Variant& v, double& value) {
  switch (v.type()) {
    case VarType::Bool:
      value = v.boolValue() ? 1.0 : 0.0;
      return true;
    case VarType::I2:
      value = v.i2Value();
      return true;
    case VarType::I4:
      value = v.i4Value();
      return true;
    case VarType::R4:
      value = v.r4Value();
      return true;
    case VarType::R8:
      value = v.r8Value();
      return true;
    default:
      return false;
  }
}

template <typename Int>
int toInteger(double value, Int& out) {
  if (!std::isfinite(value)) return kVariantOverflow;
  const double rounded = std::round(value);
  if (rounded < static_cast<double>(std::numeric_limits<Int>::min()) ||
      rounded > static_cast<double>(std::numeric_limits<Int>::max())) {
    return kVariantOverflow;
  }
  out = static_cast<Int>(rounded);
  return kVariantOk;
}

int fromNumber(double value, VarType to, Variant& out) {
  switch (to) {
    case VarType::Bool:
      out = Variant::fromBool(value != 0.0);
      return kVariantOk;
    case VarType::I2: {
      std::int16_t v = 0;
      const int rc = toInteger(value, v);
      if (rc == kVariantOk) out = Variant::fromI2(v);
      return rc;
    }
    case VarType::I4: {
      std::int32_t v = 0;
      const int rc = toInteger(value, v);
      if (rc == kVariantOk) out = Variant::fromI4(v);
      return rc;
    }
    case VarType::R4:
      if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max()) {
        return kVariantOverflow;
      }
      out = Variant::fromR4(static_cast<float>(value));
      return kVariantOk;
    case VarType::R8:
      out = Variant::fromR8(value);
      return kVariantOk;
    default:
      return kVariantTypeMismatch;
  }
}

Variant zeroOf(VarType type) {
  switch (type) {
    case VarType::Bool:
      return Variant::fromBool(false);
    case VarType::I2:
      return Variant::fromI2(0);
    case VarType::I4:
      return Variant::fromI4(0);
    case VarType::R4:
      return Variant::fromR4(0.0f);
    case VarType::R8:
      return Variant::fromR8(0.0);
    case VarType::String:
      return Variant::fromString({});
    case VarType::Bytes:
      return Variant::fromBytes({});
    case VarType::Empty:
      break;
  }
  return {};
}

}  // namespace

const char* varTypeName(VarType type) {
  switch (type) {
    case VarType::Empty:
      return "EMPTY";
    case VarType::Bool:
      return "BOOL";
    case VarType::I2:
      return "I2";
    case VarType::I4:
      return "I4";
    case VarType::R4:
      return "R4";
    case VarType::R8:
      return "R8";
    case VarType::String:
      return "BSTR";
    case VarType::Bytes:
      return "UI1 ARRAY";
  }
  return "unknown";
}

Variant Variant::fromBool(bool value) {
  Variant v;
  v.value_ = value;
  return v;
}
Variant Variant::fromI2(std::int16_t value) {
  Variant v;
  v.value_ = value;
  return v;
}
Variant Variant::fromI4(std::int32_t value) {
  Variant v;
  v.value_ = value;
  return v;
}
Variant Variant::fromR4(float value) {
  Variant v;
  v.value_ = value;
  return v;
}
Variant Variant::fromR8(double value) {
  Variant v;
  v.value_ = value;
  return v;
}
Variant Variant::fromString(std::string value) {
  Variant v;
  v.value_ = std::move(value);
  return v;
}
Variant Variant::fromBytes(std::vector<std::uint8_t> value) {
  Variant v;
  v.value_ = std::move(value);
  return v;
}

VarType Variant::type() const {
  return static_cast<VarType>(value_.index());
}

bool Variant::boolValue() const {
  const bool* v = std::get_if<bool>(&value_);
  return v ? *v : false;
}
std::int16_t Variant::i2Value() const {
  const std::int16_t* v = std::get_if<std::int16_t>(&value_);
  return v ? *v : 0;
}
std::int32_t Variant::i4Value() const {
  const std::int32_t* v = std::get_if<std::int32_t>(&value_);
  return v ? *v : 0;
}
float Variant::r4Value() const {
  const float* v = std::get_if<float>(&value_);
  return v ? *v : 0.0f;
}
double Variant::r8Value() const {
  const double* v = std::get_if<double>(&value_);
  return v ? *v : 0.0;
}
const std::string& Variant::stringValue() const {
  static const std::string kEmpty;
  const std::string* v = std::get_if<std::string>(&value_);
  return v ? *v : kEmpty;
}
const std::vector<std::uint8_t>& Variant::bytesValue() const {
  static const std::vector<std::uint8_t> kEmpty;
  const std::vector<std::uint8_t>* v = std::get_if<std::vector<std::uint8_t>>(&value_);
  return v ? *v : kEmpty;
}

std::string formatShortest(double value) {
  char text[64];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc() ? std::string(text, end) : std::string();
}

std::string formatShortest(float value) {
  char text[64];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc() ? std::string(text, end) : std::string();
}

int convertVariant(const Variant& from, VarType to, Variant& out) {
  if (from.type() == to) {
    out = from;
    return kVariantOk;
  }
  if (from.isEmpty()) {
    out = zeroOf(to);
    return kVariantOk;
  }
  if (to == VarType::Empty) {
    out = Variant();
    return kVariantOk;
  }
  if (from.type() == VarType::Bytes || to == VarType::Bytes) return kVariantTypeMismatch;

  if (to == VarType::String) {
    switch (from.type()) {
      case VarType::Bool:
        out = Variant::fromString(from.boolValue() ? "1" : "0");
        break;
      case VarType::I2:
        out = Variant::fromString(std::to_string(from.i2Value()));
        break;
      case VarType::I4:
        out = Variant::fromString(std::to_string(from.i4Value()));
        break;
      case VarType::R4:
        out = Variant::fromString(formatShortest(from.r4Value()));
        break;
      case VarType::R8:
        out = Variant::fromString(formatShortest(from.r8Value()));
        break;
      default:
        return kVariantTypeMismatch;
    }
    return kVariantOk;
  }

  double number = 0.0;
  if (from.type() == VarType::String) {
    const std::string_view text = trimBlanks(from.stringValue());
    if (to == VarType::Bool) {
      if (memberNamesEqual(text, "true") || memberNamesEqual(text, "yes")) {
        out = Variant::fromBool(true);
        return kVariantOk;
      }
      if (memberNamesEqual(text, "false") || memberNamesEqual(text, "no")) {
        out = Variant::fromBool(false);
        return kVariantOk;
      }
    }
    if (!parseNumberText(text, number)) return kVariantTypeMismatch;
  } else if (!numericValue(from, number)) {
    return kVariantTypeMismatch;
  }
  return fromNumber(number, to, out);
}

}  // namespace kv4r::platform
