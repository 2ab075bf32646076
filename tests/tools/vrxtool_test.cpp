// vrxtool end to end: each subcommand on real clips, the exported AVI read back by ffprobe and
// decoded by ffmpeg, and damaged clips found by verify.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "formats/clip_reader.h"
#include "formats/frame_record.h"
#include "tests/formats/clip_fixture.h"
#include "tests/support/test_env.h"

extern char** environ;

namespace kv4r::formats {
namespace {

using testing::Bytes;
using testing::ProgramResult;

constexpr std::int64_t kTen = 1083837600;  // 2004-05-06 10:00:00

ProgramResult vrxtool(const std::vector<std::string>& args) {
  return testing::runProgram(testing::programPath("vrxtool"), args);
}

// vrxtool run under a limit of `bytes` a file, which it inherits (it ignores the signal that goes
// with the limit, which would otherwise kill it in the middle of a file).
ProgramResult vrxtoolWithFileLimit(const std::vector<std::string>& args, rlim_t bytes) {
  rlimit saved{};
  if (getrlimit(RLIMIT_FSIZE, &saved) != 0) return {};
  rlimit limited = saved;
  limited.rlim_cur = bytes;
  if (setrlimit(RLIMIT_FSIZE, &limited) != 0) return {};
  ProgramResult result = vrxtool(args);
  (void)setrlimit(RLIMIT_FSIZE, &saved);
  return result;
}

class VrxtoolTest : public ::testing::Test {
 protected:
  // `count` records of 352 x 240, ten per second from `start` (10:00:00 unless given), cameras
  // alternating 1 and 2.
  std::vector<Bytes> makeClip(int count, std::int64_t start = kTen) {
    std::vector<Bytes> records;
    for (int i = 0; i < count; ++i) {
      records.push_back(testing::pictureRecord(start + i / 10, (i % 10) * 10, i % 5, 352, 240,
                                               static_cast<std::uint16_t>(1 + i % 2)));
    }
    testing::writeBytes(clip_, testing::concat(records));
    return records;
  }

  testing::TempDir dir_;
  std::filesystem::path clip_ = dir_ / "cam.vrx";
};

TEST_F(VrxtoolTest, EverySubcommandHasHelpAndBadUseFails) {
  for (const char* command : {"info", "index", "export", "extract", "verify"}) {
    const ProgramResult help = vrxtool({command, "--help"});
    EXPECT_EQ(help.exit_status, 0) << command;
    EXPECT_NE(help.out.find("Usage"), std::string::npos) << command;
    EXPECT_NE(vrxtool({command}).exit_status, 0) << command;  // the clip is required
  }
  EXPECT_NE(vrxtool({}).exit_status, 0);
  EXPECT_NE(vrxtool({"play", clip_.string()}).exit_status, 0);
  const ProgramResult missing = vrxtool({"info", (dir_ / "none.vrx").string()});
  EXPECT_EQ(missing.exit_status, 1);
  EXPECT_NE(missing.err.find("cannot open " + (dir_ / "none.vrx").string() + ": " +
                             std::strerror(ENOENT)),
            std::string::npos)
      << missing.err;
  // A folder is no clip, for any subcommand (it used to pass for an empty clip).
  std::filesystem::create_directory(dir_ / "folder.vrx");
  for (const char* command : {"info", "index", "verify"}) {
    const ProgramResult folder = vrxtool({command, (dir_ / "folder.vrx").string()});
    EXPECT_EQ(folder.exit_status, 1) << command;
    EXPECT_NE(folder.err.find("it is a folder"), std::string::npos) << command << folder.err;
  }
  EXPECT_EQ(ClipFilePtr(ClipFileOpen((dir_ / "folder.vrx").string())), nullptr);
  EXPECT_EQ(errno, EISDIR);
  // Another kind of file is refused instead of being summarised as records of nonsense; verify
  // still walks it and reports it bad.
  const std::string text = (dir_ / "notes.vrx").string();
  testing::writeBytes(dir_ / "notes.vrx", Bytes(3000, 'a'));
  for (const std::vector<std::string>& args : {std::vector<std::string>{"info", text},
                                               {"index", text},
                                               {"extract", text, (dir_ / "pics").string()},
                                               {"export", text, (dir_ / "notes.avi").string()}}) {
    const ProgramResult refused = vrxtool(args);
    EXPECT_EQ(refused.exit_status, 1) << args[0];
    EXPECT_EQ(refused.out, "") << args[0];
    EXPECT_NE(refused.err.find("does not start with a frame record"), std::string::npos)
        << args[0] << refused.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "notes.avi"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "notes.lst"));
  EXPECT_EQ(vrxtool({"verify", text}).exit_status, 1);
  // An export onto the clip itself is refused before anything is written.
  makeClip(3);
  const std::string before = testing::readFile(clip_);
  const ProgramResult onto_clip = vrxtool({"export", clip_.string(), clip_.string()});
  EXPECT_EQ(onto_clip.exit_status, 2);
  EXPECT_NE(onto_clip.err.find("is the clip itself"), std::string::npos) << onto_clip.err;
  EXPECT_EQ(testing::readFile(clip_), before);
}

TEST_F(VrxtoolTest, InfoSummarisesTheClip) {
  makeClip(25);
  const ProgramResult r = vrxtool({"info", clip_.string()});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("records:  25\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("cameras:  1, 2\n"), std::string::npos);
  EXPECT_NE(r.out.find("first:    2004-05-06 10:00:00.00\n"), std::string::npos);
  EXPECT_NE(r.out.find("last:     2004-05-06 10:00:02.40\n"), std::string::npos);
  EXPECT_NE(r.out.find("duration: 2.40 s\n"), std::string::npos);
  EXPECT_NE(r.out.find("picture:  352 x 240\n"), std::string::npos);
  EXPECT_NE(r.out.find("bytes:    " + std::to_string(std::filesystem::file_size(clip_))),
            std::string::npos);
}

TEST_F(VrxtoolTest, IndexWritesTheListBesideTheClip) {
  makeClip(12);
  const ProgramResult r = vrxtool({"index", clip_.string()});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("12 records indexed"), std::string::npos);
  EXPECT_EQ(std::filesystem::file_size(dir_ / "cam.lst"), 12u * 24);

  testing::writeBytes(dir_ / "empty.vrx", {});
  const ProgramResult empty = vrxtool({"index", (dir_ / "empty.vrx").string()});
  EXPECT_EQ(empty.exit_status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "empty.lst"));
}

