#include "player/open_request.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/message_boxes.h"
#include "player/jpeg_decoder.h"
#include "player/player_commands.h"
#include "tests/player/clip_fixture.h"
#include "tests/support/sample_jpeg.h"
#include "tests/support/test_env.h"

namespace kv4r::player {
namespace {

using platform::RecordingMessageBoxes;
using Texts = std::vector<std::string>;
using testing::TempDir;

// The view's side as a test sees it: worker messages go to the same boxes, pictures are decoded.
struct FakeView {
  FakeView() {
    hooks.frame = probe.frameCallback();
    hooks.status = [this](int code, std::int64_t value) {
      if (const char* text = statusMessageText(code)) boxes.show(text);
      return probe.statusCallback()(code, value);
    };
    hooks.show_picture = [this](const std::uint8_t* record, int length) {
      ++pictures_shown;
      return DecodeJpegToDib(record, length, pixels.data(), kPictureBufferBytes, &width, &height) ==
                     0
                 ? 1
                 : 0;
    };
    hooks.forget_record = [this] { ++records_forgotten; };
    hooks.clip_opened = [this](ClipPlayer& player) { slider_last = player.entry_count - 1; };
  }

  int open(const std::filesystem::path& path) { return open(path.string()); }
  int open(const std::string& path) { return HandleOpenRequest(input, path, hooks, boxes); }

