// The scenario: everything a test or a demo may vary about the simulated server, read from a JSON
// file (schema in sim/README.md). Defaults give a four-camera server with moving test pictures.
//
// Plain data. Parsed once before the server starts and then only read, from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kv4r::sim {

// Where a camera's pictures come from.
enum class PictureSource : int {
  kPattern = 1,     // synthetic moving pattern with the camera's name and a clock
  kJpegFolder = 2,  // the JPEG files of a folder, in name order, scaled to the camera's size
  kClip = 3,        // the records of a .vrx clip, replayed at their own pace
};

struct CameraScenario {
  // Name sent as CAMNAME and in the records' camera item; absent = the camera page has no CAMNAME.
  std::optional<std::string> name;
  int width = 352;
  int height = 240;
  int mode = 0;          // coding mode 0..3
  double fps = 10;       // frames per second; 0 = as fast as the client reads (benchmarks)
  int quality = 75;      // JPEG quality of mode 0 (1..100)
  int quant_factor = 1;  // modes 1..3: multiplier of the rebuilt quantisation tables (1..4)
  int ring_size = 8;     // pre-encoded pictures per camera (pattern and folder sources)
  PictureSource source = PictureSource::kPattern;
  std::string path;  // folder or clip (resolved against the scenario file's folder)
};

struct FaultScenario {
  int only_stream = 0;            // stream faults apply to the Nth stream request only (0 = all)
  int close_after_frames = 0;     // close a stream after N parts (0 = never)
  bool close_mid_record = false;  // ... sending half of part N + 1 first
  int stall_after_frames = 0;     // after N parts stop sending for stall_ms (0 = never)
  int stall_ms = 0;
  bool split_first_boundary = false;  // the first "--myboundary" goes out in two writes
  int split_pause_ms = 30;            // ... this far apart
  bool random_pieces = false;         // the stream is written in random small pieces
  int piece_max_bytes = 16;
  std::uint32_t random_seed = 1;
  bool page_without_boundary = false;  // answer the stream request with a page and no parts
  int other_model_on_connection = 0;   // connection N's system information reports another model
  bool zero_content_length = false;    // Content-Length answers carry "Content-Length: 0", no body
};

struct Scenario {
  int model = 0x1234;             // Model= (0..0xFFFF, written "0x%04x")
  int kernel_version = 0x0300;    // KernelVersion=
  std::string os_type = "LINUX";  // OsType=
  int camera_count = 4;           // SupportCameraCount= (0..16); cameras 1..count stream
  int digital_inputs = 4;
  int digital_outputs = 1;
  std::string camera_model = "CCD";
  std::string serial_number = "00-1A-2B-3C-4D-5E";
  std::string server_name = "kv4r_sim";  // server item of every record
  // PROPERTY0..3 values; absent = the rights page lists no PROPERTY key (every camera allowed).
  std::optional<std::vector<std::int64_t>> rights = std::vector<std::int64_t>{0xFF, 0, 0, 0};
  // Rights of particular users (by the name they log in with), in place of `rights`.
  std::map<std::string, std::optional<std::vector<std::int64_t>>> user_rights;
  std::string key;                      // key of modes 2 and 3 (1..8 characters when used)
  int clock_refresh_ms = 1000;          // how often pattern pictures are redrawn (0 = never)
  std::vector<CameraScenario> cameras;  // camera_count entries after parsing
  FaultScenario faults;
};

// The picture sizes the receiver's header rebuild knows (width, height).
struct PictureSize {
  int width;
  int height;
};
[[nodiscard]] const std::vector<PictureSize>& rebuildSizes();

// True when a receiver rebuilds coded frames of this server with its "LINUX" variant: OsType
// LINUX and a kernel version of 768 or more.
[[nodiscard]] bool usesLinuxVariant(const Scenario& scenario);

// The default scenario with `camera_count` default cameras ("Camera 1", ...).
[[nodiscard]] Scenario defaultScenario();

// Parses a scenario from JSON text; relative paths are resolved against `base_folder`. Returns 1,
// or kSimErrScenario with a one-line English reason in *error. Unknown keys are errors. Every
// check of validateScenario runs but one: a camera in mode 2 or 3 may lack its key, which may
// still be given afterwards (kv4r_sim's --key); validateScenario requires it.
[[nodiscard]] int parseScenario(const std::string& json_text, const std::string& base_folder,
                                Scenario* scenario, std::string* error);

// Reads and parses a scenario file (see parseScenario).
[[nodiscard]] int loadScenario(const std::string& path, Scenario* scenario, std::string* error);

// Checks the values of a complete scenario (simStart runs it): 1, or kSimErrScenario with the
// reason. Fills missing cameras up to camera_count with defaults.
[[nodiscard]] int validateScenario(Scenario* scenario, std::string* error);

}  // namespace kv4r::sim
