#include "formats/clip_index.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "formats/clip_reader.h"
#include "formats/clip_scan.h"
#include "formats/formats_codes.h"
#include "tests/formats/clip_fixture.h"
#include "tests/support/test_env.h"

namespace kv4r::formats {
namespace {

using testing::Bytes;
using testing::concat;
using testing::kStamp2004;
using testing::syntheticRecord;

class ClipIndexTest : public ::testing::Test {
 protected:
  std::string clip(const Bytes& bytes) {
    testing::writeBytes(dir_ / "cam1.vrx", bytes);
    return (dir_ / "cam1.vrx").string();
  }
  std::string indexPath() const { return (dir_ / "cam1.lst").string(); }

  // Builds and loads; returns the count (or code) and fills `entries`.
  int buildAndLoad(const Bytes& bytes, std::vector<ClipIndexEntry>* entries) {
    const int count = BuildClipIndex(clip(bytes), nullptr, {});
    if (count > 0) {
      EXPECT_EQ(LoadClipIndex(indexPath(), count, entries), count);
    }
    return count;
  }

  testing::TempDir dir_;
};

TEST_F(ClipIndexTest, EntriesPointAtEachRecord) {
  std::vector<ClipIndexEntry> entries;
  ASSERT_EQ(buildAndLoad(concat({syntheticRecord(1000, 2, kStamp2004),
                                 syntheticRecord(2500, 3, kStamp2004 + 1),
                                 syntheticRecord(800, 1, kStamp2004 + 2)}),
                         &entries),
            3);
  EXPECT_EQ(entries[0].record_offset, 0u);
  EXPECT_EQ(entries[1].record_offset, 1000u);
  EXPECT_EQ(entries[2].record_offset, 3500u);
  EXPECT_EQ(entries[0].time_seconds, kStamp2004);
  EXPECT_EQ(entries[2].time_seconds, kStamp2004 + 2);
  EXPECT_EQ(entries[1].camera_byte, 0);  // byte 30: high byte of the camera number
  EXPECT_EQ(entries[1].one0, 1u);
  EXPECT_EQ(entries[1].one1, 1u);
  EXPECT_EQ(std::filesystem::file_size(indexPath()), 72u);
}

TEST_F(ClipIndexTest, LeadingRecordsThatFailTheFirstRecordTestAreSkipped) {
  std::vector<ClipIndexEntry> entries;
  ASSERT_EQ(buildAndLoad(concat({syntheticRecord(300, 0), syntheticRecord(200, 7),
                                 syntheticRecord(200, 1, kStamp2004, 0, 256),
                                 syntheticRecord(400, 1), syntheticRecord(500, 0)}),
                         &entries),
            2);
  EXPECT_EQ(entries[0].record_offset, 700u);
  EXPECT_EQ(entries[1].record_offset, 1100u);  // later records are not tested
}

TEST_F(ClipIndexTest, ClipWithoutValidRecordGivesNoIndexFile) {
  std::vector<ClipIndexEntry> entries;
  EXPECT_EQ(buildAndLoad({}, &entries), 0);
  EXPECT_FALSE(std::filesystem::exists(indexPath()));
  EXPECT_EQ(buildAndLoad(syntheticRecord(100, 0), &entries), 0);
  EXPECT_FALSE(std::filesystem::exists(indexPath()));
  EXPECT_EQ(LoadClipIndex(indexPath(), 0, &entries), kFormatsErrNoEntries);
}

TEST_F(ClipIndexTest, ProgressReportsStartEachRecordAndEndAndCanAbort) {
  const std::string path = clip(concat({syntheticRecord(100), syntheticRecord(150)}));
  std::vector<std::pair<int, std::int64_t>> calls;
  auto record = [&calls](int code, std::int64_t value) {
    calls.emplace_back(code, value);
    return 1;
  };
  ASSERT_EQ(BuildClipIndex(path, nullptr, record), 2);
  const std::vector<std::pair<int, std::int64_t>> expected = {{5, 250}, {6, 0}, {6, 100}, {7, 0}};
  EXPECT_EQ(calls, expected);

  for (int refuse : {5, 6}) {
    calls.clear();
    auto refusing = [&calls, refuse](int code, std::int64_t value) {
      calls.emplace_back(code, value);
      return code == refuse ? 0 : 1;
    };
    EXPECT_EQ(BuildClipIndex(path, nullptr, refusing), kFormatsErrAborted);
    EXPECT_EQ(calls.back().first, refuse);
  }
}

TEST_F(ClipIndexTest, IndexPathReplacesTheFirstVrxOfTheFileNameAndDropsTheRest) {
  std::string index;
  ASSERT_EQ(clipIndexPath("/rec/cam1.vrx.bak", &index), 1);
  EXPECT_EQ(index, "/rec/cam1.lst");
  ASSERT_EQ(clipIndexPath("cam1.vrx", &index), 1);
  EXPECT_EQ(index, "cam1.lst");
  EXPECT_EQ(clipIndexPath("/rec/CAM1.VRX", &index), kFormatsErrIndexPath);
  // A ".vrx" in a folder name does not count: the index stays beside its clip.
  ASSERT_EQ(clipIndexPath("/a.vrx/b.vrx", &index), 1);
  EXPECT_EQ(index, "/a.vrx/b.lst");
  EXPECT_EQ(clipIndexPath("/a.vrx/b.bin", &index), kFormatsErrIndexPath);
  const std::filesystem::path folder = dir_ / "old.vrx.d";
  std::filesystem::create_directory(folder);
  testing::writeBytes(dir_ / "old.lst", Bytes{'n', 'o', 't', 'e', 's'});
  testing::writeBytes(folder / "cam1.vrx", syntheticRecord(100));
  ASSERT_EQ(BuildClipIndex((folder / "cam1.vrx").string(), &index, {}), 1);
  EXPECT_EQ(index, (folder / "cam1.lst").string());
  EXPECT_EQ(testing::readBytes(dir_ / "old.lst"), (Bytes{'n', 'o', 't', 'e', 's'}))
      << "a file outside the clip's folder was overwritten";

  testing::writeBytes(dir_ / "clip.bin", syntheticRecord(100));
  EXPECT_EQ(BuildClipIndex((dir_ / "clip.bin").string(), nullptr, {}), kFormatsErrIndexPath);
  EXPECT_EQ(BuildClipIndex((dir_ / "missing.vrx").string(), nullptr, {}), kFormatsErrOpen);
  std::filesystem::create_directory(dir_ / "cam1.lst");
  EXPECT_EQ(BuildClipIndex(clip(syntheticRecord(100)), &index, {}), kFormatsErrCreate);
  EXPECT_EQ(index, indexPath());
}

// Damage: cut the clip at every byte. A cut inside a fixed part fails the whole clip; a cut inside
// a body still indexes that record, which then fails to read.
TEST_F(ClipIndexTest, TruncationAtEveryByte) {
  const Bytes whole = concat({syntheticRecord(100), syntheticRecord(120), syntheticRecord(90)});
  const std::size_t starts[] = {0, 100, 220, 310};
  for (std::size_t cut = 1; cut < whole.size(); ++cut) {
    const Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
    const int count = BuildClipIndex(clip(part), nullptr, {});
    int records_started = 0;
    bool inside_fixed = false;
    for (int r = 0; r < 3; ++r) {
      if (cut > starts[r]) ++records_started;
      if (cut > starts[r] && cut < starts[r] + 60) inside_fixed = true;
    }
    if (inside_fixed) {
      EXPECT_EQ(count, kFormatsErrShortRead) << cut;
      continue;
    }
    ASSERT_EQ(count, records_started) << cut;
    std::vector<ClipIndexEntry> entries;
    ASSERT_EQ(LoadClipIndex(indexPath(), count, &entries), count);
    ClipFilePtr file(ClipFileOpen((dir_ / "cam1.vrx").string()));
    Bytes buffer(kRecordBufferSize);
    const bool last_complete = cut == starts[count];
    EXPECT_EQ(ReadClipRecord(file.get(), entries, count - 1, nullptr, buffer) > 0, last_complete)
        << cut;
  }
}

TEST_F(ClipIndexTest, RecordLengthBelowFixedPartEndsTheClip) {
  Bytes liar = syntheticRecord(100);
  (void)writeBe32(liar, kOffRecordLength, 12);
  std::vector<ClipIndexEntry> entries;
  EXPECT_EQ(buildAndLoad(concat({syntheticRecord(100), liar, syntheticRecord(100)}), &entries), 1);
  (void)writeBe32(liar, kOffRecordLength, 0);
  EXPECT_EQ(buildAndLoad(liar, &entries), 0);
}

TEST_F(ClipIndexTest, InMemoryIndexSaysWhichRecordEndedItEarly) {
  Bytes liar = syntheticRecord(100);
  (void)writeBe32(liar, kOffRecordLength, 0);
  const std::string path = clip(concat({syntheticRecord(100), liar, syntheticRecord(100)}));
  std::vector<ClipIndexEntry> entries;
  IndexScanStop stop;
  ASSERT_EQ(IndexClipInMemory(path, {}, &entries, nullptr, &stop), 1);
  EXPECT_EQ(stop.offset, 100);
  EXPECT_EQ(stop.code, kFormatsErrTooShort);
  ASSERT_EQ(IndexClipInMemory(clip(syntheticRecord(100)), {}, &entries, nullptr, &stop), 1);
  EXPECT_EQ(stop.offset, -1);
  EXPECT_EQ(stop.code, 0);

  // A sparse clip whose third record starts just past the index's 32-bit offsets.
  Bytes huge = syntheticRecord(100);
  (void)writeBe32(huge, kOffRecordLength, 0xFFFFFF00u);
  const std::int64_t beyond = 0xFFFFFF00LL + 0x200;
  {
    std::ofstream out(clip(huge), std::ios::binary | std::ios::in | std::ios::out);
    const Bytes second = syntheticRecord(0x200), third = syntheticRecord(100);
    out.seekp(0xFFFFFF00LL);
    out.write(reinterpret_cast<const char*>(second.data()), static_cast<std::streamsize>(0x200));
    out.seekp(beyond);
    out.write(reinterpret_cast<const char*>(third.data()), 100);
    ASSERT_TRUE(out.good());
  }
  std::int64_t cut_at = 0;
  ASSERT_EQ(IndexClipInMemory(path, {}, &entries, &cut_at, &stop), 2);
  EXPECT_EQ(entries[1].record_offset, 0xFFFFFF00u);
  EXPECT_EQ(cut_at, -1);
  EXPECT_EQ(stop.offset, beyond);
  EXPECT_EQ(stop.code, kFormatsErrTooLarge);
}

// The tools' scan (asked where it stopped) takes bytes that do not start as a record for damage:
// bytes written between records, or a length that lies and leaves the walk inside the next record.
// The player's index reads on as it always has.
TEST_F(ClipIndexTest, InMemoryIndexStopsWhereTheBytesAreNoRecord) {
  Bytes junk(200, 0);
  (void)writeBe32(junk, kOffRecordLength, 200);
  const std::string between = clip(concat({syntheticRecord(100), junk, syntheticRecord(100)}));
  std::vector<ClipIndexEntry> entries;
  std::int64_t cut_at = 0;
  IndexScanStop stop;
  ASSERT_EQ(IndexClipInMemory(between, {}, &entries, &cut_at, &stop), 1);
  EXPECT_EQ(stop.offset, 100);
  EXPECT_EQ(stop.code, kFormatsErrBadRecord);
  EXPECT_EQ(cut_at, -1);
  EXPECT_EQ(BuildClipIndex(between, nullptr, {}), 3);

  // One byte too long: the walk lands at byte 1 of the second record and reads a length far past
  // the end of the clip there, which is no interrupted recording.
  Bytes liar = syntheticRecord(100);
  (void)writeBe32(liar, kOffRecordLength, 101);
  const std::string misaligned = clip(concat({liar, syntheticRecord(100), syntheticRecord(100)}));
  ASSERT_EQ(IndexClipInMemory(misaligned, {}, &entries, &cut_at, &stop), 1);
  EXPECT_EQ(stop.offset, 101);
  EXPECT_EQ(stop.code, kFormatsErrBadRecord);
  EXPECT_EQ(cut_at, -1);
  ASSERT_EQ(IndexClipInMemory(misaligned, {}, &entries, &cut_at), 1);
  EXPECT_EQ(cut_at, 101);  // without `stop`, as before

  // Fewer than 60 bytes of junk behind the last record.
  const std::string tail = clip(concat({syntheticRecord(100), Bytes(30, 0)}));
  ASSERT_EQ(IndexClipInMemory(tail, {}, &entries, &cut_at, &stop), 1);
  EXPECT_EQ(stop.offset, 100);
  EXPECT_EQ(stop.code, kFormatsErrBadRecord);
  EXPECT_EQ(cut_at, -1);
  // A real record cut inside its fixed part is still the end of an interrupted recording.
  const Bytes whole = concat({syntheticRecord(100), syntheticRecord(100)});
  const std::string cut = clip(Bytes(whole.begin(), whole.begin() + 130));
  ASSERT_EQ(IndexClipInMemory(cut, {}, &entries, &cut_at, &stop), 1);
  EXPECT_EQ(stop.code, 0);
  EXPECT_EQ(cut_at, 100);
}

TEST_F(ClipIndexTest, RecordLyingAboutALongerLengthSwallowsTheRest) {
  Bytes liar = syntheticRecord(100);
  (void)writeBe32(liar, kOffRecordLength, 150);
  std::vector<ClipIndexEntry> entries;
  // The scan lands inside the second record; what it reads there as a length carries it past the
  // end. Nothing is read out of bounds and the bogus entry fails to read.
  ASSERT_EQ(buildAndLoad(concat({liar, syntheticRecord(100), syntheticRecord(100)}), &entries), 2);
  EXPECT_EQ(entries[1].record_offset, 150u);
  ClipFilePtr file(ClipFileOpen((dir_ / "cam1.vrx").string()));
  Bytes buffer(kRecordBufferSize);
  EXPECT_LT(ReadClipRecord(file.get(), entries, 1, nullptr, buffer), 0);
}

TEST_F(ClipIndexTest, LoadFailsOnAShortIndex) {
  std::vector<ClipIndexEntry> entries;
  ASSERT_EQ(buildAndLoad(concat({syntheticRecord(100), syntheticRecord(100)}), &entries), 2);
  EXPECT_EQ(LoadClipIndex(indexPath(), 3, &entries), kFormatsErrShortRead);
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(LoadClipIndex(indexPath(), 1, &entries), 1);  // a longer file yields the count asked
  EXPECT_EQ(LoadClipIndex((dir_ / "none.lst").string(), 1, &entries), kFormatsErrOpen);
}

TEST_F(ClipIndexTest, ReadKeepsTheLastTwoStampsAndRefusesOversizedRecords) {
  std::vector<ClipIndexEntry> entries;
  ASSERT_EQ(buildAndLoad(concat({syntheticRecord(kRecordBufferSize, 1, kStamp2004, 10),
                                 syntheticRecord(kRecordBufferSize + 1, 1, kStamp2004 + 1, 0),
                                 syntheticRecord(200, 1, kStamp2004 + 1, 40)}),
                         &entries),
            3);
  ClipFilePtr file(ClipFileOpen((dir_ / "cam1.vrx").string()));
  ASSERT_TRUE(file);
  Bytes buffer(kRecordBufferSize);
  ClipStamps stamps;
  EXPECT_EQ(ReadClipRecord(file.get(), entries, 0, &stamps, buffer), 102400);
  EXPECT_EQ(stamps.current.time_seconds, kStamp2004);
  EXPECT_EQ(stamps.current.hundredths, 10);
  EXPECT_EQ(ReadClipRecord(file.get(), entries, 1, &stamps, buffer), kFormatsErrTooLong);
  EXPECT_EQ(stamps.current.hundredths, 10);  // a failed read leaves the stamps alone
  EXPECT_EQ(ReadClipRecord(file.get(), entries, 2, &stamps, buffer), 200);
  EXPECT_EQ(stamps.previous.time_seconds, kStamp2004);
  EXPECT_EQ(stamps.current.time_seconds, kStamp2004 + 1);
  EXPECT_EQ(clipStampsGapMs(stamps), 1300);
  EXPECT_EQ(ReadClipRecord(file.get(), entries, 3, &stamps, buffer), kFormatsErrArgument);
  EXPECT_EQ(ReadClipRecord(file.get(), entries, -1, &stamps, buffer), kFormatsErrArgument);
  EXPECT_EQ(ReadClipRecord(nullptr, entries, 0, &stamps, buffer), kFormatsErrArgument);
}

TEST_F(ClipIndexTest, InMemoryIndexMatchesTheFileAndNeedsNoVrxPath) {
  const Bytes bytes = concat(
      {syntheticRecord(100, 0), syntheticRecord(200, 2, kStamp2004 + 5), syntheticRecord(300, 4)});
  std::vector<ClipIndexEntry> from_file, in_memory;
  ASSERT_EQ(buildAndLoad(bytes, &from_file), 2);
  testing::writeBytes(dir_ / "clip.bin", bytes);
  ASSERT_EQ(IndexClipInMemory((dir_ / "clip.bin").string(), {}, &in_memory), 2);
  ASSERT_EQ(0, std::memcmp(from_file.data(), in_memory.data(), 2 * sizeof(ClipIndexEntry)));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "clip.lst"));
  Bytes cut(bytes.begin(), bytes.begin() + 330);
  testing::writeBytes(dir_ / "clip.bin", cut);
  EXPECT_EQ(IndexClipInMemory((dir_ / "clip.bin").string(), {}, &in_memory), kFormatsErrShortRead);
  EXPECT_TRUE(in_memory.empty());

