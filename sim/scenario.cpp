#include "sim/scenario.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "sim/sim_codes.h"

namespace kv4r::sim {
namespace {

using nlohmann::json;

// A bound as a person writes it: "1000", "0.5", not "1000.000000".
std::string shortText(double value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

// A reader over one JSON object that records the first error and rejects unknown keys.
class ObjectReader {
 public:
  ObjectReader(const json& object, std::string where, std::string* error)
      : object_(object), where_(std::move(where)), error_(error) {}

  bool ok() const { return ok_; }

  bool fail(const std::string& key, const std::string& what) {
    if (ok_) *error_ = where_ + key + ": " + what;
    ok_ = false;
    return false;
  }

  const json* find(const std::string& key) {
    seen_.push_back(key);
    auto it = object_.find(key);
    return it == object_.end() ? nullptr : &*it;
  }

  // Integers may be JSON numbers or strings such as "0x1234".
  void integer(const std::string& key, std::int64_t low, std::int64_t high, std::int64_t* value) {
    const json* v = find(key);
    if (!v || !ok_) return;
    std::int64_t parsed = 0;
    if (v->is_number_integer()) {
      parsed = v->get<std::int64_t>();
    } else if (v->is_string()) {
      const std::string text = v->get<std::string>();
      char* end = nullptr;
      errno = 0;
      parsed = std::strtoll(text.c_str(), &end, 0);
      if (text.empty() || *end != '\0' || errno != 0) {
        fail(key, "not a number: \"" + text + "\"");
        return;
      }
    } else {
      fail(key, "must be an integer");
      return;
    }
    if (parsed < low || parsed > high) {
      fail(key, "must lie between " + std::to_string(low) + " and " + std::to_string(high));
      return;
    }
    *value = parsed;
  }

  void integer(const std::string& key, std::int64_t low, std::int64_t high, int* value) {
    std::int64_t wide = *value;
    integer(key, low, high, &wide);
    *value = static_cast<int>(wide);
  }

  void number(const std::string& key, double low, double high, double* value) {
    const json* v = find(key);
    if (!v || !ok_) return;
    if (!v->is_number()) {
      fail(key, "must be a number");
      return;
    }
    const double parsed = v->get<double>();
    if (!(parsed >= low && parsed <= high)) {
      fail(key, "must lie between " + shortText(low) + " and " + shortText(high));
      return;
    }
    *value = parsed;
  }

  void boolean(const std::string& key, bool* value) {
    const json* v = find(key);
    if (!v || !ok_) return;
    if (!v->is_boolean()) {
      fail(key, "must be true or false");
      return;
    }
    *value = v->get<bool>();
  }

  void text(const std::string& key, std::size_t max_length, std::string* value) {
    const json* v = find(key);
    if (!v || !ok_) return;
    if (!v->is_string()) {
      fail(key, "must be a text");
      return;
    }
    std::string parsed = v->get<std::string>();
    if (parsed.size() > max_length) {
      fail(key, "longer than " + std::to_string(max_length) + " characters");
      return;
    }
    if (parsed.find_first_of(std::string("\"\r\n\0", 4)) != std::string::npos) {
      fail(key, "must not hold a double quote, a line break or a zero byte");
      return;
    }
    *value = std::move(parsed);
  }

  // After all known keys were asked for: any other key is a mistake in the file.
  void rejectUnknown() {
    if (!ok_) return;
    for (auto it = object_.begin(); it != object_.end(); ++it) {
      bool known = false;
      for (const std::string& k : seen_) known = known || k == it.key();
      if (!known) {
        fail(it.key(), "unknown key");
        return;
      }
    }
  }

 private:
  const json& object_;
  std::string where_;
  std::string* error_;
  std::vector<std::string> seen_;
  bool ok_ = true;
};

// The parser's own words from "line L, column C: ..." on, without the exception's prefix.
std::string parseErrorPlace(const std::string& what) {
  const auto at = what.find("line ");
  return at == std::string::npos ? what : what.substr(at);
}

bool parseSize(const std::string& text, int* width, int* height) {
  int w = 0;
  int h = 0;
  char x = 0;
  std::istringstream in(text);
  if (!(in >> w >> x >> h) || (x != 'x' && x != 'X') || !in.eof()) return false;
  *width = w;
  *height = h;
  return true;
}

std::string resolvePath(const std::string& path, const std::string& base_folder) {
  std::filesystem::path p(path);
  if (p.is_absolute() || base_folder.empty()) return path;
  return (std::filesystem::path(base_folder) / p).string();
}

bool parseCamera(const json& object, int number, const std::string& base_folder,
                 CameraScenario* camera, std::string* error) {
  const std::string where = "cameras[" + std::to_string(number - 1) + "].";
  if (!object.is_object()) {
    *error = where.substr(0, where.size() - 1) + ": must be an object";
    return false;
  }
  ObjectReader r(object, where, error);
  camera->name = "Camera " + std::to_string(number);
  if (const json* name = r.find("name")) {
    if (name->is_null()) {
      camera->name.reset();
    } else {
      std::string text;
      r.text("name", 127, &text);
      camera->name = text;
    }
  }
  if (const json* size = r.find("size"); size && r.ok()) {
    if (!size->is_string() ||
        !parseSize(size->get<std::string>(), &camera->width, &camera->height)) {
      r.fail("size", "must be a text such as \"352x240\"");
    }
  }
  r.integer("mode", 0, 3, &camera->mode);
  r.number("fps", 0, 1000, &camera->fps);
  r.integer("quality", 1, 100, &camera->quality);
  r.integer("quant_factor", 1, 4, &camera->quant_factor);
  r.integer("ring_size", 1, 64, &camera->ring_size);
  std::string folder;
  std::string clip;
  r.text("jpeg_folder", 4096, &folder);
  r.text("clip", 4096, &clip);
  r.rejectUnknown();
  if (!r.ok()) return false;
  if (!folder.empty() && !clip.empty()) {
    *error = where + "clip: a camera takes either jpeg_folder or clip";
    return false;
  }
  if (!folder.empty()) {
    camera->source = PictureSource::kJpegFolder;
    camera->path = resolvePath(folder, base_folder);
  } else if (!clip.empty()) {
    camera->source = PictureSource::kClip;
    camera->path = resolvePath(clip, base_folder);
  }
  return true;
}

bool parseFaults(const json& object, FaultScenario* faults, std::string* error) {
  if (!object.is_object()) {
    *error = "faults: must be an object";
    return false;
  }
  ObjectReader r(object, "faults.", error);
  r.integer("only_stream", 0, 1000000, &faults->only_stream);
  r.integer("close_after_frames", 0, 100000000, &faults->close_after_frames);
  r.boolean("close_mid_record", &faults->close_mid_record);
  r.integer("stall_after_frames", 0, 100000000, &faults->stall_after_frames);
  r.integer("stall_ms", 0, 600000, &faults->stall_ms);
  r.boolean("split_first_boundary", &faults->split_first_boundary);
  r.integer("split_pause_ms", 0, 10000, &faults->split_pause_ms);
  r.boolean("random_pieces", &faults->random_pieces);
  r.integer("piece_max_bytes", 1, 65536, &faults->piece_max_bytes);
  std::int64_t seed = faults->random_seed;
  r.integer("random_seed", 0, 0xFFFFFFFFLL, &seed);
  faults->random_seed = static_cast<std::uint32_t>(seed);
  r.boolean("page_without_boundary", &faults->page_without_boundary);
  r.integer("other_model_on_connection", 0, 100000000, &faults->other_model_on_connection);
  r.boolean("zero_content_length", &faults->zero_content_length);
  r.rejectUnknown();
  return r.ok();
}

// A rights value: null, or four numbers (see ObjectReader::integer).
bool parseRights(const json& value, const std::string& where,
                 std::optional<std::vector<std::int64_t>>* rights, std::string* error) {
  if (value.is_null()) {
    rights->reset();
    return true;
  }
  if (!value.is_array() || value.size() != 4) {
    *error = where + ": must be an array of four values, or null";
    return false;
  }
  std::vector<std::int64_t> values(4, 0);
  json wrapper = json::object();
  for (int i = 0; i < 4; ++i) wrapper["PROPERTY" + std::to_string(i)] = value[i];
  ObjectReader reader(wrapper, where + ".", error);
  for (int i = 0; i < 4; ++i) {
    reader.integer("PROPERTY" + std::to_string(i), -0x80000000LL, 0xFFFFFFFFLL, &values[i]);
  }
  if (!reader.ok()) return false;
  *rights = values;
  return true;
}

bool isRebuildSize(int width, int height) {
  for (const PictureSize& s : rebuildSizes()) {
    if (s.width == width && s.height == height) return true;
  }
  return false;
}

}  // namespace

const std::vector<PictureSize>& rebuildSizes() {
  static const std::vector<PictureSize> sizes = {{176, 112}, {176, 144}, {352, 112}, {352, 144},
                                                 {352, 240}, {352, 288}, {704, 240}, {704, 288},
                                                 {704, 480}, {704, 576}};
  return sizes;
}

bool usesLinuxVariant(const Scenario& scenario) {
  return scenario.kernel_version >= 768 && scenario.os_type == "LINUX";
}

Scenario defaultScenario() {
  Scenario scenario;
  std::string ignored;
  (void)validateScenario(&scenario, &ignored);
  return scenario;
}

namespace {

// validateScenario; with `key_needed` false a camera in mode 2 or 3 may still lack its key.
int checkScenario(Scenario* s, std::string* error, bool key_needed) {
  auto bad = [&](const std::string& why) {
    *error = why;
    return kSimErrScenario;
  };
  if (s->model < 0 || s->model > 0xFFFF) return bad("model: must lie between 0 and 0xFFFF");
  if (s->camera_count < 0 || s->camera_count > 16) {
    return bad("camera_count: must lie between 0 and 16");
  }
  if (static_cast<int>(s->cameras.size()) > s->camera_count) {
    return bad("cameras: more entries than camera_count");
  }
  if (s->key.size() > 8) return bad("key: at most 8 characters");
  if (s->clock_refresh_ms != 0 && s->clock_refresh_ms < 100) {
    return bad("clock_refresh_ms: 0 (never) or at least 100");
  }
  while (static_cast<int>(s->cameras.size()) < s->camera_count) {
    CameraScenario camera;
    camera.name = "Camera " + std::to_string(s->cameras.size() + 1);
    s->cameras.push_back(camera);
  }
  if (s->rights && s->rights->size() != 4) return bad("rights: must hold four values or be null");
  const bool linux_variant = usesLinuxVariant(*s);
  for (std::size_t i = 0; i < s->cameras.size(); ++i) {
    const CameraScenario& c = s->cameras[i];
    const std::string where = "cameras[" + std::to_string(i) + "].";
    if (c.width < 16 || c.width > 720 || c.height < 16 || c.height > 576) {
      return bad(where + "size: between 16x16 and 720x576");
    }
    if (c.mode != 0 && !isRebuildSize(c.width, c.height)) {
      return bad(where +
                 "size: coding modes 1 to 3 need one of the rebuild sizes "
                 "(176x112 ... 704x576)");
    }
    if ((c.mode == 2 || c.mode == 3) && linux_variant && c.width == 352 && c.height <= 144) {
      return bad(where +
                 "size: a LINUX server cannot describe 352x112 or 352x144 in modes 2 and 3");
    }
    if (key_needed && (c.mode == 2 || c.mode == 3) && s->key.empty()) {
      return bad(where + "mode: modes 2 and 3 need a key (--key or \"key\")");
    }
    if (c.source == PictureSource::kClip && c.mode != 0) {
      return bad(where + "mode: a clip is replayed unchanged, so its camera must use mode 0");
    }
  }
  return 1;
}

}  // namespace

int validateScenario(Scenario* s, std::string* error) {
  return checkScenario(s, error, true);
}

int parseScenario(const std::string& json_text, const std::string& base_folder, Scenario* out,
                  std::string* error) {
  json root;
  try {
    root = json::parse(json_text);
  } catch (const json::parse_error& e) {
    *error = "not valid JSON (" + parseErrorPlace(e.what()) + ")";
    return kSimErrScenario;
  }
  if (!root.is_object()) return *error = "the top level must be an object", kSimErrScenario;
  Scenario s;
  ObjectReader r(root, "", error);
  r.integer("model", 0, 0xFFFF, &s.model);
  r.integer("kernel_version", 0, 0x7FFFFFFF, &s.kernel_version);
  r.text("os_type", 15, &s.os_type);
  r.integer("camera_count", 0, 16, &s.camera_count);
  r.integer("digital_inputs", 0, 1000, &s.digital_inputs);
  r.integer("digital_outputs", 0, 1000, &s.digital_outputs);
  r.text("camera_model", 64, &s.camera_model);
  r.text("serial_number", 64, &s.serial_number);
  r.text("server_name", 127, &s.server_name);
  r.text("key", 8, &s.key);
  r.integer("clock_refresh_ms", 0, 3600000, &s.clock_refresh_ms);
  const json* rights = r.find("rights");
  const json* user_rights = r.find("user_rights");
  const json* cameras = r.find("cameras");
  const json* faults = r.find("faults");
  r.rejectUnknown();
  if (!r.ok()) return kSimErrScenario;
  if (cameras) {
    if (!cameras->is_array()) return *error = "cameras: must be an array", kSimErrScenario;
    for (std::size_t i = 0; i < cameras->size(); ++i) {
      CameraScenario camera;
      if (!parseCamera((*cameras)[i], static_cast<int>(i) + 1, base_folder, &camera, error)) {
        return kSimErrScenario;
      }
      s.cameras.push_back(camera);
    }
  }
  if (faults && !parseFaults(*faults, &s.faults, error)) return kSimErrScenario;
  if (rights && !parseRights(*rights, "rights", &s.rights, error)) return kSimErrScenario;
  if (user_rights) {
    if (!user_rights->is_object())
      return *error = "user_rights: must be an object", kSimErrScenario;
    for (auto it = user_rights->begin(); it != user_rights->end(); ++it) {
      std::optional<std::vector<std::int64_t>> values;
      if (!parseRights(*it, "user_rights." + it.key(), &values, error)) return kSimErrScenario;
      s.user_rights[it.key()] = values;
    }
  }
  // The key of modes 2 and 3 may come from elsewhere (kv4r_sim's --key); validateScenario, which
  // the server runs before it starts, asks for it once the scenario is complete.
  const int rc = checkScenario(&s, error, false);
  if (rc < 0) return rc;
  *out = std::move(s);
  return 1;
}

int loadScenario(const std::string& path, Scenario* scenario, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return *error = "cannot read " + path, kSimErrScenario;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return *error = "cannot read " + path, kSimErrScenario;
  const std::string folder = std::filesystem::path(path).parent_path().string();
  const int rc = parseScenario(text.str(), folder, scenario, error);
  if (rc < 0) *error = path + ": " + *error;
  return rc;
}

}  // namespace kv4r::sim
