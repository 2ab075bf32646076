// Recorders and snapshot methods: working files and their final names, stop requests, refused
// starts, leftovers, bitmaps, and JPEG grabs with their bounded wait and the key requests they
// answer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "formats/avi_writer.h"
#include "formats/clip_index.h"
#include "formats/formats_codes.h"
#include "formats/frame_record.h"
#include "tests/support/test_env.h"
#include "tests/viewer/decode_test_support.h"
#include "viewer/decode_codes.h"
#include "viewer/decode_methods.h"
#include "viewer/snapshot_methods.h"
#include "viewer/vidlet_properties.h"

namespace kv4r::viewer {
namespace {

namespace fs = std::filesystem;
using ::kv4r::testing::readFile;
using ::kv4r::testing::TempDir;
using testing::codedPicture;
using testing::Live;

std::vector<std::uint8_t> frame(int phase) {
  return codedPicture(352, 240, 0, false, "", phase).plain;
}

std::string bytesOf(const std::vector<std::uint8_t>& v) {
  return std::string(v.begin(), v.end());
}

TEST(ClipRecording, GivenExtensionIsReplacedAndTheClipEndsAsVrxAfterTheNextFrame) {
  TempDir dir;
  Live live;
  const std::string path = (dir / "cam1.avi").string();
  EXPECT_EQ(recordClip(live.window, live.decoding, 1, path), 1);
  EXPECT_TRUE(fs::exists(dir / "cam1.tmp"));
  EXPECT_TRUE(recordingMarkShown(live.decoding.panes[0].recorders));
  const auto a = frame(1);
  const auto b = frame(2);
  ASSERT_EQ(live.deliver(0, a), 1);
  ASSERT_EQ(live.deliver(0, b), 1);
  EXPECT_EQ(recordClip(live.window, live.decoding, 1, ""), 0);
  EXPECT_EQ(recordClip(live.window, live.decoding, 1, ""), 0);  // a second stop changes nothing
  EXPECT_FALSE(recordingMarkShown(live.decoding.panes[0].recorders));
  // Stopping but not finished: a new start is refused and nothing is created.
  EXPECT_EQ(recordClip(live.window, live.decoding, 1, (dir / "other.vrx").string()), 0);
  EXPECT_FALSE(fs::exists(dir / "other.tmp"));
  EXPECT_TRUE(fs::exists(dir / "cam1.tmp"));
  ASSERT_EQ(live.deliver(0, frame(3)), 1);  // finishes, is not recorded
  EXPECT_FALSE(fs::exists(dir / "cam1.tmp"));
  EXPECT_EQ(readFile(dir / "cam1.vrx"), bytesOf(a) + bytesOf(b));
  // Idle again: a new recording starts.
  EXPECT_EQ(recordClip(live.window, live.decoding, 1, (dir / "next.vrx").string()), 1);
}

TEST(ClipRecording, LeftoverWorkingFileIsKeptAsideAndPathsWithoutDotGetBothExtensions) {
  TempDir dir;
  Live live;
  // Left by a recording that crashed, and by one before it that was kept aside already.
  ::kv4r::testing::writeFile(dir / "clip.tmp", std::string(100000, 'x'));
  ::kv4r::testing::writeFile(dir / "clip.tmp.1", "older");
  ASSERT_EQ(recordClip(live.window, live.decoding, 2, (dir / "clip").string()), 1);
  const auto a = frame(1);
  ASSERT_EQ(live.deliver(1, a), 1);
  // A stop that no frame follows is finished when the stream ends.
  EXPECT_EQ(recordClip(live.window, live.decoding, 2, ""), 0);
  EXPECT_EQ(finishAllRecordings(live.decoding), 1);
  EXPECT_FALSE(fs::exists(dir / "clip.tmp"));
  EXPECT_EQ(readFile(dir / "clip.vrx"), bytesOf(a));
  EXPECT_EQ(readFile(dir / "clip.tmp.1"), "older");
  EXPECT_EQ(readFile(dir / "clip.tmp.2"), std::string(100000, 'x'));
}

TEST(ClipRecording, AWorkingFileThatAnotherProgramRecordsIntoIsLeftAlone) {
  TempDir dir;
  Live live;
  // Another program's recording: its working file, with data, under its lock (a lock taken through
  // another open file conflicts as one of another process would).
  ::kv4r::testing::writeFile(dir / "cam.tmp", "running");
  const int other = ::open((dir / "cam.tmp").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_TRUE(workingFileLockedByARecording((dir / "cam.vrx").string()));
  errno = 0;
  EXPECT_EQ(recordClip(live.window, live.decoding, 1, (dir / "cam.vrx").string()),
            kDecodeErrFileCreate);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_EQ(recordAvi(live.window, live.decoding, 1, (dir / "cam.avi").string()),
            kDecodeErrFileCreate);
  EXPECT_EQ(readFile(dir / "cam.tmp"), "running");
  EXPECT_FALSE(fs::exists(dir / "cam.tmp.1"));

  // Once that recording is over (or crashed), what it left is kept aside as before.
  ::close(other);
  EXPECT_FALSE(workingFileLockedByARecording((dir / "cam.vrx").string()));
  ASSERT_EQ(recordClip(live.window, live.decoding, 1, (dir / "cam.vrx").string()), 1);
  EXPECT_EQ(readFile(dir / "cam.tmp.1"), "running");
  // Our own recording now holds the lock until its file has its name.
  EXPECT_TRUE(workingFileLockedByARecording((dir / "cam.vrx").string()));
  ASSERT_EQ(live.deliver(0, frame(1)), 1);
  EXPECT_EQ(recordClip(live.window, live.decoding, 1, ""), 0);
  EXPECT_EQ(finishAllRecordings(live.decoding), 1);
  EXPECT_TRUE(fs::exists(dir / "cam.vrx"));
  EXPECT_FALSE(fs::exists(dir / "cam.tmp"));
}

TEST(ClipRecording, BothRecordersUnderOneNameAreFinishedWhenThePaneGoesAway) {
  TempDir dir;
  const auto a = frame(1);
  {
    Live live;
    ASSERT_EQ(recordClip(live.window, live.decoding, 1, (dir / "a.vrx").string()), 1);
    ASSERT_EQ(recordAvi(live.window, live.decoding, 1, (dir / "a.avi").string()), 1);
    ASSERT_EQ(live.deliver(0, a), 1);
  }
  EXPECT_EQ(readFile(dir / "a.vrx"), bytesOf(a));
  EXPECT_EQ(readFile(dir / "a.avi").substr(0, 4), "RIFF");
  EXPECT_FALSE(fs::exists(dir / "a.tmp"));
  EXPECT_FALSE(fs::exists(dir / "a.avi.tmp"));
}

TEST(ClipRecording, ExistingFinalNameIsKeptAndTheDataStaysInTheWorkingFile) {
  TempDir dir;
  Live live;
  ::kv4r::testing::writeFile(dir / "c.vrx", "older clip");
  ASSERT_EQ(recordClip(live.window, live.decoding, 1, (dir / "c.vrx").string()), 1);
  ASSERT_EQ(live.deliver(0, frame(1)), 1);
  EXPECT_EQ(finishAllRecordings(live.decoding), 1);
  EXPECT_EQ(readFile(dir / "c.vrx"), "older clip");
  EXPECT_TRUE(fs::exists(dir / "c.tmp"));
}

TEST(Recording, NoTwoRecordingsOrASnapshotShareAFile) {
  TempDir dir;
  Live live;
  const std::string clip = (dir / "out.vrx").string();
  ASSERT_EQ(recordClip(live.window, live.decoding, 1, clip), 1);
  // Another pane may not record into the same clip, however the name is spelt...
  EXPECT_EQ(recordClip(live.window, live.decoding, 2, clip), kDecodeErrFileCreate);
  EXPECT_EQ(recordClip(live.window, live.decoding, 2, (dir / "." / "out.avi").string()),
            kDecodeErrFileCreate);
  // ...but its AVI of that name works beside it, in a working file of its own.
  ASSERT_EQ(recordAvi(live.window, live.decoding, 2, (dir / "out.avi").string()), 1);
  EXPECT_TRUE(fs::exists(dir / "out.avi.tmp"));
  const auto a = frame(1);
  const auto b = frame(2);
  ASSERT_EQ(live.deliver(0, a), 1);
  ASSERT_EQ(live.deliver(1, b), 1);
  // A snapshot may not write into a file that is being recorded.
  EXPECT_EQ(saveBitmap(live.window, live.decoding, 1, (dir / "out.tmp").string()),
            kDecodeErrFileCreate);
  EXPECT_EQ(saveBitmap(live.window, live.decoding, 1, clip), kDecodeErrFileCreate);
  EXPECT_EQ(finishAllRecordings(live.decoding), 2);
  EXPECT_EQ(readFile(dir / "out.vrx"), bytesOf(a));
  EXPECT_EQ(readFile(dir / "out.avi").substr(0, 4), "RIFF");
  EXPECT_FALSE(fs::exists(dir / "out.tmp"));
  EXPECT_FALSE(fs::exists(dir / "out.avi.tmp"));
  // Finished recordings hold no names any more.
  EXPECT_FALSE(recordingFileClaimed(live.decoding.recording_files, clip));
  EXPECT_EQ(saveBitmap(live.window, live.decoding, 1, (dir / "out.tmp").string()), 1);
}

TEST(Recording, AFullFileEndsTheRecordingAndKeepsWhatWasWritten) {
  TempDir dir;
  Live live;
  const auto a = frame(1);
  ASSERT_EQ(recordClip(live.window, live.decoding, 1, (dir / "full.vrx").string()), 1);
  // Files of this process may hold two and a half records: the third write fails (EFBIG).
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old_limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit small = old_limit;
  small.rlim_cur = a.size() * 5 / 2;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(live.deliver(0, a), 1);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old_limit), 0);
  PaneRecorders& recorders = live.decoding.panes[0].recorders;
  EXPECT_FALSE(recordingMarkShown(recorders));
  const RecordingFailure failure = recordingFailure(recorders, false);
  EXPECT_EQ(failure.code, formats::kFormatsErrWrite);
  EXPECT_EQ(failure.error, EFBIG);
  // Finished at once under its name, with the whole records written before.
  EXPECT_FALSE(fs::exists(dir / "full.tmp"));
  EXPECT_EQ(readFile(dir / "full.vrx"), bytesOf(a) + bytesOf(a));
  // A new recording starts with a clean slate.
  ASSERT_EQ(recordClip(live.window, live.decoding, 1, (dir / "next.vrx").string()), 1);
  EXPECT_EQ(recordingFailure(recorders, false).code, 0);
}

// A clip may grow only as far as its index can point: the record that would start beyond that ends
// the recording, which keeps every record a player can reach and gets its name.
TEST(Recording, AClipEndsWhereItsIndexCanPointNoFurther) {
  TempDir dir;
  Live live;
  const auto a = frame(1);
  ASSERT_EQ(recordClip(live.window, live.decoding, 1, (dir / "long.vrx").string()), 1);
  ASSERT_EQ(live.deliver(0, a), 1);
  // Stands in for hours of records (a sparse file): the next record starts at the last offset.
  ASSERT_EQ(
      ::truncate((dir / "long.tmp").c_str(), static_cast<off_t>(formats::kLastIndexedRecordOffset)),
      0);
  ASSERT_EQ(live.deliver(0, a), 1);
  PaneRecorders& recorders = live.decoding.panes[0].recorders;
  EXPECT_TRUE(recordingMarkShown(recorders));
  ASSERT_EQ(live.deliver(0, a), 1);
  EXPECT_FALSE(recordingMarkShown(recorders));
  EXPECT_EQ(recordingFailure(recorders, false).code, formats::kFormatsErrTooLarge);
  EXPECT_FALSE(fs::exists(dir / "long.tmp"));
  EXPECT_EQ(fs::file_size(dir / "long.vrx"), formats::kLastIndexedRecordOffset + a.size());
}

// Pictures shown line-doubled are recorded as they came, and the AVI says so: a header of twice
// their height would make players weave the frames in pairs as fields.
TEST(Recording, AviOfLineDoubledPicturesDescribesTheFramesItHolds) {
  TempDir dir;
  Live live;
  auto field = [](int phase) { return codedPicture(704, 240, 0, false, "", phase).plain; };
  ASSERT_EQ(live.deliver(0, field(0)), 1);
  EXPECT_EQ(currentPictureSize(live.window.panes[0], live.decoding.panes[0]),
            (PictureSize{704, 480}));
  ASSERT_EQ(recordAvi(live.window, live.decoding, 1, (dir / "f.avi").string()), 1);
  for (int i = 1; i <= 6; ++i) ASSERT_EQ(live.deliver(0, field(i)), 1);
  ASSERT_EQ(finishAllRecordings(live.decoding), 1);
  const std::string avi = readFile(dir / "f.avi");
  ASSERT_GT(avi.size(), 184u);
  auto le32 = [&avi](std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, avi.data() + at, 4);
    return v;
  };
  EXPECT_EQ(le32(48), 6u);                                                      // frames
  EXPECT_EQ(std::make_pair(le32(64), le32(68)), std::make_pair(704u, 240u));    // main header
  EXPECT_EQ(std::make_pair(le32(176), le32(180)), std::make_pair(704u, 240u));  // stream format
  const auto probe = kv4r::testing::runProgram(
      "/usr/bin/ffprobe",
      {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
       "stream=nb_read_frames", "-of", "csv=p=0", (dir / "f.avi").string()});
  EXPECT_EQ(probe.exit_status, 0) << probe.err;
  EXPECT_EQ(probe.err, "");
  EXPECT_EQ(probe.out, "6\n");
}

