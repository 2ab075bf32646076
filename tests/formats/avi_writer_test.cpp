#include "formats/avi_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "formats/clip_index.h"
#include "formats/clip_writer.h"
#include "formats/formats_codes.h"
#include "tests/formats/clip_fixture.h"
#include "tests/support/sample_jpeg.h"
#include "tests/support/test_env.h"

namespace kv4r::formats {
namespace {

using testing::Bytes;

std::uint32_t le32(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}
std::string code(const Bytes& b, std::size_t at) {
  return std::string(reinterpret_cast<const char*>(&b[at]), 4);
}

// Writes the frames with the writer and returns the file's bytes.
Bytes writeAvi(const std::filesystem::path& path, const std::vector<Bytes>& frames, int width,
               int height) {
  AviWriter* writer = AviWriterCreate(path.string(), width, height);
  EXPECT_NE(writer, nullptr);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(AviWriterAddFrame(writer, frames[i]), static_cast<int>(i + 1));
  }
  EXPECT_EQ(AviWriterFinish(writer), 0);
  EXPECT_EQ(AviWriterClose(writer), 0);
  return testing::readBytes(path);
}

TEST(AviWriterTest, OddFrameGetsTwoMarkerBytesAndOnePad) {
  testing::TempDir dir;
  const Bytes frame(1001, 0x5A);
  const Bytes avi = writeAvi(dir / "a.avi", {frame, Bytes(10, 1)}, 8, 8);
  EXPECT_EQ(code(avi, 224), "00db");
  EXPECT_EQ(le32(avi, 228), 1003u);
  EXPECT_EQ(avi[232 + 1000], 0x5A);
  EXPECT_EQ(avi[232 + 1001], 0xFF);
  EXPECT_EQ(avi[232 + 1002], 0xFF);
  EXPECT_EQ(avi[232 + 1003], 0x00);
  EXPECT_EQ(code(avi, 224 + 1012), "00db");  // the next chunk
  EXPECT_EQ(le32(avi, 224 + 1012 + 4), 12u);
}

TEST(AviWriterTest, HeadersOfTwoFramesAt352x240) {
  testing::TempDir dir;
  const Bytes avi = writeAvi(dir / "b.avi", {Bytes(5000, 1), Bytes(7001, 2)}, 352, 240);
  const std::size_t chunks_end = 224 + 5010 + 7012;
  ASSERT_EQ(avi.size(), chunks_end + 8 + 32);
  EXPECT_EQ(code(avi, 0), "RIFF");
  EXPECT_EQ(le32(avi, 4), avi.size() - 8);
  EXPECT_EQ(code(avi, 8), "AVI ");
  EXPECT_EQ(code(avi, 12), "LIST");
  EXPECT_EQ(le32(avi, 16), 192u);
  EXPECT_EQ(code(avi, 20), "hdrl");
  EXPECT_EQ(code(avi, 24), "avih");
  EXPECT_EQ(le32(avi, 28), 56u);
  EXPECT_EQ(le32(avi, 32), 33367u);   // microseconds per frame
  EXPECT_EQ(le32(avi, 36), 210150u);  // maximum bytes per second
  EXPECT_EQ(le32(avi, 40), 1u);
  EXPECT_EQ(le32(avi, 44), 0x10u);
  EXPECT_EQ(le32(avi, 48), 2u);
  EXPECT_EQ(le32(avi, 56), 1u);
  EXPECT_EQ(le32(avi, 60), 7012u);  // suggested buffer size
  EXPECT_EQ(le32(avi, 64), 352u);
  EXPECT_EQ(le32(avi, 68), 240u);
  EXPECT_EQ(code(avi, 88), "LIST");
  EXPECT_EQ(le32(avi, 92), 116u);
  EXPECT_EQ(code(avi, 96), "strl");
  EXPECT_EQ(code(avi, 100), "strh");
  EXPECT_EQ(code(avi, 108), "vids");
  EXPECT_EQ(code(avi, 112), "MJPG");
  EXPECT_EQ(le32(avi, 128), 333667u);
  EXPECT_EQ(le32(avi, 132), 10000000u);
  EXPECT_EQ(le32(avi, 140), 2u);
  EXPECT_EQ(le32(avi, 144), 7012u);
  EXPECT_EQ(code(avi, 164), "strf");
  EXPECT_EQ(le32(avi, 172), 40u);
  EXPECT_EQ(le32(avi, 176), 352u);
  EXPECT_EQ(le32(avi, 180), 240u);
  EXPECT_EQ(le32(avi, 184), 1u | (24u << 16));
  EXPECT_EQ(code(avi, 188), "MJPG");
  EXPECT_EQ(le32(avi, 192), 253440u);
  EXPECT_EQ(code(avi, 212), "LIST");
  EXPECT_EQ(le32(avi, 216), 12026u);
  EXPECT_EQ(code(avi, 220), "movi");
  // Index: "00db", key frame, offset from "movi", payload size.
  EXPECT_EQ(code(avi, chunks_end), "idx1");
  EXPECT_EQ(le32(avi, chunks_end + 4), 32u);
  EXPECT_EQ(code(avi, chunks_end + 8), "00db");
  EXPECT_EQ(le32(avi, chunks_end + 12), 0x10u);
  EXPECT_EQ(le32(avi, chunks_end + 16), 4u);
  EXPECT_EQ(le32(avi, chunks_end + 20), 5002u);
  EXPECT_EQ(le32(avi, chunks_end + 32), 4u + 5010u);
  EXPECT_EQ(le32(avi, chunks_end + 36), 7003u);
}

TEST(AviWriterTest, FinishWithoutFramesGivesAnEmptyValidFile) {
  testing::TempDir dir;
  const Bytes avi = writeAvi(dir / "c.avi", {}, 352, 240);
  ASSERT_EQ(avi.size(), 232u);
  EXPECT_EQ(le32(avi, 48), 0u);
  EXPECT_EQ(le32(avi, 60), 8u);
  EXPECT_EQ(le32(avi, 216), 4u);
  EXPECT_EQ(code(avi, 224), "idx1");
  EXPECT_EQ(le32(avi, 228), 0u);
  EXPECT_EQ(AviFileFrames((dir / "c.avi").string()), 0);

  // The count is read back only from a file laid out as the writer lays it out.
  (void)writeAvi(dir / "three.avi", {Bytes(10, 1), Bytes(11, 2), Bytes(12, 3)}, 352, 240);
  EXPECT_EQ(AviFileFrames((dir / "three.avi").string()), 3);
  {
    std::ofstream other(dir / "other.avi", std::ios::binary);
    other << std::string(232, 'x');
  }
  EXPECT_EQ(AviFileFrames((dir / "other.avi").string()), -1);
  EXPECT_EQ(AviFileFrames((dir / "missing.avi").string()), -1);
}

TEST(AviWriterTest, UnknownSizeIsTakenFromTheFirstFrame) {
  testing::TempDir dir;
  testing::SamplePicture picture;
  picture.width = 176;
  picture.height = 112;
  const std::vector<std::uint8_t> jpeg = testing::encodeSampleJpeg(picture);
  const Bytes avi = writeAvi(dir / "d.avi", {Bytes(jpeg.begin(), jpeg.end())}, 0, 0);
  EXPECT_EQ(le32(avi, 64), 176u);
  EXPECT_EQ(le32(avi, 68), 112u);
  EXPECT_EQ(le32(avi, 176), 176u);
  EXPECT_EQ(le32(avi, 180), 112u);
  // Stray bytes between two segments are passed over, as decoders pass over them.
  Bytes stray(jpeg.begin(), jpeg.end());
  stray.insert(stray.begin() + 2, {0x00, 0x00});
  const Bytes strayed = writeAvi(dir / "s.avi", {stray}, 0, 0);
  EXPECT_EQ(le32(strayed, 64), 176u);
  EXPECT_EQ(le32(strayed, 68), 112u);
  // A frame that is not a JPEG leaves the size at 0 rather than inventing one.
  const Bytes junk = writeAvi(dir / "e.avi", {Bytes(100, 7)}, 0, 0);
  EXPECT_EQ(le32(junk, 64), 0u);
}

TEST(AviWriterTest, FrameBufferIsOnlyRead) {
  testing::TempDir dir;
  // The frame is the tail of a larger buffer whose following bytes must stay as they are.
  Bytes buffer(40, 0x11);
  AviWriter* writer = AviWriterCreate((dir / "f.avi").string(), 1, 1);
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(AviWriterAddFrame(writer, std::span(buffer).first(37)), 1);
  EXPECT_EQ(AviWriterFinish(writer), 0);
  EXPECT_EQ(AviWriterClose(writer), 0);
  EXPECT_EQ(buffer, Bytes(40, 0x11));
}

TEST(AviWriterTest, FramesFromAFileGiveTheSameBytesAndAShortSourceSkipsOnlyThatFrame) {
  testing::TempDir dir;
  const Bytes a(1001, 0x21), b(70000, 0x42);
  const Bytes big((1 << 20) + 5, 0x63);  // larger than the staging buffer
  const Bytes source = testing::concat({a, b, big});
  testing::writeBytes(dir / "src.bin", source);
  const Bytes expected = writeAvi(dir / "mem.avi", {a, b, big, a}, 8, 8);

  const int fd = ::open((dir / "src.bin").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  AviWriter* writer = AviWriterCreate((dir / "file.avi").string(), 8, 8);
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(AviWriterAddFrameFromFile(writer, fd, 0, 1001), 1);
  EXPECT_EQ(AviWriterAddFrameFromFile(writer, fd, 1001, 70000), 2);
  EXPECT_EQ(
      AviWriterAddFrameFromFile(writer, fd, static_cast<std::int64_t>(source.size()) - 10, 100),
      kFormatsErrShortRead);
  EXPECT_EQ(
      AviWriterAddFrameFromFile(writer, fd, 71001, static_cast<std::uint32_t>(big.size() + 1)),
      kFormatsErrShortRead);
  EXPECT_EQ(AviWriterAddFrameFromFile(writer, fd, 71001, static_cast<std::uint32_t>(big.size())),
            3);
  EXPECT_EQ(AviWriterAddFrame(writer, a), 4);  // the two ways mix
  EXPECT_EQ(AviWriterFinish(writer), 0);
  EXPECT_EQ(AviWriterClose(writer), 0);
  ::close(fd);
  EXPECT_EQ(testing::readBytes(dir / "file.avi"), expected);
}

TEST(AviWriterTest, WriteErrorsAreReported) {
  // /dev/full takes the open but fails every write with "no space".
  AviWriter* writer = AviWriterCreate("/dev/full", 352, 240);
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(AviWriterAddFrame(writer, Bytes(100, 1)), kFormatsErrWrite);
  EXPECT_EQ(AviWriterAddFrame(writer, Bytes(100, 1)), kFormatsErrWrite);
  EXPECT_LT(AviWriterFinish(writer), 0);
  EXPECT_EQ(AviWriterClose(writer), 0);

  EXPECT_EQ(AviWriterCreate("/nonexistent-dir/x.avi", 1, 1), nullptr);
  EXPECT_EQ(AviWriterAddFrame(nullptr, Bytes(1)), kFormatsErrArgument);
  EXPECT_EQ(AviWriterFinish(nullptr), kFormatsErrArgument);
}

TEST(AviWriterTest, AFileThatNeverGetsItsFinishIsStillAnAviOfItsFramesUpToTheLastStep) {
  testing::TempDir dir;
  const Bytes jpeg = testing::encodeSampleJpeg({.width = 352, .height = 240, .quality = 95});
  const std::size_t chunk = 8 + ((jpeg.size() + 2 + 1) & ~std::size_t{1});
  const int count = static_cast<int>((std::size_t{6} << 20) / chunk);  // past one 4 MiB step
  const std::filesystem::path path = dir / "crashed.avi";
  AviWriter* writer = AviWriterCreate(path.string(), 352, 240);
  ASSERT_NE(writer, nullptr);
  for (int i = 0; i < count; ++i) ASSERT_EQ(AviWriterAddFrame(writer, jpeg), i + 1);
  EXPECT_EQ(AviWriterClose(writer), 0);  // no finish, as after a crash

  // A recording cut off before its first 4 MiB has headers for its first frame.
  const std::filesystem::path short_path = dir / "short.avi";
  writer = AviWriterCreate(short_path.string(), 352, 240);
  ASSERT_NE(writer, nullptr);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(AviWriterAddFrame(writer, jpeg), i + 1);
  EXPECT_EQ(AviWriterClose(writer), 0);
  const Bytes short_avi = testing::readBytes(short_path);
  EXPECT_EQ(code(short_avi, 0), "RIFF");
  EXPECT_EQ(le32(short_avi, 48), 1u);
  EXPECT_EQ(le32(short_avi, 64), 352u);
  EXPECT_EQ(code(short_avi, 220), "movi");

  const Bytes avi = testing::readBytes(path);
  const std::uint32_t described = le32(avi, 48);
  // The chunks up to the first step: the first time 4 MiB have been written.
  EXPECT_EQ(described, ((std::size_t{4} << 20) - 224 + chunk - 1) / chunk);
  EXPECT_EQ(le32(avi, 140), described);
  EXPECT_EQ(le32(avi, 44), 0u);  // no index yet
  EXPECT_EQ(le32(avi, 64), 352u);
  EXPECT_EQ(code(avi, 0), "RIFF");
  EXPECT_EQ(le32(avi, 4), 224 + described * chunk - 8);
  EXPECT_EQ(le32(avi, 216), 4 + described * chunk);
  EXPECT_EQ(code(avi, 220), "movi");
  if (std::filesystem::exists("/usr/bin/ffprobe")) {
    const testing::ProgramResult probe =
        testing::runProgram("/usr/bin/ffprobe", {"-v", "error", "-count_frames", "-show_entries",
                                                 "stream=codec_name,width,nb_read_frames", "-of",
                                                 "csv=p=0", path.string()});
    EXPECT_EQ(probe.exit_status, 0);
    EXPECT_EQ(probe.err, "");
    EXPECT_GE(probe.out.rfind("mjpeg,352,", 0), 0u) << probe.out;
    EXPECT_GE(std::atoi(probe.out.substr(probe.out.rfind(',') + 1).c_str()),
              static_cast<int>(described));
    const testing::ProgramResult short_probe =
        testing::runProgram("/usr/bin/ffprobe", {"-v", "error", "-count_frames", "-show_entries",
                                                 "stream=codec_name,width,nb_read_frames", "-of",
                                                 "csv=p=0", short_path.string()});
    EXPECT_EQ(short_probe.exit_status, 0) << short_probe.err;
    EXPECT_EQ(short_probe.out, "mjpeg,352,3\n");  // players read on behind the header's count
  }
}

TEST(AviWriterTest, StagedFramesThatFitALimitAreKeptAndTheRestTakenOffTheCount) {
  testing::TempDir dir;
  testing::writeBytes(dir / "src.bin", Bytes(70000, 0x42));
  const int fd = ::open((dir / "src.bin").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  AviWriter* writer = AviWriterCreate((dir / "limited.avi").string(), 8, 8);
  ASSERT_NE(writer, nullptr);
  // Writes past 300,000 bytes fail with "file too large" from here on.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  limited.rlim_cur = 300000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  int result = 0;
  int added = 0;
  while ((result = AviWriterAddFrameFromFile(writer, fd, 0, 70000)) > 0) ++added;
  const int finished = AviWriterFinish(writer);
  const int frames = AviWriterFrames(writer);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(result, kFormatsErrWrite);
  EXPECT_GT(added, 4);   // the first frames were only staged
  EXPECT_EQ(frames, 4);  // as many as fit whole under the limit
  EXPECT_LT(finished, 0);
  EXPECT_EQ(AviWriterClose(writer), 0);
  ::close(fd);
  // What the file says matches what it holds.
  const Bytes avi = testing::readBytes(dir / "limited.avi");
  EXPECT_EQ(le32(avi, 48), static_cast<std::uint32_t>(frames));
  EXPECT_EQ(le32(avi, 4), avi.size() - 8);
  EXPECT_EQ(224 + 70010u * frames + (le32(avi, 44) == 0x10 ? 8 + 16u * frames : 0), avi.size());
}

TEST(ClipWriterTest, AppendsWholeRecordsAndRefusesLiars) {
  testing::TempDir dir;
  ClipWriter* writer = ClipWriterCreate((dir / "a.tmp").string());
  ASSERT_NE(writer, nullptr);
  const Bytes a = testing::syntheticRecord(100), b = testing::syntheticRecord(300);
  Bytes padded = a;
  padded.resize(150, 0xEE);  // bytes behind the record are not part of it
  EXPECT_EQ(ClipWriterAppend(writer, padded), 100);
  EXPECT_EQ(ClipWriterAppend(writer, b), 300);
  Bytes liar = a;
  (void)writeBe32(liar, kOffRecordLength, 101);
  EXPECT_EQ(ClipWriterAppend(writer, liar), kFormatsErrBadRecord);
  EXPECT_EQ(ClipWriterAppend(writer, std::span(a).first(59)), kFormatsErrTooShort);
  EXPECT_EQ(ClipWriterBytes(writer), 400u);
  EXPECT_EQ(ClipWriterClose(writer), 1);
  EXPECT_EQ(testing::readBytes(dir / "a.tmp"), testing::concat({a, b}));

  // The last record may start at the last offset the index holds, and none after it. The file is
  // grown sparsely from outside, as if by hours of records.
  writer = ClipWriterCreate((dir / "long.tmp").string());
  ASSERT_NE(writer, nullptr);
  ASSERT_EQ(::truncate((dir / "long.tmp").c_str(), static_cast<off_t>(kLastIndexedRecordOffset)),
            0);
  EXPECT_EQ(ClipWriterAppend(writer, a), 100);
  EXPECT_EQ(ClipWriterAppend(writer, b), kFormatsErrTooLarge);
  EXPECT_EQ(ClipWriterBytes(writer), kLastIndexedRecordOffset + 100);
  EXPECT_EQ(ClipWriterClose(writer), 1) << "a full clip is a whole clip";
  EXPECT_EQ(std::filesystem::file_size(dir / "long.tmp"), kLastIndexedRecordOffset + 100);
  std::filesystem::remove(dir / "long.tmp");

  writer = ClipWriterCreate("/dev/full");
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(ClipWriterAppend(writer, a), kFormatsErrWrite);
  EXPECT_EQ(ClipWriterAppend(writer, a), kFormatsErrWrite);
  EXPECT_EQ(ClipWriterClose(writer), kFormatsErrWrite);

  EXPECT_EQ(replaceExtension("/rec/a.avi", ".tmp"), "/rec/a.tmp");
  EXPECT_EQ(replaceExtension("/rec.d/a", ".tmp"), "/rec.d/a.tmp");
  EXPECT_EQ(replaceExtension("/rec/a.b.tmp", ".vrx"), "/rec/a.b.vrx");
}

}  // namespace
}  // namespace kv4r::formats
