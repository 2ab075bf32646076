#include "stream/camera_list.h"

namespace kv4r::stream {

std::string formatCameraList(int mask) {
  std::string list;
  for (int bit = 0; bit < 6; ++bit) {
    if ((mask & (1 << bit)) == 0) continue;
    if (!list.empty()) list += ',';
    list += static_cast<char>('1' + bit);
  }
  return list;
}

}  // namespace kv4r::stream