// A frame whose header reads with a warning (stray bytes before a table) is a picture to decoders
// and to the player: the live view shows and records it too.
TEST(Recording, AFrameWhoseHeaderReadsWithAWarningIsShownAndRecorded) {
  TempDir dir;
  Live live;
  auto stray = codedPicture(352, 240, 0, false, "", 3).plain;
  const std::size_t app_end = 4 + (stray[4] << 8 | stray[5]);
  stray.insert(stray.begin() + static_cast<std::ptrdiff_t>(app_end), {0x00, 0x00});
  (void)formats::writeBe32(stray, formats::kOffRecordLength,
                           static_cast<std::uint32_t>(stray.size()));
  ASSERT_EQ(recordClip(live.window, live.decoding, 1, (dir / "s.vrx").string()), 1);
  ASSERT_EQ(recordAvi(live.window, live.decoding, 1, (dir / "s.avi").string()), 1);
  EXPECT_EQ(live.deliver(0, stray), 1);
  EXPECT_EQ(currentPictureSize(live.window.panes[0], live.decoding.panes[0]),
            (PictureSize{352, 240}));
  ASSERT_EQ(finishAllRecordings(live.decoding), 2);
  EXPECT_EQ(readFile(dir / "s.vrx"), bytesOf(stray));
  EXPECT_EQ(formats::AviFileFrames((dir / "s.avi").string()), 1);
}