TEST_F(VrxtoolTest, ExportedAviIsReadByFfprobeAndDecodesCleanly) {
  if (!std::filesystem::exists("/usr/bin/ffprobe") || !std::filesystem::exists("/usr/bin/ffmpeg")) {
    GTEST_SKIP() << "ffprobe/ffmpeg not installed";
  }
  makeClip(30);
  const std::filesystem::path avi = dir_ / "out.avi";
  const ProgramResult r = vrxtool({"export", clip_.string(), avi.string()});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "Complete. 30/30 frames is recorded\n");

  const ProgramResult probe = testing::runProgram(
      "/usr/bin/ffprobe",
      {"-v", "error", "-select_streams", "v:0", "-count_frames", "-show_entries",
       "stream=codec_name,r_frame_rate,nb_frames,nb_read_frames,width,height", "-of",
       "default=noprint_wrappers=1", avi.string()});
  ASSERT_EQ(probe.exit_status, 0) << probe.err;
  EXPECT_EQ(probe.err, "");
  for (const char* line :
       {"codec_name=mjpeg\n", "width=352\n", "height=240\n", "r_frame_rate=10000000/333667\n",
        "nb_frames=30\n", "nb_read_frames=30\n"}) {
    EXPECT_NE(probe.out.find(line), std::string::npos) << line << " in\n" << probe.out;
  }
  const ProgramResult decode = testing::runProgram(
      "/usr/bin/ffmpeg", {"-v", "error", "-i", avi.string(), "-f", "null", "-"});
  EXPECT_EQ(decode.exit_status, 0);
  EXPECT_EQ(decode.out + decode.err, "");
}

