#include "player/open_request.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <new>
#include <string_view>

namespace kv4r::player {
namespace {

using platform::MessageIcon;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string cannotOpenText(const std::string& path) {
  return "File(" + path + ") couldn't be opened";
}

// Opens a clip for the view; 1, or 0 after telling the user.
int openClip(PlayerInput& input, const std::string& path, const OpenRequestHooks& hooks,
             platform::MessageBoxes& boxes) {
  ClipPlayer* player = ClipPlayerOpen(path, hooks.frame, hooks.status, hooks.clock);
  if (!player) {
    boxes.show(cannotOpenText(path), MessageIcon::Warning);
    return 0;
  }
  input.clip.reset(player);
  if (hooks.clip_opened) hooks.clip_opened(*player);
  return 1;
}

// Reads a picture file whole and shows it.
void openPicture(PlayerInput& input, const std::string& path, const OpenRequestHooks& hooks,
                 platform::MessageBoxes& boxes) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  // A folder opens too, with a size of nonsense; it is no picture file.
  struct stat st {};
  if (!file || ::fstat(::fileno(file.get()), &st) != 0 || !S_ISREG(st.st_mode)) {
    boxes.show(cannotOpenText(path), MessageIcon::Error);
    return;
  }
  long size = -1;
  if (std::fseek(file.get(), 0, SEEK_END) == 0) size = std::ftell(file.get());
  if (size < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) {
    boxes.show("jpeg read error", MessageIcon::Error);
    return;
  }
  // The frame handler takes an int length: a larger picture cannot be held.
  std::vector<std::uint8_t> bytes;
  try {
    if (size > INT_MAX) throw std::bad_alloc();
    bytes.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    boxes.show("malloc error", MessageIcon::Error);
    return;
  }
  if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
    boxes.show("jpeg read error", MessageIcon::Error);
    return;
  }
  file.reset();
  input.single_picture = 1;
  input.picture = std::move(bytes);
  if (hooks.show_picture) {
    hooks.show_picture(input.picture.data(), static_cast<int>(input.picture.size()));
  }
}

}  // namespace

void CloseInput(PlayerInput& input, const OpenRequestHooks& hooks) {
  const bool had_input = input.clip || !input.picture.empty();
  input.clip.reset();  // joins the worker: no frame callback runs after this
  input.picture.clear();
  input.picture.shrink_to_fit();
  input.single_picture = 0;
  if (had_input && hooks.forget_record) hooks.forget_record();
}

int HandleOpenRequest(PlayerInput& input, const std::string& path, const OpenRequestHooks& hooks,
                      platform::MessageBoxes& boxes) {
  CloseInput(input, hooks);
  // The file's own name tells what it is (as it tells the clip's index path), not its folders'.
  const std::string_view name = std::string_view(path).substr(path.rfind('/') + 1);
  if (name.find(".vrx") != std::string_view::npos) {
    if (!openClip(input, path, hooks, boxes)) {
      boxes.show("failed to loading file", MessageIcon::Error);
    }
    return 1;
  }
  if (name.find(".jpg") == std::string_view::npos) {
    boxes.show("File(" + path + ") is not supported", MessageIcon::Error);
    return 0;
  }
  openPicture(input, path, hooks, boxes);
  return 1;
}

}  // namespace kv4r::player