// A recording stopped before it took a frame leaves no file: an empty one would keep the name from
// the next recording, which would then stay in its working file.
TEST(Recording, ARecordingWithoutFramesLeavesNoFileAndTheNextGetsTheName) {
  TempDir dir;
  Live live;
  const std::string path = (dir / "cam.vrx").string();
  ASSERT_EQ(live.deliver(0, frame(0)), 1);
  ASSERT_EQ(recordClip(live.window, live.decoding, 1, path), 1);
  ASSERT_EQ(recordAvi(live.window, live.decoding, 1, path), 1);
  EXPECT_EQ(recordClip(live.window, live.decoding, 1, ""), 0);
  EXPECT_EQ(recordAvi(live.window, live.decoding, 1, ""), 0);
  ASSERT_EQ(live.deliver(0, frame(1)), 1);  // finishes both
  EXPECT_TRUE(fs::is_empty(dir.path()));

  ASSERT_EQ(recordClip(live.window, live.decoding, 1, path), 1);
  ASSERT_EQ(recordAvi(live.window, live.decoding, 1, path), 1);
  const auto a = frame(2);
  ASSERT_EQ(live.deliver(0, a), 1);
  EXPECT_EQ(finishAllRecordings(live.decoding), 2);
  EXPECT_EQ(readFile(dir / "cam.vrx"), bytesOf(a));
  EXPECT_EQ(formats::AviFileFrames((dir / "cam.avi").string()), 1);
  EXPECT_FALSE(fs::exists(dir / "cam.tmp"));
  EXPECT_FALSE(fs::exists(dir / "cam.avi.tmp"));
}