TEST_F(VrxtoolTest, ExportOfATimeRangeUsesTheLastRecordOfEachSecond) {
  makeClip(30);
  const std::filesystem::path avi = dir_ / "range.avi";
  ProgramResult r = vrxtool({"export", clip_.string(), avi.string(), "--start",
                             "2004-05-06 10:00:01", "--end", "2004-05-06 10:00:02"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "Complete. 11/11 frames is recorded\n");  // records 19 to 29

  const std::string taken = "vrxtool export: " + avi.string() +
                            " exists already; give another name, or --force to replace it\n";
  const std::uintmax_t range_size = std::filesystem::file_size(avi);
  r = vrxtool({"export", clip_.string(), avi.string()});
  EXPECT_EQ(r.exit_status, 2);
  EXPECT_EQ(r.err, taken);
  EXPECT_EQ(std::filesystem::file_size(avi), range_size) << "an existing file is left alone";
  r = vrxtool({"export", clip_.string(), avi.string(), "--force"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "Complete. 30/30 frames is recorded\n");
  EXPECT_GT(std::filesystem::file_size(avi), range_size);

  std::filesystem::remove(avi);
  r = vrxtool({"export", clip_.string(), avi.string(), "--start", "2004-05-06 10:00:02", "--end",
               "2004-05-06 10:00:01"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "Invalid start/end time\n");
  EXPECT_EQ(r.err,
            "vrxtool export: give times within the clip, from 2004-05-06 10:00:00 to 2004-05-06 "
            "10:00:02, with --start not after --end\n");
  r = vrxtool({"export", clip_.string(), avi.string(), "--start", "10:00:01"});
  EXPECT_NE(r.exit_status, 0);
  EXPECT_NE(r.err.find("YYYY-MM-DD HH:MM:SS"), std::string::npos);
  r = vrxtool({"export", clip_.string(), (dir_ / "no" / "x.avi").string()});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "AVI file open error\nvrxtool export: cannot create " +
                       (dir_ / "no" / "x.avi").string() + ": its folder " + (dir_ / "no").string() +
                       ": " + std::strerror(ENOENT) + "\n");
}

TEST_F(VrxtoolTest, StampsAfter2038AreShownAndExportedAsStamped) {
  makeClip(25, stampSeconds(2040, 2, 29, 12, 0, 0));
  ProgramResult r = vrxtool({"info", clip_.string()});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("first:    2040-02-29 12:00:00.00\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("last:     2040-02-29 12:00:02.40\n"), std::string::npos) << r.out;

  const std::filesystem::path avi = dir_ / "range.avi";
  r = vrxtool({"export", clip_.string(), avi.string(), "--start", "2040-02-29 12:00:01", "--end",
               "2040-02-29 12:00:02"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "Complete. 6/6 frames is recorded\n");  // records 19 to 24
  r = vrxtool(
      {"export", clip_.string(), (dir_ / "none.avi").string(), "--start", "2040-02-29 12:00:03"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err,
            "vrxtool export: give times within the clip, from 2040-02-29 12:00:00 to 2040-02-29 "
            "12:00:02, with --start not after --end\n");
}

TEST_F(VrxtoolTest, ExportOfAnInterruptedRecordingKeepsItsWholeRecords) {
  const std::vector<Bytes> records = makeClip(30);
  const Bytes whole = testing::concat(records);
  const std::size_t last_at = whole.size() - records.back().size();
  const std::filesystem::path avi = dir_ / "out.avi";
  // A file that only looks like an export's working file is none of the export's business.
  testing::writeBytes(dir_ / "out.avi.part", Bytes{'m', 'i', 'n', 'e'});
  const std::string warning = "vrxtool export: warning: the record at offset " +
                              std::to_string(last_at) +
                              " is cut short by the end of the clip and is left out\n";
  for (const std::size_t cut : {last_at + 30, whole.size() - 1}) {  // fixed part, body
    testing::writeBytes(clip_, Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)));
    std::filesystem::remove(avi);
    const ProgramResult r = vrxtool({"export", clip_.string(), avi.string()});
    EXPECT_EQ(r.exit_status, 0) << cut << ": " << r.err;
    EXPECT_EQ(r.out, "Complete. 29/29 frames is recorded\n") << cut;
    EXPECT_EQ(r.err, warning) << cut;
    EXPECT_TRUE(std::filesystem::exists(avi)) << cut;
  }
  EXPECT_EQ(testing::readBytes(dir_ / "out.avi.part"), (Bytes{'m', 'i', 'n', 'e'}));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out.avi.1.part"));
}

TEST_F(VrxtoolTest, ExportOfAClipDamagedInTheMiddleKeepsTheFramesBeforeAndFails) {
  const std::vector<Bytes> records = makeClip(20);
  Bytes bytes = testing::concat(records);
  std::size_t damaged_at = 0;
  for (int i = 0; i < 10; ++i) damaged_at += records[static_cast<std::size_t>(i)].size();
  ASSERT_EQ(writeBe32(std::span(bytes).subspan(damaged_at), kOffRecordLength, 0), 1);
  testing::writeBytes(clip_, bytes);
  const std::filesystem::path avi = dir_ / "out.avi";
  const ProgramResult r = vrxtool({"export", clip_.string(), avi.string()});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "Complete. 10/10 frames is recorded\n");
  EXPECT_EQ(r.err, "vrxtool export: warning: the record at offset " + std::to_string(damaged_at) +
                       " claims fewer than 60 bytes; it and the records behind it are left out\n");
  const Bytes exported = testing::readBytes(avi);
  ASSERT_GE(exported.size(), 52u);
  EXPECT_EQ(exported[48], 10);  // the frames before the damage are kept
}

// Bytes inside a clip that are no record: written between two records, or reached by a record
// whose length is one too large. Neither is an interrupted recording, and neither passes as a
// picture.
TEST_F(VrxtoolTest, BytesThatAreNoRecordAreDamageForExportExtractAndInfo) {
  const std::vector<Bytes> records = makeClip(6);
  const std::size_t fourth_at = records[0].size() + records[1].size() + records[2].size();
  Bytes junk(200, 0);
  ASSERT_EQ(writeBe32(junk, kOffRecordLength, 200), 1);
  const Bytes between = testing::concat(
      {records[0], records[1], records[2], junk, records[3], records[4], records[5]});
  std::vector<Bytes> lying = records;
  ASSERT_EQ(writeBe32(lying[2], kOffRecordLength, static_cast<std::uint32_t>(lying[2].size() + 1)),
            1);
  const std::string between_at = std::to_string(fourth_at);
  const std::string lying_at = std::to_string(fourth_at + 1);

  struct Case {
    const char* what;
    Bytes bytes;
    std::string damaged_at;
    int pictures;  // extracted: every record that is one
  };
  for (const Case& c : {Case{"between", between, between_at, 6},
                        Case{"lying length", testing::concat(lying), lying_at, 3}}) {
    testing::writeBytes(clip_, c.bytes);
    const std::filesystem::path avi = dir_ / "out.avi";
    std::filesystem::remove(avi);
    ProgramResult r = vrxtool({"export", clip_.string(), avi.string()});
    EXPECT_EQ(r.exit_status, 1) << c.what;
    EXPECT_EQ(r.out, "Complete. 3/3 frames is recorded\n") << c.what;
    EXPECT_EQ(r.err, "vrxtool export: warning: the bytes at offset " + c.damaged_at +
                         " are not a frame record; the clip is damaged there, and the records "
                         "behind it are left out\n")
        << c.what;

    const std::filesystem::path pics = dir_ / "pics";
    std::filesystem::remove_all(pics);
    r = vrxtool({"extract", clip_.string(), pics.string()});
    EXPECT_EQ(r.exit_status, 1) << c.what;
    EXPECT_EQ(r.err, "vrxtool extract: the clip is damaged at offset " + c.damaged_at +
                         ": the bytes there are not a frame record and are left out\n")
        << c.what;
    EXPECT_EQ(r.out, std::to_string(c.pictures) + " pictures written to " + pics.string() + "\n")
        << c.what;
    int pictures = 0;
    for (const auto& entry : std::filesystem::directory_iterator(pics)) {
      const Bytes picture = testing::readBytes(entry.path());
      ASSERT_GE(picture.size(), 2u) << entry.path();
      EXPECT_TRUE(picture[0] == 0xFF && picture[1] == 0xD8) << entry.path();
      ++pictures;
    }
    EXPECT_EQ(pictures, c.pictures) << c.what;

    r = vrxtool({"info", clip_.string()});
    EXPECT_EQ(r.exit_status, 0) << c.what;
    EXPECT_NE(r.out.find("records:  3\n"), std::string::npos) << c.what << r.out;
    EXPECT_NE(r.out.find("last:     2004-05-06 10:00:00.20\n"), std::string::npos)
        << c.what << r.out;
    EXPECT_EQ(r.err, "vrxtool info: warning: the bytes at offset " + c.damaged_at +
                         " are not a frame record; the clip is damaged there and is read as "
                         "ending there\n")
        << c.what;
  }
}

TEST_F(VrxtoolTest, ExportRefusesAFolderForItsOutput) {
  makeClip(3);
  const std::filesystem::path folder = dir_ / "out.avi";
  std::filesystem::create_directory(folder);
  for (const bool force : {false, true}) {
    std::vector<std::string> args = {"export", clip_.string(), folder.string()};
    if (force) args.push_back("--force");
    const ProgramResult r = vrxtool(args);
    EXPECT_EQ(r.exit_status, 1) << force;
    EXPECT_EQ(r.out, "") << force;
    EXPECT_EQ(r.err, "vrxtool export: " + folder.string() +
                         " is a folder; give the name of the AVI file to write\n")
        << force;
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out.avi.part"));
  }
}

TEST_F(VrxtoolTest, AnInterruptedExportLeavesNoPartialFileAndKeepsTheFileItWasToReplace) {
  // A long clip, so that the export is still writing when the signal comes.
  const std::vector<Bytes> ten = makeClip(10);
  std::vector<Bytes> many;
  for (int i = 0; i < 300; ++i) many.insert(many.end(), ten.begin(), ten.end());
  testing::writeBytes(clip_, testing::concat(many));
  const std::filesystem::path avi = dir_ / "out.avi";
  const std::filesystem::path working = dir_ / "out.avi.part";
  const Bytes earlier{'e', 'a', 'r', 'l', 'i', 'e', 'r'};
  testing::writeBytes(avi, earlier);

  const std::string program = testing::programPath("vrxtool").string();
  const std::string log = (dir_ / "log").string();
  std::vector<std::string> args = {program, "export", clip_.string(), avi.string(), "--force"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  bool exited = false;
  std::error_code error;
  while (!(exited = waitpid(pid, &status, WNOHANG) == pid) &&
         !(std::filesystem::exists(working, error) &&
           std::filesystem::file_size(working, error) > 1000000)) {
    std::this_thread::yield();
  }
  if (!exited) {
    kill(pid, SIGINT);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
  }
  if (WIFSIGNALED(status)) {
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    EXPECT_EQ(testing::readBytes(avi), earlier);
  } else {  // the export was quicker than the signal: then it is complete
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(testing::readFile(log), "Complete. 3000/3000 frames is recorded\n");
  }
  EXPECT_FALSE(std::filesystem::exists(working));
}

TEST_F(VrxtoolTest, AnExportThatOutgrowsAFileSizeLimitKeepsTheFramesThatFit) {
  makeClip(30);
  const std::filesystem::path avi = dir_ / "out.avi";
  const ProgramResult r = vrxtoolWithFileLimit({"export", clip_.string(), avi.string()}, 100000);
  EXPECT_EQ(r.exit_status, 1);
  const Bytes written = testing::readBytes(avi);
  ASSERT_GT(written.size(), 56u);
  const std::uint32_t frames = written[48] | written[49] << 8 | written[50] << 16 |
                               static_cast<std::uint32_t>(written[51]) << 24;
  EXPECT_GT(frames, 0u);
  EXPECT_LT(frames, 30u);
  EXPECT_EQ(r.err, "AVI file write error\nvrxtool export: " + avi.string() + " holds the first " +
                       std::to_string(frames) + " of the 30 frames\n");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out.avi.part"));
}

TEST_F(VrxtoolTest, ExtractWritesEachRecordAsAPicture) {
  const std::vector<Bytes> records = makeClip(3);
  ProgramResult r = vrxtool({"extract", clip_.string(), (dir_ / "pics").string()});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(testing::readBytes(dir_ / "pics" / "000000_2004-05-06_10-00-00.00.jpg"), records[0]);
  EXPECT_EQ(testing::readBytes(dir_ / "pics" / "000002_2004-05-06_10-00-00.20.jpg"), records[2]);

  // An interrupted recording: the whole records are extracted, the cut one is named.
  const Bytes whole = testing::concat(records);
  const std::size_t last_at = whole.size() - records.back().size();
  for (const std::size_t cut : {last_at + 30, whole.size() - 1}) {  // fixed part, body
    testing::writeBytes(clip_, Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)));
    const std::filesystem::path pics = dir_ / ("cut" + std::to_string(cut));
    r = vrxtool({"extract", clip_.string(), pics.string()});
    EXPECT_EQ(r.exit_status, 0) << cut << ": " << r.err;
    EXPECT_EQ(r.err, "vrxtool extract: warning: the record at offset " + std::to_string(last_at) +
                         " is cut short by the end of the clip and is left out\n");
    EXPECT_EQ(r.out, "2 pictures written to " + pics.string() + "\n");
  }
  // Bytes behind the last record that do not start like one are no record cut short.
  testing::writeBytes(clip_, testing::concat({whole, Bytes(30, 0)}));
  const std::filesystem::path tail = dir_ / "tail";
  r = vrxtool({"extract", clip_.string(), tail.string()});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "vrxtool extract: the clip is damaged at offset " +
                       std::to_string(whole.size()) +
                       ": the bytes there are not a frame record and are left out\n");
  EXPECT_EQ(r.out, "3 pictures written to " + tail.string() + "\n");
}