  // Only whole records, when asked: a cut in the fixed part or in the body ends the scan quietly.
  std::int64_t cut_at = 0;
  ASSERT_EQ(IndexClipInMemory((dir_ / "clip.bin").string(), {}, &in_memory, &cut_at), 1);
  EXPECT_EQ(cut_at, 300);
  EXPECT_EQ(in_memory[0].record_offset, 100u);
  testing::writeBytes(dir_ / "clip.bin", Bytes(bytes.begin(), bytes.end() - 1));
  ASSERT_EQ(IndexClipInMemory((dir_ / "clip.bin").string(), {}, &in_memory, &cut_at), 1);
  EXPECT_EQ(cut_at, 300);
  testing::writeBytes(dir_ / "clip.bin", bytes);
  ASSERT_EQ(IndexClipInMemory((dir_ / "clip.bin").string(), {}, &in_memory, &cut_at), 2);
  EXPECT_EQ(cut_at, -1);
}

TEST_F(ClipIndexTest, ScanVisitsEveryRecordAndSaysWhyItStopped) {
  Bytes bytes = concat({syntheticRecord(100, 0), syntheticRecord(200), syntheticRecord(300)});
  bytes.resize(bytes.size() - 10);  // the last body is cut
  ClipFilePtr file(ClipFileOpen(clip(bytes)));
  std::vector<std::pair<std::int64_t, bool>> seen;
  ClipScanEnd end;
  ASSERT_EQ(scanClip(
                file.get(),
                [&seen](const ClipRecordInfo& info) {
                  seen.emplace_back(info.offset, info.complete);
                  return 1;
                },
                &end),
            1);
  EXPECT_EQ(seen,
            (std::vector<std::pair<std::int64_t, bool>>{{0, true}, {100, true}, {300, false}}));
  EXPECT_EQ(end.stop_code, 0);

  Bytes liar = syntheticRecord(100);
  (void)writeBe32(liar, kOffRecordLength, 3);
  file.reset(ClipFileOpen(clip(concat({syntheticRecord(100), liar}))));
  ASSERT_EQ(scanClip(file.get(), {}, &end), 1);
  EXPECT_EQ(end.records, 1);
  EXPECT_EQ(end.stop_code, kFormatsErrTooShort);
  EXPECT_EQ(end.end_offset, 100);

  // Where a record should start: the start marker, and the application segment behind it.
  Bytes no_app = syntheticRecord(100);
  no_app[3] = 0xC0;
  Bytes junk(100, 0);
  (void)writeBe32(junk, kOffRecordLength, 100);
  file.reset(ClipFileOpen(clip(concat({syntheticRecord(100), no_app, junk}))));
  std::vector<std::pair<bool, bool>> starts;
  ASSERT_EQ(scanClip(
                file.get(),
                [&starts](const ClipRecordInfo& info) {
                  starts.emplace_back(info.start_marker, info.starts_like_record);
                  return 1;
                },
                &end),
            1);
  EXPECT_EQ(starts,
            (std::vector<std::pair<bool, bool>>{{true, true}, {true, false}, {false, false}}));
  const std::uint8_t lead[] = {0xFF, 0xD8, 0xFF, 0xE2};
  EXPECT_TRUE(startsLikeRecord(lead));
  EXPECT_TRUE(startsLikeRecord(std::span(lead, 1)));  // as much as the clip holds
  EXPECT_FALSE(startsLikeRecord(std::span(lead + 1, 3)));
  EXPECT_FALSE(startsLikeRecord({}));

  file.reset(ClipFileOpen(clip(Bytes(30, 0xFF))));
  ASSERT_EQ(scanClip(file.get(), {}, &end), 1);
  EXPECT_EQ(end.stop_code, kFormatsErrShortRead);
  EXPECT_EQ(end.records, 0);
}

}  // namespace
}  // namespace kv4r::formats