// Every frame went in, but the index at the end cannot be written: the file still gets its name
// (the frames are in it), and the failure is there for the host to report.
TEST(Recording, AFinishThatCannotWriteTheIndexIsReported) {
  TempDir dir;
  Live live;
  ASSERT_EQ(live.deliver(0, frame(0)), 1);
  ASSERT_EQ(recordAvi(live.window, live.decoding, 1, (dir / "i.avi").string()), 1);
  for (int i = 1; i <= 3; ++i) ASSERT_EQ(live.deliver(0, frame(i)), 1);
  PaneRecorders& recorders = live.decoding.panes[0].recorders;
  EXPECT_EQ(recordingFailure(recorders, true).code, 0);
  // The file may not grow any more: the index behind the frames fails (EFBIG).
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old_limit{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit small = old_limit;
  small.rlim_cur = fs::file_size(dir / "i.tmp");
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int finished = finishAllRecordings(live.decoding);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old_limit), 0);
  EXPECT_EQ(finished, 1);
  const RecordingFailure failure = recordingFailure(recorders, true);
  EXPECT_EQ(failure.code, formats::kFormatsErrWrite);
  EXPECT_EQ(failure.error, EFBIG);
  EXPECT_TRUE(failure.at_finish);
  EXPECT_FALSE(fs::exists(dir / "i.tmp"));
  EXPECT_EQ(readFile(dir / "i.avi").substr(0, 4), "RIFF") << "the headers are still written";
}

