// Scenario files: what they may say, and that a mistake is reported instead of half-applied.
#include <gtest/gtest.h>

#include <filesystem>

#include "sim/scenario.h"
#include "sim/sim_codes.h"
#include "tests/support/test_env.h"

namespace kv4r::sim {
namespace {

int parse(const std::string& json, Scenario* s, std::string* error) {
  return parseScenario(json, "/base", s, error);
}

TEST(Scenario, FullFileIsRead) {
  Scenario s;
  std::string error;
  ASSERT_EQ(parse(R"({
      "model": "0x2345", "kernel_version": 767, "os_type": "WINCE", "camera_count": 6,
      "digital_inputs": 2, "digital_outputs": 0, "camera_model": "PTZ",
      "serial_number": "SN-1", "server_name": "Lab", "rights": [241, "0x21", -1, 0],
      "key": "k1", "clock_refresh_ms": 0, "user_rights": {"ann": [1, 0, 0, 0], "bob": null},
      "cameras": [{"name": null, "size": "704x576", "mode": 3, "fps": 0, "quant_factor": 2},
                  {"name": "Gate", "jpeg_folder": "pics", "ring_size": 3}],
      "faults": {"only_stream": 2, "close_after_frames": 5, "close_mid_record": true,
                 "stall_after_frames": 1, "stall_ms": 300, "split_first_boundary": true,
                 "random_pieces": true, "piece_max_bytes": 3, "random_seed": 9,
                 "page_without_boundary": false, "other_model_on_connection": 4,
                 "zero_content_length": true}})",
                  &s, &error),
            1)
      << error;
  EXPECT_EQ(s.model, 0x2345);
  EXPECT_EQ(s.camera_count, 6);
  ASSERT_EQ(s.cameras.size(), 6u);
  EXPECT_FALSE(s.cameras[0].name.has_value());
  EXPECT_EQ(s.cameras[0].width, 704);
  EXPECT_EQ(s.cameras[0].mode, 3);
  EXPECT_EQ(s.cameras[0].fps, 0);
  EXPECT_EQ(s.cameras[1].source, PictureSource::kJpegFolder);
  EXPECT_EQ(s.cameras[1].path, "/base/pics");
  EXPECT_EQ(s.cameras[5].name.value_or(""), "Camera 6");  // filled with defaults
  EXPECT_EQ((*s.rights)[1], 0x21);
  EXPECT_EQ((*s.rights)[2], -1);
  EXPECT_EQ((*s.user_rights.at("ann"))[0], 1);
  EXPECT_FALSE(s.user_rights.at("bob").has_value());
  EXPECT_FALSE(usesLinuxVariant(s));
  EXPECT_EQ(s.faults.piece_max_bytes, 3);
  EXPECT_TRUE(s.faults.zero_content_length);
}

TEST(Scenario, EmptyFileGivesTheDefaultServer) {
  Scenario s;
  std::string error;
  ASSERT_EQ(parse("{}", &s, &error), 1) << error;
  EXPECT_EQ(s.camera_count, 4);
  EXPECT_EQ(s.cameras.size(), 4u);
  EXPECT_TRUE(usesLinuxVariant(s));
  ASSERT_TRUE(s.rights.has_value());
  ASSERT_EQ(parse(R"({"rights": null, "camera_count": 0})", &s, &error), 1) << error;
  EXPECT_FALSE(s.rights.has_value());
  EXPECT_TRUE(s.cameras.empty());
}

TEST(Scenario, MistakesAreReportedWithTheirPlace) {
  const std::pair<const char*, const char*> cases[] = {
      {"[1]", "top level"},
      {"{", "JSON"},
      {"{\n \"model\": 1,\n}", "not valid JSON (line 3, column 1"},
      {R"({"modle": 1})", "modle: unknown key"},
      {R"({"model": 70000})", "model"},
      {R"({"camera_count": 17})", "camera_count"},
      {R"({"camera_count": 1, "cameras": [{}, {}]})", "more entries"},
      {R"({"cameras": [{"size": "640x480", "mode": 1}]})", "rebuild sizes"},
      {R"({"cameras": [{"size": "big"}]})", "cameras[0].size"},
      {R"({"key": "k", "cameras": [{"mode": 3, "size": "352x112"}]})", "LINUX"},
      {R"({"cameras": [{"clip": "a.vrx", "mode": 1}]})", "replayed unchanged"},
      {R"({"cameras": [{"name": "a\"b"}]})", "double quote"},
      {R"({"key": "123456789"})", "key"},
      {R"({"faults": {"stall_ms": -1}})", "faults.stall_ms"},
      {R"({"cameras": [{"fps": -1}]})", "cameras[0].fps: must lie between 0 and 1000"},
      {R"({"faults": {"close_after": 1}})", "faults.close_after: unknown key"},
      {R"({"rights": [1, 2, 3]})", "rights"},
      {R"({"user_rights": {"ann": [1, "x", 0, 0]}})", "user_rights.ann.PROPERTY1"},
  };
  for (const auto& [json, reason] : cases) {
    Scenario s;
    s.model = 77;
    std::string error;
    EXPECT_EQ(parse(json, &s, &error), kSimErrScenario) << json;
    EXPECT_NE(error.find(reason), std::string::npos) << json << " -> " << error;
    EXPECT_EQ(s.model, 77) << "a failed parse must leave the scenario alone";
  }
}

TEST(Scenario, KeyOfCodedCamerasMayBeGivenAfterTheFile) {
  Scenario s;
  std::string error;
  ASSERT_EQ(parse(R"({"cameras": [{"mode": 2}, {"mode": 3}]})", &s, &error), 1) << error;
  EXPECT_EQ(validateScenario(&s, &error), kSimErrScenario);
  EXPECT_NE(error.find("cameras[0].mode: modes 2 and 3 need a key"), std::string::npos) << error;
  s.key = "gate7";
  EXPECT_EQ(validateScenario(&s, &error), 1) << error;
  // The other checks of those cameras still run while the key is missing.
  EXPECT_EQ(parse(R"({"cameras": [{"mode": 2, "size": "640x480"}]})", &s, &error), kSimErrScenario);
  EXPECT_NE(error.find("rebuild sizes"), std::string::npos) << error;
}

TEST(Scenario, FilesAreReadAndPathsResolvedBesideThem) {
  testing::TempDir dir;
  testing::writeFile(dir / "s.json", R"({"cameras": [{"clip": "c.vrx"}]})");
  Scenario s;
  std::string error;
  ASSERT_EQ(loadScenario((dir / "s.json").string(), &s, &error), 1) << error;
  EXPECT_EQ(s.cameras[0].path, (dir / "c.vrx").string());
  EXPECT_EQ(loadScenario((dir / "missing.json").string(), &s, &error), kSimErrScenario);
  EXPECT_NE(error.find("missing.json"), std::string::npos);
}

TEST(Scenario, SampleFilesOfTheFolderAreValid) {
  const std::filesystem::path folder = std::filesystem::path(KV4R_SOURCE_DIR) / "sim/scenarios";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".json") continue;
    Scenario s;
    std::string error;
    EXPECT_EQ(loadScenario(entry.path().string(), &s, &error), 1) << error;
    ++files;
  }
  EXPECT_GE(files, 3);
}

}  // namespace
}  // namespace kv4r::sim
