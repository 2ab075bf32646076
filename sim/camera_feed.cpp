#include "sim/camera_feed.h"

#include <pthread.h>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <span>

#include "formats/frame_record.h"
#include "sim/jpeg_coder.h"
#include "sim/picture_maker.h"
#include "sim/sim_codes.h"

namespace kv4r::sim {
namespace {

// Largest clip the replay loads into memory.
constexpr std::uintmax_t kMaxClipBytes = 512ull * 1024 * 1024;
// Most pictures taken from one folder.
constexpr std::size_t kMaxFolderPictures = 1000;
// The bytes of the part header the receiver takes behind each record.
constexpr std::size_t kPartHeaderSize = 62;

// Whether a record and the part header behind it fit the receiver's 102,400-byte buffer, laid out
// as the receiver lays them out: a record sent without its table block (coding flag bit 0) gets
// the 603-byte table gap in front of its picture data, and only the first 56 bytes of its APPn
// stay in front of that gap (the extension bytes beyond them go into the gap).
bool fitsReceiver(std::span<const std::uint8_t> record) {
  formats::FrameHeader header;
  if (formats::parseFrameHeader(record, &header) < 0) return false;
  if (header.app_length < formats::kMinAppLength) return false;
  const std::size_t extension = header.app_length - formats::kMinAppLength;
  std::size_t taken = header.record_length;
  if ((header.coding_flags & 1) != 0) {
    if (taken < extension) return false;
    taken = taken - extension + formats::kTableBlockSize;
  }
  return taken + kPartHeaderSize <= formats::kRecordBufferSize;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return text;
}

int buildPatternRing(const Scenario& scenario, int camera_number, const std::string& clock,
                     std::shared_ptr<const CameraRing>* out, std::string* error) {
  const CameraScenario& camera = scenario.cameras[static_cast<std::size_t>(camera_number - 1)];
  const CameraCoding coding = codingOf(scenario, camera_number);
  auto ring = std::make_shared<CameraRing>();
  for (int i = 0; i < camera.ring_size; ++i) {
    const std::string label = std::to_string(camera_number) + " " + camera.name.value_or("");
    const Picture picture = makePatternPicture(camera.width, camera.height, camera_number, i,
                                               camera.ring_size, label, clock);
    CodedPicture coded;
    const int rc = codePicture(picture, coding, &coded);
    if (rc < 0) {
      *error = "camera " + std::to_string(camera_number) + ": cannot code a picture";
      return rc;
    }
    ring->frames.push_back(RingFrame{std::move(coded.wire), std::move(coded.plain), -1});
  }
  *out = ring;
  return 1;
}

int buildFolderRing(const Scenario& scenario, int camera_number,
                    std::shared_ptr<const CameraRing>* out, std::string* error) {
  const CameraScenario& camera = scenario.cameras[static_cast<std::size_t>(camera_number - 1)];
  const std::string where = "camera " + std::to_string(camera_number) + ": ";
  std::error_code ec;
  std::vector<std::filesystem::path> files;
  for (std::filesystem::directory_iterator it(camera.path, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string ext = lower(it->path().extension().string());
    if (ext == ".jpg" || ext == ".jpeg") files.push_back(it->path());
  }
  if (ec) return *error = where + "cannot read folder " + camera.path, kSimErrPicture;
  std::sort(files.begin(), files.end());
  if (files.size() > kMaxFolderPictures) files.resize(kMaxFolderPictures);
  const CameraCoding coding = codingOf(scenario, camera_number);
  auto ring = std::make_shared<CameraRing>();
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    Picture picture;
    if (decodeJpeg(bytes, &picture) < 0) continue;  // not a picture: skipped
    // Re-encoded at the camera's size so that every record has the standard table layout.
    picture = scalePicture(picture, camera.width, camera.height);
    CodedPicture coded;
    if (codePicture(picture, coding, &coded) < 0) {
      return *error = where + "cannot code " + file.string(), kSimErrPicture;
    }
    ring->frames.push_back(RingFrame{std::move(coded.wire), std::move(coded.plain), -1});
  }
  if (ring->frames.empty()) {
    return *error = where + "no readable JPEG file in " + camera.path, kSimErrPicture;
  }
  *out = ring;
  return 1;
}

int buildClipRing(const Scenario& scenario, int camera_number,
                  std::shared_ptr<const CameraRing>* out, std::string* error) {
  const CameraScenario& camera = scenario.cameras[static_cast<std::size_t>(camera_number - 1)];
  const std::string where = "camera " + std::to_string(camera_number) + ": ";
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(camera.path, ec);
  if (ec) return *error = where + "cannot read clip " + camera.path, kSimErrClip;
  if (size > kMaxClipBytes) return *error = where + "clip larger than 512 MiB", kSimErrClip;
  std::ifstream in(camera.path, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (bytes.size() != size) return *error = where + "cannot read clip " + camera.path, kSimErrClip;
  auto ring = std::make_shared<CameraRing>();
  std::vector<formats::RecordStamp> stamps;
  std::size_t at = 0;
  while (bytes.size() - at >= formats::kRecordFixedSize) {
    const std::span<const std::uint8_t> rest(bytes.data() + at, bytes.size() - at);
    formats::FrameHeader header;
    if (formats::parseFrameHeader(rest, &header) < 0) break;
    if (header.record_length < formats::kRecordFixedSize) break;  // cannot advance: end of clip
    if (header.record_length > rest.size()) break;                // cut short: end of clip
    const std::span<const std::uint8_t> record = rest.first(header.record_length);
    at += header.record_length;
    // Only records a receiver takes whole: sound layout, plain coding, room for the part header.
    if (formats::checkFrameRecord(record) < 0) continue;
    if (!fitsReceiver(record)) continue;
    if (header.record_length <
        formats::kRecordFixedSize + (header.app_length - 56u) + formats::kTableBlockSize + 2) {
      continue;
    }
    RingFrame frame;
    frame.wire.assign(record.begin(), record.end());
    frame.wire[formats::kOffCameraNumber] = static_cast<std::uint8_t>(camera_number >> 8);
    frame.wire[formats::kOffCameraNumber + 1] = static_cast<std::uint8_t>(camera_number & 0xFF);
    frame.plain = frame.wire;
    ring->frames.push_back(std::move(frame));
    stamps.push_back({static_cast<std::int32_t>(formats::RecordTime(header)), header.hundredths});
  }
  if (ring->frames.empty()) {
    return *error = where + "no usable record in clip " + camera.path, kSimErrClip;
  }
  // The pause after each record is the capture gap to the next one (bounded to 0..10 s); after the
  // last record the clip starts again at the camera's frame rate.
  auto& frames = ring->frames;
  for (std::size_t i = 0; i + 1 < frames.size(); ++i) {
    const std::int64_t gap = formats::stampDifferenceMs(stamps[i], stamps[i + 1]);
    frames[i].delay_ms = static_cast<int>(std::clamp<std::int64_t>(gap, 0, 10000));
  }
  *out = ring;
  return 1;
}

// Whether every record of a ring, with the part header behind it, fits a receiver's buffer.
bool ringFits(const CameraRing& ring) {
  for (const RingFrame& frame : ring.frames) {
    if (!fitsReceiver(frame.wire)) return false;
  }
  return true;
}

void paint(CameraFeeds* feeds) {
  pthread_setname_np(pthread_self(), "sim-painter");
  using Clock = std::chrono::system_clock;
  std::unique_lock<std::mutex> lock(feeds->mutex);
  while (!feeds->stop) {
    // Redraw just after the next multiple of the refresh time, so that a one-second clock changes
    // close to the real second.
    const auto period = std::chrono::milliseconds(feeds->scenario.clock_refresh_ms);
    const auto now = Clock::now().time_since_epoch();
    const auto next = Clock::time_point((now / period + 1) * period + std::chrono::milliseconds(5));
    if (feeds->wake.wait_until(lock, next, [feeds] { return feeds->stop; })) break;
    lock.unlock();
    const std::string clock = clockText();
    for (int c = 1; c <= feeds->scenario.camera_count; ++c) {
      const CameraScenario& camera = feeds->scenario.cameras[static_cast<std::size_t>(c - 1)];
      if (camera.source != PictureSource::kPattern) continue;
      std::shared_ptr<const CameraRing> ring;
      std::string ignored;
      if (buildPatternRing(feeds->scenario, c, clock, &ring, &ignored) < 0) continue;
      if (!ringFits(*ring)) continue;  // keep the ring that fitted
      std::lock_guard<std::mutex> swap(feeds->mutex);
      feeds->rings[static_cast<std::size_t>(c - 1)] = std::move(ring);
      if (feeds->stop) break;
    }
    lock.lock();
  }
}

}  // namespace

std::string clockText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

CameraCoding codingOf(const Scenario& scenario, int camera_number) {
  const CameraScenario& camera = scenario.cameras[static_cast<std::size_t>(camera_number - 1)];
  CameraCoding coding;
  coding.camera_number = camera_number;
  coding.mode = camera.mode;
  coding.quality = camera.quality;
  coding.factor = camera.quant_factor;
  coding.linux_variant = usesLinuxVariant(scenario);
  coding.key = scenario.key;
  coding.server_name = scenario.server_name;
  coding.camera_name = camera.name;
  return coding;
}

void FeedsDeleter::operator()(CameraFeeds* feeds) const {
  if (!feeds) return;
  feedsStop(feeds);
  delete feeds;
}

int feedsCreate(const Scenario& scenario, FeedsPtr* out, std::string* error) {
  FeedsPtr feeds(new CameraFeeds);
  feeds->scenario = scenario;
  feeds->rings.resize(static_cast<std::size_t>(scenario.camera_count));
  bool any_pattern = false;
  const std::string clock = clockText();
  for (int c = 1; c <= scenario.camera_count; ++c) {
    const CameraScenario& camera = scenario.cameras[static_cast<std::size_t>(c - 1)];
    std::shared_ptr<const CameraRing> ring;
    int rc = 0;
    switch (camera.source) {
      case PictureSource::kPattern:
        any_pattern = true;
        rc = buildPatternRing(scenario, c, clock, &ring, error);
        break;
      case PictureSource::kJpegFolder:
        rc = buildFolderRing(scenario, c, &ring, error);
        break;
      case PictureSource::kClip:
        rc = buildClipRing(scenario, c, &ring, error);
        break;
    }
    if (rc < 0) return rc;
    if (!ringFits(*ring)) {
      // Modes 1 to 3 are coded with the rebuild's tables, which `quality` does not change.
      *error = "camera " + std::to_string(c) +
               ": a record would not fit a receiver's 102,400-byte buffer (" +
               (camera.mode == 0 ? "lower the quality" : "raise quant_factor") +
               " or use a smaller size)";
      return kSimErrPicture;
    }
    feeds->rings[static_cast<std::size_t>(c - 1)] = std::move(ring);
  }
  if (any_pattern && scenario.clock_refresh_ms > 0) {
    try {
      feeds->painter = std::thread(paint, feeds.get());
    } catch (const std::system_error&) {
      *error = "cannot start the picture thread";
      return kSimErrThread;
    }
  }
  *out = std::move(feeds);
  return 1;
}

std::shared_ptr<const CameraRing> feedsRing(CameraFeeds* feeds, int camera_number) {
  if (!feeds || camera_number < 1 || camera_number > static_cast<int>(feeds->rings.size())) {
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(feeds->mutex);
  return feeds->rings[static_cast<std::size_t>(camera_number - 1)];
}

void feedsStop(CameraFeeds* feeds) {
  if (!feeds) return;
  {
    std::lock_guard<std::mutex> lock(feeds->mutex);
    feeds->stop = true;
  }
  feeds->wake.notify_all();
  if (feeds->painter.joinable()) feeds->painter.join();
}

}  // namespace kv4r::sim