TEST(Recording, RefusedWithoutSessionDisabledPaneOrBadCameraAndMinusOneForAnUncreatableFile) {
  TempDir dir;
  Live live;
  const std::string path = (dir / "r.vrx").string();
  for (int camera : {0, 5, -1}) {
    EXPECT_EQ(recordClip(live.window, live.decoding, camera, path), 0);
    EXPECT_EQ(recordAvi(live.window, live.decoding, camera, path), 0);
  }
  live.window.panes[2].enabled.store(false);
  EXPECT_EQ(recordClip(live.window, live.decoding, 3, path), 0);
  live.window.connected.store(0);
  EXPECT_EQ(recordAvi(live.window, live.decoding, 1, path), 0);
  live.window.connected.store(1);
  EXPECT_FALSE(fs::exists(dir / "r.tmp"));
  const std::string missing = (dir / "no" / "such" / "r.vrx").string();
  EXPECT_EQ(recordClip(live.window, live.decoding, 1, missing), kDecodeErrFileCreate);
  EXPECT_EQ(recordAvi(live.window, live.decoding, 1, missing), kDecodeErrFileCreate);
  EXPECT_FALSE(recordingMarkShown(live.decoding.panes[0].recorders));
}

TEST(AviRecording, FramesBecomeChunksAndTheFileEndsAsAvi) {
  TempDir dir;
  Live live;
  ASSERT_EQ(live.deliver(0, frame(0)), 1);
  ASSERT_EQ(recordAvi(live.window, live.decoding, 1, (dir / "m.vrx").string()), 1);
  EXPECT_EQ(recordAvi(live.window, live.decoding, 1, (dir / "again.avi").string()), 0);
  for (int i = 1; i <= 3; ++i) ASSERT_EQ(live.deliver(0, frame(i)), 1);
  EXPECT_EQ(formats::AviWriterFrames(live.decoding.panes[0].recorders.avi), 3);
  EXPECT_EQ(recordAvi(live.window, live.decoding, 1, ""), 0);
  ASSERT_EQ(live.deliver(0, frame(4)), 1);
  EXPECT_FALSE(fs::exists(dir / "m.tmp"));
  const std::string avi = readFile(dir / "m.avi");
  ASSERT_GT(avi.size(), formats::kAviHeaderSize);
  EXPECT_EQ(avi.substr(0, 4), "RIFF");
  EXPECT_EQ(avi.substr(8, 4), "AVI ");
}

