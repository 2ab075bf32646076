#include "viewer/frame_unlock.h"

#include <algorithm>

#include "formats/formats_codes.h"
#include "formats/frame_record.h"
#include "viewer/decode_codes.h"

namespace kv4r::viewer {

void storeKey(FrameKey& key, const std::string& typed) {
  key.stored.fill(0);
  std::copy_n(typed.begin(), std::min(typed.size(), key.stored.size()), key.stored.begin());
}

int checkFrameKey(FrameKey& key, std::span<const std::uint8_t, formats::kKeyFieldSize> field) {
  if (formats::keyFieldMatches(field, key.stored)) return 1;
  std::string typed;
  const KeyAnswer answer = key.request_key ? key.request_key(&typed) : KeyAnswer::kNobody;
  if (answer == KeyAnswer::kWithdrawn) return kDecodeErrDropped;
  if (answer != KeyAnswer::kTyped) return kDecodeErrKeyRefused;
  storeKey(key, typed);
  return formats::keyFieldMatches(field, key.stored) ? 1 : kDecodeErrKeyRefused;
}

int unlockFrame(std::span<std::uint8_t> record, bool linux_variant, FrameKey& key) {
  formats::FrameHeader header;
  if (formats::parseFrameHeader(record, &header) != 1) return kDecodeErrRecord;
  const int mode = header.coding_flags & formats::kCodingModeMask;
  if (mode == 0) return 1;
  std::size_t block = formats::kRecordFixedSize;
  bool variant = false;
  if (mode >= 2) {
    // A shorter application segment would put the table block over the fixed part, and the
    // rebuild would overwrite the record's own length and stamp.
    if (header.app_length < formats::kMinAppLength) return kDecodeErrRecord;
    block = 4 + static_cast<std::size_t>(header.app_length);
    variant = linux_variant;
  }
  if (block + formats::kHeaderTemplateSize > record.size()) return kDecodeErrRecord;
  std::span<std::uint8_t> table_block = record.subspan(block, formats::kHeaderTemplateSize);
  // Check the parameters before the key, so a frame that cannot be shown never asks for a key.
  if (formats::readRebuildParameters(table_block, variant, nullptr) != 1) {
    return kDecodeErrParameters;
  }
  if (mode >= 2) {
    const auto field = table_block.subspan<formats::kKeyFieldOffset, formats::kKeyFieldSize>();
    const int checked = checkFrameKey(key, field);
    if (checked != 1) return checked;
  }
  if (formats::rebuildHeaderBlock(table_block, variant) != 1) return kDecodeErrParameters;
  const std::uint16_t flags =
      mode == 1 ? 0 : static_cast<std::uint16_t>(header.coding_flags & ~formats::kCodingModeMask);
  (void)formats::writeBe16(record, formats::kOffCodingFlags, flags);
  return 1;
}

}  // namespace kv4r::viewer