  RecordingMessageBoxes boxes;
  testing::WorkerProbe probe;
  OpenRequestHooks hooks;
  PlayerInput input;
  std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(kPictureBufferBytes);
  int width = 0;
  int height = 0;
  int pictures_shown = 0;
  int records_forgotten = 0;
  int slider_last = -1;
};

TEST(OpenRequest, VrxAnywhereInThePathOpensAClipWithItsIndexBeside) {
  TempDir dir;
  const std::filesystem::path clip = dir / "cam1.vrx.bak";
  testing::writeClip(clip, testing::evenStamps(3, 400));
  FakeView view;
  EXPECT_EQ(view.open(clip), 1);
  ASSERT_TRUE(view.input.clip);
  EXPECT_EQ(view.input.single_picture, 0);
  EXPECT_EQ(view.slider_last, 2);
  EXPECT_TRUE(std::filesystem::exists(dir / "cam1.lst"));
  EXPECT_EQ(std::filesystem::file_size(dir / "cam1.lst"), 3u * 24u);
  EXPECT_TRUE(view.boxes.texts().empty());
  ASSERT_TRUE(view.probe.waitForFrames(1));
}

TEST(OpenRequest, ExtensionTestsAreCaseSensitive) {
  TempDir dir;
  const std::filesystem::path upper = dir / "CAM1.VRX";
  testing::writeClip(upper, testing::evenStamps(2, 400));
  FakeView view;
  EXPECT_EQ(view.open(upper), 0);
  EXPECT_FALSE(view.input.clip);
  EXPECT_EQ(view.boxes.texts(), Texts{"File(" + upper.string() + ") is not supported"});

  view.boxes.clear();
  EXPECT_EQ(view.open(dir / "photo.JPG"), 0);
  EXPECT_EQ(view.boxes.texts(),
            Texts{"File(" + (dir / "photo.JPG").string() + ") is not supported"});

  // Only the file's own name counts, not its folders'.
  const std::filesystem::path folder = dir / "shots.vrx";
  std::filesystem::create_directory(folder);
  testing::SamplePicture sample;
  const std::vector<std::uint8_t> jpeg = testing::encodeSampleJpeg(sample);
  testing::writeFile(folder / "snap.jpg", std::string(jpeg.begin(), jpeg.end()));
  view.boxes.clear();
  EXPECT_EQ(view.open(folder / "snap.jpg"), 1);
  EXPECT_EQ(view.input.single_picture, 1);
  EXPECT_TRUE(view.boxes.texts().empty());
  EXPECT_EQ(view.open(dir / "old.jpg.d" / "notes.txt"), 0);
}

TEST(OpenRequest, ClipFailuresShowTheirMessagesInOrder) {
  TempDir dir;
  FakeView view;
  const std::string missing = (dir / "none.vrx").string();
  EXPECT_EQ(view.open(missing), 1);
  EXPECT_FALSE(view.input.clip);
  EXPECT_EQ(view.boxes.texts(), (Texts{"Open error", "File(" + missing + ") couldn't be opened",
                                       "failed to loading file"}));

  // A clip without a valid record indexes to nothing: no "Open error".
  view.boxes.clear();
  const std::filesystem::path empty = dir / "empty.vrx";
  testing::writeFile(empty, "");
  EXPECT_EQ(view.open(empty), 1);
  EXPECT_FALSE(view.input.clip);
  EXPECT_EQ(view.boxes.texts(),
            (Texts{"File(" + empty.string() + ") couldn't be opened", "failed to loading file"}));

  // A clip that ends inside a record's fixed part cannot be indexed.
  view.boxes.clear();
  const std::filesystem::path cut = dir / "cut.vrx";
  testing::writeClip(cut, testing::evenStamps(2, 400));
  std::filesystem::resize_file(cut, std::filesystem::file_size(cut) + 20);
  EXPECT_EQ(view.open(cut), 1);
  EXPECT_EQ(view.boxes.texts(),
            (Texts{"Open error", "File(" + cut.string() + ") couldn't be opened",
                   "failed to loading file"}));
}

TEST(OpenRequest, PictureIsReadWholeAndShownOnce) {
  TempDir dir;
  testing::SamplePicture sample;
  sample.width = 352;
  sample.height = 240;
  const std::vector<std::uint8_t> jpeg = testing::encodeSampleJpeg(sample);
  const std::filesystem::path path = dir / "snap.jpg";
  testing::writeFile(path, std::string(jpeg.begin(), jpeg.end()));
  FakeView view;
  EXPECT_EQ(view.open(path), 1);
  EXPECT_EQ(view.input.single_picture, 1);
  EXPECT_FALSE(view.input.clip);
  EXPECT_EQ(view.input.picture, jpeg);
  EXPECT_EQ(view.pictures_shown, 1);
  EXPECT_EQ(view.width, 352);
  EXPECT_EQ(view.height, 240);
  EXPECT_TRUE(view.boxes.texts().empty());
  EXPECT_FALSE(commandEnables(view.input.clip.get()).play);

  // A picture that does not decode says nothing; the request still succeeds.
  const std::filesystem::path broken = dir / "broken.jpg";
  testing::writeFile(broken, "not a picture");
  EXPECT_EQ(view.open(broken), 1);
  EXPECT_EQ(view.pictures_shown, 2);
  EXPECT_TRUE(view.boxes.texts().empty());

  const std::string missing = (dir / "gone.jpg").string();
  EXPECT_EQ(view.open(missing), 1);
  EXPECT_EQ(view.boxes.texts(), Texts{"File(" + missing + ") couldn't be opened"});
  EXPECT_EQ(view.input.single_picture, 0);
  EXPECT_TRUE(view.input.picture.empty());

  // A folder that is named like a picture cannot be opened as one.
  const std::filesystem::path folder = dir / "holiday.jpg";
  std::filesystem::create_directory(folder);
  EXPECT_EQ(view.open(folder), 1);
  EXPECT_EQ(view.boxes.texts().back(), "File(" + folder.string() + ") couldn't be opened");
  EXPECT_EQ(view.input.single_picture, 0);
}

TEST(OpenRequest, PreviousInputIsClosedBeforeTheNextIsTried) {
  TempDir dir;
  const std::filesystem::path clip = dir / "a.vrx";
  testing::writeClip(clip, testing::evenStamps(3, 400));
  FakeView view;
  ASSERT_EQ(view.open(clip), 1);
  ASSERT_TRUE(view.input.clip);
  ASSERT_TRUE(view.probe.waitForIdle(1));
  EXPECT_EQ(view.open(dir / "other.txt"), 0);
  EXPECT_FALSE(view.input.clip);
  EXPECT_EQ(view.records_forgotten, 1);
  // The closed worker said it ended.
  EXPECT_EQ(view.probe.statuses().back(), kStatusIdle);
  EXPECT_EQ(view.probe.idleCount(), 2);

  // Closing with nothing open forgets nothing.
  CloseInput(view.input, view.hooks);
  EXPECT_EQ(view.records_forgotten, 1);
}

}  // namespace
}  // namespace kv4r::player