TEST(Snapshots, BitmapNeedsADrawnPaneWithAPicture) {
  TempDir dir;
  Live live;
  std::vector<std::uint8_t> bmp{1, 2, 3};
  EXPECT_EQ(getBitmap(live.window, live.decoding, 1, &bmp), 0);  // no picture yet
  EXPECT_TRUE(bmp.empty());
  EXPECT_EQ(saveBitmap(live.window, live.decoding, 1, (dir / "none.bmp").string()), 0);
  EXPECT_FALSE(fs::exists(dir / "none.bmp"));

  ASSERT_EQ(live.deliver(0, frame(1)), 1);
  live.window.panes[0].draw.store(false);
  EXPECT_EQ(getBitmap(live.window, live.decoding, 1, &bmp), 0);
  EXPECT_TRUE(bmp.empty());
  live.window.panes[0].draw.store(true);
  ASSERT_EQ(getBitmap(live.window, live.decoding, 1, &bmp), 54 + 352 * 240 * 3);
  EXPECT_EQ(saveBitmap(live.window, live.decoding, 1, (dir / "a.bmp").string()), 1);
  EXPECT_EQ(readFile(dir / "a.bmp"), bytesOf(bmp));
  EXPECT_EQ(saveBitmap(live.window, live.decoding, 1, (dir / "no" / "a.bmp").string()),
            kDecodeErrFileCreate);
  EXPECT_EQ(getBitmap(live.window, live.decoding, 7, &bmp), 0);
}

TEST(Snapshots, GrabTakesTheNextDecodedRecord) {
  TempDir dir;
  Live live;
  const auto a = frame(5);
  std::thread deliverer([&] {
    // Wait until the grab is pending, then deliver a frame as the stream would.
    for (;;) {
      {
        std::lock_guard lock(live.decoding.panes[0].grab.mutex);
        if (live.decoding.panes[0].grab.pending) break;
      }
      std::this_thread::yield();
    }
    (void)live.deliver(0, a);
  });
  EXPECT_EQ(saveJpeg(live.window, live.decoding, 1, (dir / "a.jpg").string()), 1);
  deliverer.join();
  EXPECT_EQ(readFile(dir / "a.jpg"), bytesOf(a));
}

TEST(Snapshots, GrabWithoutFramesEndsAfterItsBoundAndLeavesNoFile) {
  TempDir dir;
  Live live;
  std::vector<std::uint8_t> jpeg{1};
  EXPECT_EQ(grabNextRecord(live.decoding.panes[0].grab, &jpeg, 20), 0);
  EXPECT_TRUE(jpeg.empty());
  EXPECT_FALSE(live.decoding.panes[0].grab.pending);
  // A frame after the time-out goes nowhere.
  EXPECT_EQ(offerToGrab(live.decoding.panes[0].grab, frame(1)), 0);
  live.window.panes[0].draw.store(false);
  EXPECT_EQ(getJpeg(live.window, live.decoding, 1, &jpeg), 0);  // not drawn: no wait at all
  EXPECT_EQ(saveJpeg(live.window, live.decoding, 1, (dir / "x.jpg").string()), 0);
  EXPECT_FALSE(fs::exists(dir / "x.jpg"));
  live.window.connected.store(0);
  live.window.panes[0].draw.store(true);
  EXPECT_EQ(saveJpeg(live.window, live.decoding, 1, (dir / "x.jpg").string()), 0);
}

