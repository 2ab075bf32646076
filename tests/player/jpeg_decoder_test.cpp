#include "player/jpeg_decoder.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdint>
#include <vector>

#include "player/player_codes.h"
#include "tests/support/sample_jpeg.h"

namespace kv4r::player {
namespace {

using testing::encodeSampleJpeg;
using testing::SamplePicture;

// The same picture decoded by TurboJPEG as blue, green, red rows, bottom row first.
std::vector<std::uint8_t> referenceBottomUpBgr(const std::vector<std::uint8_t>& jpeg, int width,
                                               int height) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 3);
  tjhandle handle = tjInitDecompress();
  const int rc = tjDecompress2(handle, jpeg.data(), jpeg.size(), pixels.data(), width, 0, height,
                               TJPF_BGR, TJFLAG_BOTTOMUP);
  tjDestroy(handle);
  EXPECT_EQ(rc, 0) << "reference decode failed";
  return pixels;
}

struct Decoded {
  int result = 0;
  int width = -1;
  int height = -1;
  std::vector<std::uint8_t> pixels;
};

Decoded decode(const std::vector<std::uint8_t>& jpeg, std::size_t length,
               int capacity = kPictureBufferBytes) {
  Decoded d;
  d.pixels.assign(static_cast<std::size_t>(capacity) + 16, 0xA5);  // sentinel after the capacity
  d.result = DecodeJpegToDib(jpeg.data(), static_cast<int>(length), d.pixels.data(), capacity,
                             &d.width, &d.height);
  return d;
}

TEST(DecodeJpegToDib, GreyPictureFillsThreeEqualChannelsBottomUp) {
  SamplePicture grey;
  grey.width = 704;
  grey.height = 480;
  grey.grey = true;
  const std::vector<std::uint8_t> jpeg = encodeSampleJpeg(grey);
  const Decoded d = decode(jpeg, jpeg.size());
  ASSERT_EQ(d.result, 0);
  EXPECT_EQ(d.width, 704);
  EXPECT_EQ(d.height, 480);
  const std::size_t bytes = 704u * 480u * 3u;
  ASSERT_EQ(bytes, 1013760u);
  const std::vector<std::uint8_t> reference = referenceBottomUpBgr(jpeg, 704, 480);
  for (std::size_t i = 0; i < bytes; i += 3) {
    ASSERT_EQ(d.pixels[i], d.pixels[i + 1]) << "pixel " << i / 3;
    ASSERT_EQ(d.pixels[i], d.pixels[i + 2]) << "pixel " << i / 3;
  }
  EXPECT_TRUE(std::equal(reference.begin(), reference.end(), d.pixels.begin()));
  EXPECT_EQ(d.pixels[bytes], 0xA5) << "wrote past the picture";
}

TEST(DecodeJpegToDib, ColourPictureMatchesBottomUpBgrReference) {
  for (const bool subsample : {true, false}) {
    SamplePicture colour;
    colour.width = 352;
    colour.height = 240;
    colour.seed = 3;
    colour.subsample_420 = subsample;
    const std::vector<std::uint8_t> jpeg = encodeSampleJpeg(colour);
    const Decoded d = decode(jpeg, jpeg.size());
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(d.width, 352);
    EXPECT_EQ(d.height, 240);
    const std::vector<std::uint8_t> reference = referenceBottomUpBgr(jpeg, 352, 240);
    EXPECT_TRUE(std::equal(reference.begin(), reference.end(), d.pixels.begin()))
        << "subsample_420=" << subsample;
  }
}

TEST(DecodeJpegToDib, PictureLargerThanTheBufferFails) {
  SamplePicture big;
  big.width = 800;
  big.height = 600;
  const std::vector<std::uint8_t> jpeg = encodeSampleJpeg(big);
  const Decoded d = decode(jpeg, jpeg.size());
  EXPECT_EQ(d.result, kPlayerFailed);
  EXPECT_EQ(d.width, 0);
  EXPECT_EQ(d.height, 0);
  EXPECT_EQ(d.pixels[0], 0xA5) << "nothing may be written";

  // The largest picture the view holds fits exactly.
  SamplePicture full;
  full.width = 720;
  full.height = 576;
  const std::vector<std::uint8_t> fits = encodeSampleJpeg(full);
  const Decoded ok = decode(fits, fits.size());
  EXPECT_EQ(ok.result, 0);
  EXPECT_EQ(ok.pixels[kPictureBufferBytes], 0xA5);
  EXPECT_EQ(decode(fits, fits.size(), kPictureBufferBytes - 1).result, kPlayerFailed);
}

