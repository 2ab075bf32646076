#include "tests/formats/clip_fixture.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "formats/frame_record.h"
#include "tests/support/sample_jpeg.h"

namespace kv4r::testing {

Bytes syntheticRecord(std::uint32_t length, std::uint16_t camera, std::int64_t time_s,
                      int hundredths, std::uint16_t source) {
  Bytes record(length, 0);
  const formats::CivilTime t = formats::civilFromSeconds(time_s);
  record[0] = 0xFF;
  record[1] = 0xD8;
  record[2] = 0xFF;
  record[3] = 0xE2;
  (void)formats::writeBe16(record, formats::kOffAppLength, 56);
  (void)formats::writeBe16(record, formats::kOffSourceNumber, source);
  (void)formats::writeBe16(record, formats::kOffCameraNumber, camera);
  (void)formats::writeBe16(record, formats::kOffYear, static_cast<std::uint16_t>(t.year));
  record[formats::kOffMonth] = static_cast<std::uint8_t>(t.month);
  record[formats::kOffDay] = static_cast<std::uint8_t>(t.day);
  record[formats::kOffHour] = static_cast<std::uint8_t>(t.hour);
  record[formats::kOffMinute] = static_cast<std::uint8_t>(t.minute);
  record[formats::kOffSecond] = static_cast<std::uint8_t>(t.second);
  record[formats::kOffHundredths] = static_cast<std::uint8_t>(hundredths);
  (void)formats::writeBe32(record, formats::kOffRecordLength, length);
  if (length >= 62) {
    record[length - 2] = 0xFF;
    record[length - 1] = 0xD9;
  }
  return record;
}

Bytes pictureRecord(std::int64_t time_s, int hundredths, int picture_seed, int width, int height,
                    std::uint16_t camera) {
  SamplePicture picture;
  picture.width = width;
  picture.height = height;
  picture.seed = picture_seed;
  const std::vector<std::uint8_t> jpeg = encodeSampleJpeg(picture);
  formats::RecordSpec spec;
  spec.camera_number = camera;
  spec.server_name = "Office";
  spec.camera_name = "Door";
  formats::setRecordStamp(&spec, time_s, hundredths);
  Bytes record;
  if (formats::buildFrameRecord(spec, jpeg, &record) <= 0) {
    throw std::runtime_error("buildFrameRecord failed");
  }
  return record;
}

Bytes concat(const std::vector<Bytes>& records) {
  Bytes all;
  for (const Bytes& r : records) all.insert(all.end(), r.begin(), r.end());
  return all;
}

void writeBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

Bytes readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace kv4r::testing
