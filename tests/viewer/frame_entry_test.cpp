// The frame entry: coded frames of every mode against the plain picture, keys, grey pictures,
// special sizes, dropped frames and the buffers going back to their pools.
#include <gtest/gtest.h>

#include <turbojpeg.h>

#include "tests/support/sample_jpeg.h"
#include "tests/viewer/decode_test_support.h"
#include "viewer/decode_codes.h"
#include "viewer/snapshot_methods.h"

namespace kv4r::viewer {
namespace {

using testing::codedPicture;
using testing::Live;

TEST(FrameEntry, CodedModesDecodeToExactlyThePixelsOfThePlainPicture) {
  for (bool variant : {false, true}) {
    for (int mode = 1; mode <= 3; ++mode) {
      SCOPED_TRACE(::testing::Message() << "mode " << mode << " variant " << variant);
      Live live;
      live.window.info.os_type = variant ? "LINUX" : "VXWORKS";
      storeKey(live.decoding.key, "k3y");
      const sim::CodedPicture coded = codedPicture(704, 480, mode, variant, "k3y");
      ASSERT_EQ(live.deliver(0, coded.plain), 1);
      ASSERT_EQ(live.deliver(1, coded.wire), 1);
      int width = 0;
      int height = 0;
      const std::vector<std::uint8_t> plain = live.pixels(0);
      const std::vector<std::uint8_t> unlocked = live.pixels(1, &width, &height);
      EXPECT_EQ(width, 704);
      EXPECT_EQ(height, 480);
      ASSERT_EQ(plain.size(), 704u * 480 * 3);
      EXPECT_TRUE(plain == unlocked);
      EXPECT_TRUE(live.boxes.texts().empty());
    }
  }
}

TEST(FrameEntry, UnlockedRecordIsAPlainRecordForSnapshotsAndClips) {
  Live live;
  const sim::CodedPicture coded = codedPicture(352, 240, 1, false, "");
  std::vector<std::uint8_t> record = coded.wire;
  ASSERT_EQ(unlockFrame(record, false, live.decoding.key), 1);
  EXPECT_EQ(record[58], 0);
  EXPECT_EQ(record[59], 0);
  std::string why;
  EXPECT_EQ(formats::checkFrameRecord(record, &why), 1) << why;

  // A protected record whose application segment claims less than the fixed part would have its
  // table block rebuilt over its own header: refused, and left as it was.
  std::vector<std::uint8_t> short_segment = codedPicture(352, 240, 2, false, "k").wire;
  storeKey(live.decoding.key, "k");
  const std::size_t block = 4 + (short_segment[4] << 8 | short_segment[5]);
  // app_length 0: the table block would start at offset 4. Its parameter bytes and key field are
  // placed there, so that nothing but the segment's length keeps the rebuild out of the header.
  std::copy_n(short_segment.begin() + static_cast<long>(block + 5), 3, short_segment.begin() + 9);
  std::copy_n(short_segment.begin() + static_cast<long>(block + formats::kKeyFieldOffset),
              formats::kKeyFieldSize, short_segment.begin() + 4 + formats::kKeyFieldOffset);
  short_segment[4] = 0;
  short_segment[5] = 0;
  const std::vector<std::uint8_t> before = short_segment;
  EXPECT_EQ(unlockFrame(short_segment, false, live.decoding.key), kDecodeErrRecord);
  EXPECT_TRUE(short_segment == before);
}

TEST(FrameEntry, PictureCarriesSizeAndCaptureTime) {
  Live live;
  sim::CodedPicture coded = codedPicture(352, 288, 0, false, "");
  const sim::StampBytes stamp = sim::stampOf(2004, 6, 1, 13, 14, 15, 16);
  std::copy(stamp.bytes.begin(), stamp.bytes.end(), coded.plain.begin() + sim::kStampOffset);
  ASSERT_EQ(live.deliver(2, coded.plain), 1);
  const stream::PictureBuffer* p = live.window.panes[2].picture;
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->width, 352u);
  EXPECT_EQ(p->height, 288u);
  EXPECT_EQ(p->year, 2004);
  EXPECT_EQ(p->month, 6);
  EXPECT_EQ(p->day, 1);
  EXPECT_EQ(p->hour, 13);
  EXPECT_EQ(p->minute, 14);
  EXPECT_EQ(p->second, 15);
  EXPECT_EQ(p->hundredths, 16);
}

TEST(FrameEntry, GreyPictureDecodesIntoThreeEqualChannels) {
  Live live;
  ::kv4r::testing::SamplePicture sample;
  sample.grey = true;
  const std::vector<std::uint8_t> jpeg = ::kv4r::testing::encodeSampleJpeg(sample);
  formats::RecordSpec layout;
  layout.allow_other_tables = true;
  std::vector<std::uint8_t> record;
  ASSERT_GT(formats::buildFrameRecord(layout, jpeg, &record), 0);
  ASSERT_EQ(live.deliver(0, record), 1);
  int width = 0;
  int height = 0;
  const std::vector<std::uint8_t> bgr = live.pixels(0, &width, &height);
  ASSERT_EQ(width, sample.width);
  ASSERT_EQ(height, sample.height);
  // The reference: the grey plane, top row first.
  tjhandle tj = tjInitDecompress();
  std::vector<std::uint8_t> grey(static_cast<std::size_t>(width) * height);
  ASSERT_EQ(
      tjDecompress2(tj, jpeg.data(), jpeg.size(), grey.data(), width, width, height, TJPF_GRAY, 0),
      0);
  tjDestroy(tj);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = &bgr[((height - 1 - y) * width + x) * 3];
      const std::uint8_t g = grey[y * width + x];
      ASSERT_TRUE(p[0] == g && p[1] == g && p[2] == g) << x << "," << y;
    }
  }
}