TEST_F(VrxtoolTest, ExtractThatCannotWriteAPictureLeavesNoPartOfIt) {
  makeClip(3);
  const std::filesystem::path pics = dir_ / "pics";
  // Every picture is larger than 4096 bytes.
  const ProgramResult r = vrxtoolWithFileLimit({"extract", clip_.string(), pics.string()}, 4096);
  EXPECT_EQ(r.exit_status, 1);
  const std::filesystem::path first = pics / "000000_2004-05-06_10-00-00.00.jpg";
  EXPECT_EQ(r.err, "vrxtool extract: cannot write " + first.string() + "\n");
  EXPECT_TRUE(std::filesystem::is_empty(pics)) << "a cut picture is left under its name";
}

TEST_F(VrxtoolTest, VerifyFindsTheFirstDamagedRecord) {
  std::vector<Bytes> records = makeClip(5);
  ProgramResult r = vrxtool({"verify", clip_.string()});
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "5 records checked, 0 bad\n");

  const std::string third_at = std::to_string(records[0].size() + records[1].size());
  // `only_one`: the records behind the damaged one are whole and must not be counted bad.
  struct Damage {
    const char* what;
    bool only_one;
    std::function<void(std::vector<Bytes>&)> apply;
  };
  const Damage damages[] = {
      {"coding bits", true, [](std::vector<Bytes>& rs) { rs[2][kOffCodingFlags + 1] = 1; }},
      {"scan data", true,
       [](std::vector<Bytes>& rs) {
         Bytes& r2 = rs[2];
         for (std::size_t i = 700; i < r2.size() - 2; ++i) r2[i] = 0xFF;  // no valid code words
       }},
      {"end marker", true, [](std::vector<Bytes>& rs) { rs[2].back() = 0; }},
      {"unknown marker", true,
       [](std::vector<Bytes>& rs) {
         Bytes& r2 = rs[2];
         for (std::size_t i = kRecordFixedSize; i + 1 < r2.size(); ++i) {
           if (r2[i] == 0xFF && r2[i + 1] == 0xDB) {  // the first quantisation table's marker
             r2[i + 1] = 0x91;
             break;
           }
         }
       }},
      {"lying length", false,
       [](std::vector<Bytes>& rs) {
         (void)writeBe32(rs[2], kOffRecordLength, static_cast<std::uint32_t>(rs[2].size() + 10));
       }},
  };
  for (const Damage& damage : damages) {
    std::vector<Bytes> damaged = records;
    damage.apply(damaged);
    testing::writeBytes(clip_, testing::concat(damaged));
    r = vrxtool({"verify", clip_.string()});
    EXPECT_EQ(r.exit_status, 1) << damage.what;
    EXPECT_NE(r.out.find("first bad record: 2 at offset " + third_at), std::string::npos)
        << damage.what << ":\n"
        << r.out;
    if (damage.only_one) {
      EXPECT_EQ(r.out.find("5 records checked, 1 bad\n"), 0u) << damage.what << ":\n" << r.out;
    }
  }

  // Cut inside the fourth record's header.
  Bytes cut = testing::concat(records);
  const std::size_t fourth_at = records[0].size() + records[1].size() + records[2].size();
  cut.resize(fourth_at + 30);
  testing::writeBytes(clip_, cut);
  r = vrxtool({"verify", clip_.string()});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.out.find("first bad record: 3 at offset " + std::to_string(fourth_at)),
            std::string::npos)
      << r.out;
}

}  // namespace
}  // namespace kv4r::formats
