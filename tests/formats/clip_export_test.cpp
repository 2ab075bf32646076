#include "formats/clip_export.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "formats/formats_codes.h"
#include "formats/frame_record.h"
#include "tests/formats/clip_fixture.h"
#include "tests/support/test_env.h"

namespace kv4r::formats {
namespace {

using testing::Bytes;

constexpr std::int64_t kTen = 1083837600;  // 2004-05-06 10:00:00

class ClipExportTest : public ::testing::Test {
 protected:
  // Writes a clip of picture records stamped as given (seconds after `base`, hundredths) and
  // indexes it.
  void makeClip(const std::vector<std::pair<int, int>>& stamps, std::int64_t base = kTen) {
    std::vector<Bytes> records;
    for (std::size_t i = 0; i < stamps.size(); ++i) {
      records.push_back(testing::pictureRecord(base + stamps[i].first, stamps[i].second,
                                               static_cast<int>(i % 4)));
    }
    testing::writeBytes(clip_, testing::concat(records));
    const int count = BuildClipIndex(clip_.string(), nullptr, {});
    ASSERT_EQ(count, static_cast<int>(stamps.size()));
    ASSERT_EQ(LoadClipIndex((dir_ / "clip.lst").string(), count, &index_), count);
  }
  int exportRange(std::int64_t start, std::int64_t end) {
    ExportProgress progress;
    progress.begin = [this](int total) { begun_ = total; };
    progress.step = [this](int percent) { percents_.push_back(percent); };
    return ExportClipRange(clip_.string(), index_, start, end, avi_.string(), progress, {},
                           &result_);
  }
  std::uint32_t aviFrames() const {
    const Bytes avi = testing::readBytes(avi_);
    return avi.size() < 52 ? 0 : avi[48] | (avi[49] << 8) | (avi[50] << 16);
  }

  testing::TempDir dir_;
  std::filesystem::path clip_ = dir_ / "clip.vrx";
  std::filesystem::path avi_ = dir_ / "out.avi";
  std::vector<ClipIndexEntry> index_;
  ExportResult result_;
  int begun_ = -1;
  std::vector<int> percents_;
};

TEST_F(ClipExportTest, EachSecondMatchesItsLastRecord) {
  makeClip({{0, 0}, {0, 50}, {1, 0}, {1, 50}});
  ASSERT_EQ(exportRange(kTen, kTen + 1), 1);
  EXPECT_EQ(result_.first_entry, 1);
  EXPECT_EQ(result_.last_entry, 3);
  EXPECT_EQ(result_.written, 3);
  EXPECT_EQ(result_.total, 3);
  EXPECT_EQ(result_.width, 64);
  EXPECT_EQ(result_.height, 48);
  EXPECT_EQ(aviFrames(), 3u);
  const auto messages = exportMessages(1, result_, clip_.string());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "Complete. 3/3 frames is recorded");
  EXPECT_FALSE(messages[0].is_error);

  ASSERT_EQ(exportRange(kTen + 1, kTen + 1), 1);  // start equal to end: one record
  EXPECT_EQ(result_.written, 1);
  EXPECT_EQ(aviFrames(), 1u);
}

TEST_F(ClipExportTest, TimesThatMatchNothingOrRunBackwardsAreInvalid) {
  makeClip({{0, 0}, {1, 0}, {3, 0}});
  for (auto [start, end] :
       {std::pair{kTen + 1, kTen}, std::pair{kTen + 2, kTen + 3}, std::pair{kTen, kTen + 4}}) {
    begun_ = -1;
    EXPECT_EQ(exportRange(start, end), kFormatsErrInvalidTime);
    EXPECT_EQ(begun_, -1);  // nothing started
  }
  EXPECT_FALSE(std::filesystem::exists(avi_));
  EXPECT_EQ(exportMessages(kFormatsErrInvalidTime, result_, clip_.string())[0].text,
            "Invalid start/end time");
}

TEST_F(ClipExportTest, StampsAfter2038MatchTheirWrappedIndexTimes) {
  const std::int64_t leap_day_2040 = stampSeconds(2040, 2, 29, 12, 0, 0);
  makeClip({{0, 0}, {0, 50}, {1, 0}}, leap_day_2040);
  ASSERT_EQ(exportRange(leap_day_2040, leap_day_2040 + 1), 1);
  EXPECT_EQ(result_.first_entry, 1);
  EXPECT_EQ(result_.last_entry, 2);
  EXPECT_EQ(aviFrames(), 2u);
}

TEST_F(ClipExportTest, ProgressStepsOnlyOnNonZeroPercent) {
  makeClip({{0, 0}, {1, 0}, {2, 0}, {3, 0}});
  ASSERT_EQ(exportRange(kTen, kTen + 3), 1);
  EXPECT_EQ(begun_, 4);
  EXPECT_EQ(percents_, (std::vector<int>{25, 50, 75, 100}));

  std::vector<std::pair<int, int>> many;
  for (int i = 0; i < 300; ++i) many.push_back({i, 0});
  makeClip(many);
  percents_.clear();
  ASSERT_EQ(exportRange(kTen, kTen + 299), 1);
  EXPECT_EQ(result_.written, 300);
  ASSERT_EQ(percents_.size(), 298u);
  EXPECT_EQ(percents_.front(), 1);
  EXPECT_EQ(percents_.back(), 100);
}

TEST_F(ClipExportTest, ReadFailureInsideTheLoopStillFinishesTheFile) {
  makeClip({{0, 0}, {1, 0}, {2, 0}, {3, 0}});
  // Cut the clip inside the third record.
  std::filesystem::resize_file(clip_, index_[2].record_offset + 100);
  ASSERT_EQ(exportRange(kTen, kTen + 3), 1);
  EXPECT_TRUE(result_.read_failed);
  EXPECT_EQ(result_.written, 2);
  EXPECT_EQ(aviFrames(), 2u);
  const auto messages = exportMessages(1, result_, clip_.string());
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].text, "Vrx read error");
  EXPECT_EQ(messages[1].text, "Complete. 2/4 frames is recorded");
}