TEST(Snapshots, InterruptionEndsOnlyAGrabThatAskedForIt) {
  Live live;
  GrabHandoff& grab = live.decoding.panes[0].grab;
  std::vector<std::uint8_t> jpeg{1};
  const std::uint64_t since = grabInterruptions(grab);
  interruptGrab(grab);  // before the grab starts: still ends it at once
  EXPECT_EQ(grabNextRecord(grab, &jpeg, 60'000, since), kGrabInterrupted);
  EXPECT_TRUE(jpeg.empty());
  EXPECT_FALSE(grab.pending);
  EXPECT_EQ(grabNextRecord(grab, &jpeg, 20), 0);  // without a count it waits out its bound
}

// The key dialog's case: the delivering thread holds a frame until the grab's thread has answered
// it. The grab answers before it waits and again when the request ends its wait.
TEST(Snapshots, GrabAnswersWhatTheDeliveringThreadWaitsFor) {
  Live live;
  GrabHandoff& grab = live.decoding.panes[0].grab;
  std::mutex mutex;
  std::condition_variable changed;
  int answers = 0;
  bool grab_returned = false;  // a grab that never answers must fail the test, not hang it
  live.decoding.answer_window_requests = [&] {
    std::lock_guard lock(mutex);
    ++answers;
    changed.notify_all();
  };
  auto waitUntilPending = [&] {
    for (;;) {
      {
        std::lock_guard lock(grab.mutex);
        if (grab.pending) return true;
      }
      {
        std::lock_guard lock(mutex);
        if (grab_returned) return false;
      }
      std::this_thread::yield();
    }
  };
  const auto a = frame(3);
  std::thread deliverer([&] {
    if (!waitUntilPending()) return;
    int seen = 0;
    {
      std::lock_guard lock(mutex);
      seen = answers;
    }
    interruptGrabs(live.decoding);
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return answers > seen || grab_returned; });
    }
    if (waitUntilPending()) (void)live.deliver(0, a);
  });
  std::vector<std::uint8_t> jpeg;
  const int length = getJpeg(live.window, live.decoding, 1, &jpeg);
  {
    std::lock_guard lock(mutex);
    grab_returned = true;
    changed.notify_all();
  }
  deliverer.join();
  EXPECT_EQ(length, static_cast<int>(a.size()));
  EXPECT_TRUE(jpeg == a) << "the grab did not get the held frame";
  EXPECT_EQ(answers, 2);
}

TEST(Methods, DispatchResultsOfTheEightMethods) {
  using platform::Variant;
  TempDir dir;
  Live live;
  auto call = [&](int dispid, std::vector<Variant> args) {
    const platform::DispatchResult r = invokeDecodeMethod(live.window, live.decoding, dispid, args);
    return std::make_pair(r, args);
  };
  // GetBmp with bDraw1 FALSE: TRUE, an empty array and size 0.
  ASSERT_EQ(live.deliver(0, frame(1)), 1);
  live.window.panes[0].draw.store(false);
  auto [bmp, bmp_args] = call(kDispidGetBmp, {Variant(), Variant(), Variant::fromI2(1)});
  EXPECT_TRUE(bmp.ok());
  EXPECT_TRUE(bmp.value.boolValue());
  EXPECT_TRUE(bmp_args[0].bytesValue().empty());
  EXPECT_EQ(bmp_args[1].i4Value(), 0);
  live.window.panes[0].draw.store(true);
  auto [bmp2, bmp2_args] = call(kDispidGetBmp, {Variant(), Variant(), Variant::fromI2(1)});
  EXPECT_EQ(bmp2_args[1].i4Value(), 54 + 352 * 240 * 3);
  EXPECT_EQ(bmp2_args[0].bytesValue().size(), 54u + 352 * 240 * 3);

  // A bitmap that cannot be written is an exception, not FALSE.
  auto [bad, unused] = call(
      kDispidSaveBmp, {Variant::fromI2(1), Variant::fromString((dir / "no" / "x.bmp").string())});
  EXPECT_EQ(bad.code, platform::kDispException);
  auto [none, unused2] =
      call(kDispidSaveBmp, {Variant::fromI2(2), Variant::fromString((dir / "y.bmp").string())});
  EXPECT_TRUE(none.ok());
  EXPECT_FALSE(none.value.boolValue());
  EXPECT_FALSE(fs::exists(dir / "y.bmp"));

  auto [rec, unused3] =
      call(kDispidRecMovieVrx,
           {Variant::fromI2(1), Variant::fromString((dir / "no" / "r.vrx").string())});
  EXPECT_EQ(rec.value.i4Value(), -1);
  auto [stop, unused4] = call(kDispidRecMovieAvi, {Variant::fromI2(1), Variant::fromString("")});
  EXPECT_EQ(stop.value.i4Value(), 0);

  live.window.info.serial_number = "00-1A";
  EXPECT_EQ(call(kDispidGetMacAddr, {}).first.value.stringValue(), "00-1A");
  EXPECT_EQ(call(kDispidGetVersion, {}).first.value.i4Value(), 20040601);
  EXPECT_EQ(call(kDispidGetVersion, {Variant()}).first.code, platform::kDispBadParamCount);
  EXPECT_FALSE(isDecodeMethod(platform::kDispidAboutBox));
}

}  // namespace
}  // namespace kv4r::viewer
