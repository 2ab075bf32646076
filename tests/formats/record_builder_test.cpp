#include "formats/record_builder.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include "formats/formats_codes.h"
#include "formats/frame_record.h"
#include "tests/formats/clip_fixture.h"
#include "tests/support/sample_jpeg.h"

namespace kv4r::formats {
namespace {

using testing::Bytes;

struct Decoded {
  int width = 0;
  int height = 0;
  Bytes pixels;
};

bool decode(const Bytes& jpeg, Decoded* out) {
  tjhandle handle = tjInitDecompress();
  int subsampling = 0, colorspace = 0;
  bool ok = tjDecompressHeader3(handle, jpeg.data(), jpeg.size(), &out->width, &out->height,
                                &subsampling, &colorspace) == 0;
  if (ok) {
    out->pixels.resize(static_cast<std::size_t>(out->width) * out->height * 3);
    ok = tjDecompress2(handle, jpeg.data(), jpeg.size(), out->pixels.data(), out->width, 0,
                       out->height, TJPF_BGR, 0) == 0;
  }
  tjDestroy(handle);
  return ok;
}

RecordSpec officeDoor() {
  RecordSpec spec;
  spec.camera_number = 3;
  spec.source_number = 7;
  spec.server_name = "Office";
  spec.camera_name = "Door";
  setRecordStamp(&spec, testing::kStamp2004, 10);
  return spec;
}

TEST(RecordBuilderTest, ColourPictureGetsTheFixedLayoutAndStillDecodesTheSame) {
  for (bool sub420 : {true, false}) {
    testing::SamplePicture picture;
    picture.subsample_420 = sub420;
    const std::vector<std::uint8_t> jpeg = testing::encodeSampleJpeg(picture);
    Bytes record;
    const int length = buildFrameRecord(officeDoor(), jpeg, &record);
    ASSERT_GT(length, 0);
    ASSERT_EQ(static_cast<std::size_t>(length), record.size());
    EXPECT_EQ(checkFrameRecord(record), 1);

    FrameHeader h;
    ASSERT_EQ(parseFrameHeader(record, &h), 1);
    EXPECT_EQ(h.record_length, record.size());
    EXPECT_EQ(h.camera_number, 3);
    EXPECT_EQ(h.source_number, 7);
    EXPECT_EQ(h.hundredths, 10);
    EXPECT_EQ(RecordTime(h), testing::kStamp2004);
    EXPECT_EQ(h.app_length, 56 + 9 + 7);

    // Table block: DQT 69, DQT 69, SOF0 19, DHT 33/183/33/183, SOS 14, then scan data.
    const std::size_t block = 4 + h.app_length;
    EXPECT_EQ(tableBlockOffset(record), static_cast<int>(block));
    const std::pair<std::uint8_t, std::size_t> expected[] = {{0xDB, 69},  {0xDB, 69},  {0xC0, 19},
                                                             {0xC4, 33},  {0xC4, 183}, {0xC4, 33},
                                                             {0xC4, 183}, {0xDA, 14}};
    std::size_t at = block;
    for (const auto& [marker, size] : expected) {
      ASSERT_EQ(record[at], 0xFF);
      ASSERT_EQ(record[at + 1], marker) << "at " << at;
      ASSERT_EQ((record[at + 2] << 8 | record[at + 3]) + 2u, size);
      at += size;
    }
    EXPECT_EQ(at, block + kTableBlockSize);
    EXPECT_EQ(record[block + 4] & 0x0F, 0);       // first DQT holds table 0
    EXPECT_EQ(record[block + 69 + 4] & 0x0F, 1);  // second DQT holds table 1
    EXPECT_EQ(record[block + 157 + 4], 0x00);     // DC 0
    EXPECT_EQ(record[block + 190 + 4], 0x10);     // AC 0
    EXPECT_EQ(record[block + 373 + 4], 0x01);     // DC 1
    EXPECT_EQ(record[block + 406 + 4], 0x11);     // AC 1

    Decoded original, rebuilt;
    ASSERT_TRUE(decode(Bytes(jpeg.begin(), jpeg.end()), &original));
    ASSERT_TRUE(decode(record, &rebuilt));
    EXPECT_EQ(rebuilt.width, 352);
    EXPECT_EQ(rebuilt.height, 240);
    EXPECT_EQ(rebuilt.pixels, original.pixels);
  }
}

TEST(RecordBuilderTest, GreyPictureFailsUnlessTheFreeLayoutIsAllowed) {
  testing::SamplePicture picture;
  picture.grey = true;
  const std::vector<std::uint8_t> jpeg = testing::encodeSampleJpeg(picture);
  Bytes record{1, 2, 3};
  EXPECT_EQ(buildFrameRecord(officeDoor(), jpeg, &record), kFormatsErrTableLayout);
  EXPECT_TRUE(record.empty());

  RecordSpec spec = officeDoor();
  spec.allow_other_tables = true;
  ASSERT_GT(buildFrameRecord(spec, jpeg, &record), 0);
  EXPECT_EQ(checkFrameRecord(record), 1);
  Decoded decoded;
  EXPECT_TRUE(decode(record, &decoded));
  EXPECT_EQ(decoded.width, 352);
}

TEST(RecordBuilderTest, ProgressivePictureFailsTheFixedLayout) {
  const std::vector<std::uint8_t> pixels = testing::samplePixelsBgr({});
  tjhandle handle = tjInitCompress();
  unsigned char* out = nullptr;
  unsigned long size = 0;
  ASSERT_EQ(tjCompress2(handle, pixels.data(), 352, 0, 240, TJPF_BGR, &out, &size, TJSAMP_420, 75,
                        TJFLAG_PROGRESSIVE),
            0);
  const Bytes jpeg(out, out + size);
  tjFree(out);
  tjDestroy(handle);
  Bytes record;
  EXPECT_EQ(buildFrameRecord(officeDoor(), jpeg, &record), kFormatsErrTableLayout);
  RecordSpec spec = officeDoor();
  spec.allow_other_tables = true;
  ASSERT_GT(buildFrameRecord(spec, jpeg, &record), 0);
  Decoded decoded;
  EXPECT_TRUE(decode(record, &decoded));
}

TEST(RecordBuilderTest, BrokenInputAndBadSpecsAreRefused) {
  const std::vector<std::uint8_t> jpeg = testing::encodeSampleJpeg({});
  Bytes record;
  for (std::size_t cut : {std::size_t{0}, std::size_t{3}, std::size_t{100}, jpeg.size() - 1}) {
    EXPECT_EQ(buildFrameRecord(officeDoor(), std::span(jpeg).first(cut), &record),
              kFormatsErrBadJpeg)
        << cut;
  }
  RecordSpec spec = officeDoor();
  spec.app_marker = 0xD8;
  EXPECT_EQ(buildFrameRecord(spec, jpeg, &record), kFormatsErrArgument);
  spec = officeDoor();
  spec.camera_name = std::string("a\0b", 3);
  EXPECT_EQ(buildFrameRecord(spec, jpeg, &record), kFormatsErrArgument);
  spec = officeDoor();
  spec.server_name = std::string(70000, 'x');
  EXPECT_EQ(buildFrameRecord(spec, jpeg, &record), kFormatsErrTooLarge);
}

TEST(RecordBuilderTest, FrameWithoutTableBlockCarriesItsExtensionBytes) {
  const std::vector<std::uint8_t> jpeg = testing::encodeSampleJpeg({});
  Bytes full, bare;
  RecordSpec spec;
  ASSERT_GT(buildFrameRecord(spec, jpeg, &full), 0);
  spec.omit_table_block = true;
  spec.coding_flags = 1;
  spec.extension = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_GT(buildFrameRecord(spec, jpeg, &bare), 0);
  EXPECT_EQ(bare.size(), full.size() - kTableBlockSize + 8);
  FrameHeader h;
  ASSERT_EQ(parseFrameHeader(bare, &h), 1);
  EXPECT_EQ(h.app_length, 64);
  EXPECT_EQ(h.coding_flags, 1);
  EXPECT_EQ(bare[60], 1);
  EXPECT_EQ(bare[67], 8);
  // Behind the APPn comes the scan data the full record has behind its table block.
  EXPECT_TRUE(std::equal(bare.begin() + 68, bare.end(), full.begin() + 60 + kTableBlockSize));
}

}  // namespace
}  // namespace kv4r::formats