TEST_F(ClipExportTest, FailuresBeforeTheLoopNameTheirCause) {
  makeClip({{0, 0}, {1, 0}});
  const std::vector<ClipIndexEntry> index = index_;
  // The AVI cannot be created.
  avi_ = dir_ / "no-such-dir" / "out.avi";
  EXPECT_EQ(exportRange(kTen, kTen + 1), kFormatsErrCreate);
  EXPECT_EQ(exportMessages(kFormatsErrCreate, result_, "")[0].text, "AVI file open error");
  // The AVI would be written over the clip itself, by its name or through a link.
  const Bytes clip_bytes = testing::readBytes(clip_);
  avi_ = clip_;
  EXPECT_EQ(exportRange(kTen, kTen + 1), kFormatsErrCreate);
  std::filesystem::create_symlink(clip_, dir_ / "link.avi");
  avi_ = dir_ / "link.avi";
  EXPECT_EQ(exportRange(kTen, kTen + 1), kFormatsErrCreate);
  EXPECT_EQ(testing::readBytes(clip_), clip_bytes);
  avi_ = dir_ / "out.avi";
  // The first record does not decode.
  ExportProgress none;
  auto refuse = [](std::span<const std::uint8_t>, int*, int*) { return -1; };
  EXPECT_EQ(ExportClipRange(clip_.string(), index_, kTen, kTen + 1, avi_.string(), none, refuse,
                            &result_),
            kFormatsErrBadJpeg);
  EXPECT_EQ(exportMessages(kFormatsErrBadJpeg, result_, "")[0].text, "Failed to decord jpeg");
  // The first record cannot be read.
  std::filesystem::resize_file(clip_, 30);
  EXPECT_EQ(exportRange(kTen, kTen + 1), kFormatsErrShortRead);
  EXPECT_EQ(exportMessages(kFormatsErrShortRead, result_, "")[0].text, "Vrx read error");
  // The clip is gone.
  std::filesystem::remove(clip_);
  EXPECT_EQ(exportRange(kTen, kTen + 1), kFormatsErrOpen);
  const auto message = exportMessages(kFormatsErrOpen, result_, clip_.string())[0];
  EXPECT_EQ(message.text, "Invalid vrx file(" + clip_.string() + ")");
  EXPECT_TRUE(message.is_error);
}

TEST_F(ClipExportTest, FullDiskIsReportedNotCompleted) {
  makeClip({{0, 0}, {1, 0}});
  avi_ = "/dev/full";
  EXPECT_EQ(exportRange(kTen, kTen + 1), kFormatsErrWrite);
  EXPECT_EQ(exportMessages(kFormatsErrWrite, result_, "")[0].text, "AVI file write error");
}

TEST_F(ClipExportTest, EntryRangeExportsWholeClipAndRefusesBadRanges) {
  makeClip({{0, 0}, {0, 50}, {1, 0}});
  ASSERT_EQ(ExportClipEntries(clip_.string(), index_, 0, 2, avi_.string(), {}, {}, &result_), 1);
  EXPECT_EQ(result_.written, 3);
  EXPECT_EQ(aviFrames(), 3u);
  for (auto [first, last] : {std::pair{-1, 1}, std::pair{2, 1}, std::pair{0, 3}}) {
    EXPECT_EQ(
        ExportClipEntries(clip_.string(), index_, first, last, avi_.string(), {}, {}, &result_),
        kFormatsErrInvalidTime);
  }
  EXPECT_EQ(lastEntryOfSecond(index_, kTen), 1);
  EXPECT_EQ(lastEntryOfSecond(index_, kTen + 5), -1);
}

TEST(DecodeJpegSizeTest, RejectsPicturesLargerThanTheScratchBuffer) {
  int w = 0, h = 0;
  const Bytes small = testing::pictureRecord(kTen, 0, 0, 720, 576);
  EXPECT_EQ(decodeJpegSize(small, &w, &h), 0);
  EXPECT_EQ(w, 720);
  EXPECT_EQ(h, 576);
  const Bytes large = testing::pictureRecord(kTen, 0, 0, 800, 600);
  EXPECT_EQ(decodeJpegSize(large, &w, &h), kFormatsErrBadJpeg);
  EXPECT_EQ(decodeJpegSize(Bytes(100, 0), &w, &h), kFormatsErrBadJpeg);
}

// Stray bytes before a table make the header read with a warning; the live view records such
// frames, so an export must take them as the picture they are.
TEST(DecodeJpegSizeTest, TakesAHeaderThatReadsWithAWarning) {
  Bytes stray = testing::pictureRecord(kTen, 0, 0, 352, 240);
  const std::size_t app_end = 4 + (stray[4] << 8 | stray[5]);
  stray.insert(stray.begin() + static_cast<std::ptrdiff_t>(app_end), {0x00, 0x00});
  int w = 0, h = 0;
  EXPECT_EQ(decodeJpegSize(stray, &w, &h), 0);
  EXPECT_EQ(w, 352);
  EXPECT_EQ(h, 240);
}

}  // namespace
}  // namespace kv4r::formats