TEST(DecodeJpegToDib, MissingEndMarkerIsSupplied) {
  SamplePicture picture;
  picture.width = 352;
  picture.height = 240;
  const std::vector<std::uint8_t> jpeg = encodeSampleJpeg(picture);
  ASSERT_EQ(jpeg[jpeg.size() - 2], 0xFF);
  ASSERT_EQ(jpeg[jpeg.size() - 1], 0xD9);
  const Decoded whole = decode(jpeg, jpeg.size());
  const Decoded no_marker = decode(jpeg, jpeg.size() - 2);
  ASSERT_EQ(no_marker.result, 0);
  EXPECT_TRUE(std::equal(whole.pixels.begin(), whole.pixels.begin() + 352 * 240 * 3,
                         no_marker.pixels.begin()));

  // Cut in the middle of the scan: still a picture of the full size (the rest is filled in).
  const Decoded half = decode(jpeg, jpeg.size() / 2);
  EXPECT_EQ(half.result, 0);
  EXPECT_EQ(half.width, 352);
  EXPECT_EQ(half.height, 240);
}

TEST(DecodeJpegToDib, RejectsMissingArgumentsAndGarbage) {
  std::vector<std::uint8_t> pixels(1000);
  const std::uint8_t byte = 0xFF;
  int width = 7;
  int height = 7;
  EXPECT_EQ(DecodeJpegToDib(nullptr, 10, pixels.data(), 1000, &width, &height), kPlayerFailed);
  EXPECT_EQ(width, 0);
  EXPECT_EQ(height, 0);
  EXPECT_EQ(DecodeJpegToDib(&byte, 0, pixels.data(), 1000, &width, &height), kPlayerFailed);
  EXPECT_EQ(DecodeJpegToDib(&byte, 1, nullptr, 1000, &width, &height), kPlayerFailed);
  EXPECT_EQ(DecodeJpegToDib(&byte, 1, pixels.data(), 0, &width, &height), kPlayerFailed);

  std::vector<std::uint8_t> garbage(5000);
  std::uint32_t state = 12345;
  for (auto& b : garbage) {
    state = state * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(state >> 24);
  }
  EXPECT_EQ(decode(garbage, garbage.size()).result, kPlayerFailed);
  const std::vector<std::uint8_t> only_start = {0xFF, 0xD8};
  EXPECT_EQ(decode(only_start, only_start.size()).result, kPlayerFailed);
}

TEST(DecodeJpegToDib, FourComponentPictureIsRefused) {
  // A CMYK JPEG would deliver four bytes per pixel into three-byte rows.
  const int width = 64;
  const int height = 48;
  std::vector<std::uint8_t> cmyk(static_cast<std::size_t>(width) * height * 4, 0x40);
  tjhandle handle = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  ASSERT_EQ(tjCompress2(handle, cmyk.data(), width, 0, height, TJPF_CMYK, &jpeg, &size, TJSAMP_444,
                        90, 0),
            0);
  const std::vector<std::uint8_t> bytes(jpeg, jpeg + size);
  tjFree(jpeg);
  tjDestroy(handle);
  EXPECT_EQ(decode(bytes, bytes.size(), width * height * 3).result, kPlayerFailed);
}

TEST(DecodeJpegToDib, DamagedInputNeverWritesPastThePicture) {
  SamplePicture picture;
  picture.width = 64;
  picture.height = 48;
  const std::vector<std::uint8_t> jpeg = encodeSampleJpeg(picture);
  const int capacity = 64 * 48 * 3;
  // Every cut, and a flipped byte at every position of the headers and the start of the scan.
  for (std::size_t cut = 1; cut < jpeg.size(); ++cut) {
    const Decoded d = decode(jpeg, cut, capacity);
    ASSERT_TRUE(d.result == 0 || d.result == kPlayerFailed) << "cut " << cut;
    ASSERT_EQ(d.pixels[capacity], 0xA5) << "cut " << cut;
  }
  for (std::size_t at = 2; at < jpeg.size() && at < 800; ++at) {
    std::vector<std::uint8_t> damaged = jpeg;
    damaged[at] ^= 0x5A;
    const Decoded d = decode(damaged, damaged.size(), capacity);
    ASSERT_TRUE(d.result == 0 || d.result == kPlayerFailed) << "flip at " << at;
    ASSERT_EQ(d.pixels[capacity], 0xA5) << "flip at " << at;
  }
}

}  // namespace
}  // namespace kv4r::player
