#include "tests/player/clip_fixture.h"

#include <fstream>
#include <stdexcept>

#include "formats/frame_record.h"
#include "formats/record_builder.h"
#include "tests/support/sample_jpeg.h"

namespace kv4r::testing {

namespace {
constexpr std::int64_t kBaseSeconds = 1083827289;  // 2004-05-06 07:08:09 UTC
constexpr auto kWaitLimit = std::chrono::seconds(10);
}  // namespace

ClipStamp stampAfterMs(std::int64_t ms) {
  std::int64_t hundredths = kBaseSeconds * 100 + ms / 10;
  return ClipStamp{hundredths / 100, static_cast<int>(hundredths % 100)};
}

std::vector<ClipStamp> evenStamps(int count, std::int64_t gap_ms) {
  std::vector<ClipStamp> stamps;
  for (int i = 0; i < count; ++i) stamps.push_back(stampAfterMs(i * gap_ms));
  return stamps;
}

std::vector<std::vector<std::uint8_t>> writeClip(const std::filesystem::path& path,
                                                 const std::vector<ClipStamp>& stamps, int width,
                                                 int height) {
  std::vector<std::vector<std::uint8_t>> records;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (std::size_t i = 0; i < stamps.size(); ++i) {
    SamplePicture picture;
    picture.width = width;
    picture.height = height;
    picture.seed = static_cast<int>(i % 7);
    const std::vector<std::uint8_t> jpeg = encodeSampleJpeg(picture);
    formats::RecordSpec spec;
    spec.camera_number = 1;
    spec.server_name = "Office";
    spec.camera_name = "Door";
    formats::setRecordStamp(&spec, stamps[i].seconds, stamps[i].hundredths);
    std::vector<std::uint8_t> record;
    if (formats::buildFrameRecord(spec, jpeg, &record) <= 0) {
      throw std::runtime_error("test record cannot be built");
    }
    out.write(reinterpret_cast<const char*>(record.data()),
              static_cast<std::streamsize>(record.size()));
    records.push_back(std::move(record));
  }
  if (!out) throw std::runtime_error("test clip cannot be written");
  return records;
}

player::FrameCallback WorkerProbe::frameCallback() {
  return [this](const std::uint8_t* record, int length, int position) {
    Frame frame;
    frame.length = length;
    frame.position = position;
    if (length >= 60) {
      frame.second = record[38];
      frame.hundredths = record[39];
    }
    if (on_frame) on_frame(frame);
    {
      std::lock_guard lock(mutex_);
      frames_.push_back(frame);
    }
    changed_.notify_all();
  };
}

player::StatusCallback WorkerProbe::statusCallback() {
  return [this](int code, std::int64_t) {
    {
      std::lock_guard lock(mutex_);
      statuses_.push_back(code);
      if (code == player::kStatusIdle) ++idle_;
    }
    changed_.notify_all();
    return 1;
  };
}

bool WorkerProbe::waitForIdle(int count) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kWaitLimit, [&] { return idle_ >= count; });
}

bool WorkerProbe::waitForFrames(int count) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kWaitLimit,
                           [&] { return static_cast<int>(frames_.size()) >= count; });
}

bool WorkerProbe::waitForFrameAt(std::size_t from, int position) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kWaitLimit, [&] {
    for (std::size_t i = from; i < frames_.size(); ++i) {
      if (frames_[i].position == position && frames_[i].length > 0) return true;
    }
    return false;
  });
}

int WorkerProbe::idleCount() const {
  std::lock_guard lock(mutex_);
  return idle_;
}

std::vector<WorkerProbe::Frame> WorkerProbe::frames() const {
  std::lock_guard lock(mutex_);
  return frames_;
}

std::vector<int> WorkerProbe::statuses() const {
  std::lock_guard lock(mutex_);
  return statuses_;
}

WorkerProbe::Frame WorkerProbe::lastFrame() const {
  std::lock_guard lock(mutex_);
  return frames_.empty() ? Frame{} : frames_.back();
}

}  // namespace kv4r::testing