TEST(FrameEntry, HalfHeightPictureIsDrawnAndHandedOutDoubled) {
  Live live;
  ASSERT_EQ(live.deliver(0, codedPicture(704, 240, 0, false, "").plain), 1);
  EXPECT_EQ(currentPictureSize(live.window.panes[0], live.decoding.panes[0]),
            (PictureSize{704, 480}));
  int width = 0;
  int height = 0;
  (void)live.pixels(0, &width, &height);  // the first paint converts
  EXPECT_EQ(width, 704);
  EXPECT_EQ(height, 480);
  std::vector<std::uint8_t> bmp;
  ASSERT_EQ(getBitmap(live.window, live.decoding, 1, &bmp), 54 + 704 * 480 * 3);
  EXPECT_EQ(bmp[22] | bmp[23] << 8, 480);
}

TEST(FrameEntry, WrongKeyHidesAllPanesAndShowsTheMessageOnce) {
  Live live;
  int asked = 0;
  const sim::CodedPicture coded = codedPicture(352, 240, 2, false, "right");
  // A request withdrawn by a stopping stream is no wrong key: the frame is only dropped.
  live.decoding.key.request_key = [&](std::string* typed) {
    ++asked;
    *typed = "typed too late";
    return KeyAnswer::kWithdrawn;
  };
  EXPECT_EQ(live.deliver(0, coded.wire), kDecodeErrDropped);
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(live.window.key_refused.load());
  for (const CameraPane& pane : live.window.panes) EXPECT_TRUE(pane.draw.load());
  EXPECT_TRUE(live.boxes.texts().empty());
  EXPECT_EQ(live.decoding.key.stored, (std::array<char, 8>{}));

  live.decoding.key.request_key = [&](std::string* typed) {
    ++asked;
    *typed = "guess";
    return KeyAnswer::kTyped;
  };
  EXPECT_EQ(live.deliver(0, coded.wire), kDecodeErrKeyRefused);
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(live.window.key_refused.load());
  for (const CameraPane& pane : live.window.panes) EXPECT_FALSE(pane.draw.load());
  ASSERT_EQ(live.boxes.texts().size(), 1u);
  EXPECT_EQ(live.boxes.texts()[0], kWrongKeyText);
  EXPECT_EQ(live.window.panes[0].picture, nullptr);

  // While refused, protected frames of any pane are dropped without asking.
  EXPECT_EQ(live.deliver(1, codedPicture(352, 240, 3, false, "right").wire), kDecodeErrKeyRefused);
  EXPECT_EQ(live.deliver(0, coded.wire), kDecodeErrKeyRefused);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(live.boxes.texts().size(), 1u);

  // A bDraw property clears the flag; the right key then opens the frames.
  live.window.key_refused.store(false);
  for (CameraPane& pane : live.window.panes) pane.draw.store(true);
  live.decoding.key.request_key = [&](std::string* typed) {
    ++asked;
    *typed = "right";
    return KeyAnswer::kTyped;
  };
  EXPECT_EQ(live.deliver(0, coded.wire), 1);
  EXPECT_EQ(asked, 3);
  // The stored key now matches: no further question.
  EXPECT_EQ(live.deliver(1, codedPicture(352, 240, 3, false, "right").wire), 1);
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(live.boxes.texts().size(), 1u);
}

