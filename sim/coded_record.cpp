#include "sim/coded_record.h"

#include <chrono>
#include <ctime>

#include "formats/frame_record.h"
#include "formats/record_builder.h"
#include "sim/header_params.h"
#include "sim/jpeg_coder.h"
#include "sim/sim_codes.h"

namespace kv4r::sim {
namespace {

// The application marker our records use.
constexpr std::uint8_t kAppMarker = 0xE2;

formats::RecordSpec baseLayout(const CameraCoding& coding) {
  formats::RecordSpec layout;
  layout.app_marker = kAppMarker;
  layout.source_number = 0;
  layout.camera_number = static_cast<std::uint16_t>(coding.camera_number);
  const StampBytes now = stampNow();
  layout.year = static_cast<std::uint16_t>(now.bytes[0] << 8 | now.bytes[1]);
  layout.month = now.bytes[2];
  layout.day = now.bytes[3];
  layout.hour = now.bytes[4];
  layout.minute = now.bytes[5];
  layout.second = now.bytes[6];
  layout.hundredths = now.bytes[7];
  layout.server_name = coding.server_name;
  layout.camera_name = coding.camera_name.value_or("");
  return layout;
}

int build(const formats::RecordSpec& layout, std::span<const std::uint8_t> jpeg,
          std::vector<std::uint8_t>* record) {
  const int rc = formats::buildFrameRecord(layout, jpeg, record);
  return rc > 0 ? rc : kSimErrRecord;
}

}  // namespace

std::array<std::uint8_t, 8> keyField(const std::string& key) {
  std::array<std::uint8_t, 8> field{};
  for (std::size_t i = 0; i < 8; ++i) {
    const std::uint8_t k = i < key.size() ? static_cast<std::uint8_t>(key[i]) : 0;
    field[i] = static_cast<std::uint8_t>(k ^ static_cast<std::uint8_t>(kKeyMask[i]));
  }
  return field;
}

StampBytes stampOf(int year, int month, int day, int hour, int minute, int second, int hundredths) {
  StampBytes s;
  s.bytes = {static_cast<std::uint8_t>((year >> 8) & 0xFF),
             static_cast<std::uint8_t>(year & 0xFF),
             static_cast<std::uint8_t>(month),
             static_cast<std::uint8_t>(day),
             static_cast<std::uint8_t>(hour),
             static_cast<std::uint8_t>(minute),
             static_cast<std::uint8_t>(second),
             static_cast<std::uint8_t>(hundredths)};
  return s;
}

StampBytes stampNow() {
  const auto now = std::chrono::system_clock::now();
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  return stampOf(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                 std::min(local.tm_sec, 59), static_cast<int>((ms % 1000) / 10));
}

int wrapPlainJpeg(std::span<const std::uint8_t> jpeg, const CameraCoding& coding,
                  std::vector<std::uint8_t>* record) {
  return build(baseLayout(coding), jpeg, record);
}

int codePicture(const Picture& picture, const CameraCoding& coding, CodedPicture* coded) {
  if (!coded || coding.mode < 0 || coding.mode > 3) return kSimErrRecord;
  std::vector<std::uint8_t> jpeg;
  if (coding.mode == 0) {
    if (encodePlainJpeg(picture, coding.quality, &jpeg) < 0) return kSimErrPicture;
    const int rc = wrapPlainJpeg(jpeg, coding, &coded->plain);
    if (rc < 0) return rc;
    coded->wire = coded->plain;
    return static_cast<int>(coded->wire.size());
  }
  // Mode 1 is always rebuilt with the standard tables; modes 2 and 3 follow the server's OS type.
  const bool variant = coding.mode != 1 && coding.linux_variant;
  std::array<std::uint8_t, 3> params{};
  if (!rebuildParameterBytes(picture.width, picture.height, coding.factor, variant, &params)) {
    return kSimErrRecord;
  }
  if (encodeRebuildJpeg(picture, variant, coding.factor, &jpeg) < 0) return kSimErrPicture;
  int rc = wrapPlainJpeg(jpeg, coding, &coded->plain);
  if (rc < 0) return rc;

  formats::RecordSpec layout = baseLayout(coding);
  layout.coding_flags = static_cast<std::uint16_t>(coding.mode);
  const std::array<std::uint8_t, 8> key = keyField(coding.key);
  if (coding.mode == 2) {
    rc = build(layout, jpeg, &coded->wire);
    if (rc < 0) return rc;
    const int block = formats::tableBlockOffset(coded->wire);
    if (block < 0 || static_cast<std::size_t>(block) + 20 > coded->wire.size()) {
      return kSimErrRecord;
    }
    std::copy(params.begin(), params.end(), coded->wire.begin() + block + 5);
    std::copy(key.begin(), key.end(), coded->wire.begin() + block + 12);
    return static_cast<int>(coded->wire.size());
  }
  // Modes 1 and 3: no table block and no name items; the parameters (and the key) ride in the
  // extension bytes, which the receiver keeps at the start of the gap it reserves at offset 60.
  layout.server_name.clear();
  layout.camera_name.clear();
  layout.omit_table_block = true;
  layout.extension.assign(coding.mode == 1 ? 8 : 20, 0);
  std::copy(params.begin(), params.end(), layout.extension.begin() + 5);
  if (coding.mode == 3) std::copy(key.begin(), key.end(), layout.extension.begin() + 12);
  return build(layout, jpeg, &coded->wire);
}

}  // namespace kv4r::sim
