#include "formats/jpeg_decompressor.h"

#include <turbojpeg.h>

namespace kv4r::formats {

void* renewDecompressor(void* handle) {
  if (handle != nullptr) tjDestroy(handle);
  return tjInitDecompress();
}

}  // namespace kv4r::formats