TEST(FrameEntry, BadParametersAndDisabledPanesDropTheFrameAndReturnTheBuffers) {
  Live live;
  int asked = 0;
  live.decoding.key.request_key = [&](std::string*) {
    ++asked;
    return KeyAnswer::kNobody;
  };
  sim::CodedPicture coded = codedPicture(352, 240, 2, false, "x");
  const int block = formats::tableBlockOffset(coded.wire);
  coded.wire[block + 5] = static_cast<std::uint8_t>((7 + 53) ^ 0xC5);  // s = 7
  EXPECT_EQ(live.deliver(0, coded.wire), kDecodeErrParameters);
  EXPECT_EQ(asked, 0);
  EXPECT_FALSE(live.window.key_refused.load());

  live.window.panes[1].enabled.store(false);
  EXPECT_EQ(live.deliver(1, codedPicture(352, 240, 0, false, "").plain), kDecodeErrDropped);

  std::vector<std::uint8_t> junk = codedPicture(352, 240, 0, false, "").plain;
  std::fill(junk.begin() + 700, junk.end() - 2, 0x00);
  (void)live.deliver(2, junk);  // decoded with a warning or dropped; either way nothing leaks
  std::vector<std::uint8_t> tiny(40, 0);
  EXPECT_EQ(live.deliver(3, tiny), kDecodeErrRecord);

  // Every receive block is back; picture blocks: one per pane that shows a picture.
  EXPECT_EQ(stream::poolFreeCount(live.window.pools.receive), 7);
  int shown = 0;
  for (const CameraPane& pane : live.window.panes) shown += pane.picture != nullptr;
  EXPECT_EQ(stream::poolFreeCount(live.window.pools.picture), 5 - shown);
}

// One damaged frame from the network is dropped, and the pane goes on with the frames behind it.
TEST(FrameEntry, AFrameTheDecoderRefusesDoesNotStopThePane) {
  Live live;
  const std::vector<std::uint8_t> good = codedPicture(352, 240, 0, false, "").plain;
  std::vector<std::uint8_t> unknown_marker = good;
  for (std::size_t i = formats::kRecordFixedSize; i + 1 < unknown_marker.size(); ++i) {
    if (unknown_marker[i] == 0xFF && unknown_marker[i + 1] == 0xDB) {  // a quantisation table
      unknown_marker[i + 1] = 0x91;
      break;
    }
  }
  ASSERT_EQ(live.deliver(0, good), 1);
  EXPECT_EQ(live.deliver(0, unknown_marker), kDecodeErrJpeg);
  EXPECT_EQ(live.deliver(0, good), 1);
  EXPECT_EQ(live.deliver(0, good), 1);
  EXPECT_EQ(stream::poolFreeCount(live.window.pools.receive), 7);
}

TEST(FrameEntry, PendingRepaintDiscardsNewerPictures) {
  Live live;
  std::vector<std::pair<int, bool>> repaints;
  live.decoding.request_repaint = [&](int index, bool whole) {
    repaints.emplace_back(index, whole);
  };
  ASSERT_EQ(live.deliver(0, codedPicture(352, 240, 0, false, "", 1).plain), 1);
  const stream::PictureBuffer* first = live.window.panes[0].picture;
  ASSERT_EQ(live.deliver(0, codedPicture(352, 240, 0, false, "", 2).plain), 1);
  EXPECT_EQ(live.window.panes[0].picture, first);  // not painted yet
  ASSERT_EQ(repaints.size(), 1u);
  EXPECT_TRUE(repaints[0].second);  // first picture: the whole pane
  (void)live.pixels(0);             // the painter clears the flag
  ASSERT_EQ(live.deliver(0, codedPicture(352, 240, 0, false, "", 3).plain), 1);
  ASSERT_EQ(repaints.size(), 2u);
  EXPECT_FALSE(repaints[1].second);  // same size: only the picture
  ASSERT_EQ(live.deliver(0, codedPicture(352, 240, 0, false, "", 4).plain), 1);
  EXPECT_EQ(repaints.size(), 2u);
  EXPECT_EQ(stream::poolFreeCount(live.window.pools.picture), 4);
  EXPECT_EQ(frameRateText(live.decoding.panes[0].stats), "Loading images ...");
}

}  // namespace
}  // namespace kv4r::viewer
