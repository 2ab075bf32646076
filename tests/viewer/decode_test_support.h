// A live view without a stream for the decoding tests: pools as a four-camera session makes them,
// the panes' frame entry called directly as the delivering thread would, and records of the
// development server's coding.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "formats/record_builder.h"
#include "platform/message_boxes.h"
#include "sim/coded_record.h"
#include "sim/picture_maker.h"
#include "stream/sbpool.h"
#include "viewer/live_decoding.h"

namespace kv4r::viewer::testing {

struct Live {
  platform::RecordingMessageBoxes boxes;
  ViewerWindow window;
  LiveDecoding decoding;

  Live() {
    EXPECT_EQ(stream::openFramePools(window.pools, 4), 1);
    window.connected.store(1);
    window.boxes = &boxes;
    window.active_mask.store(0xF);
  }
  ~Live() {
    (void)finishAllRecordings(decoding);
    for (CameraPane& pane : window.panes) pane.picture = nullptr;
  }

  // Copies `record` into a receive block and runs the frame entry of pane `index`.
  int deliver(int index, const std::vector<std::uint8_t>& record) {
    void* block = stream::poolGet(window.pools.receive);
    EXPECT_NE(block, nullptr);
    std::memcpy(block, record.data(), record.size());
    return frameEntry(window, decoding, window.panes[index], block,
                      static_cast<int>(record.size()));
  }

  // The current picture's pixels (bottom-up BGR) of pane `index`, after painting.
  std::vector<std::uint8_t> pixels(int index, int* width = nullptr, int* height = nullptr) {
    std::vector<std::uint8_t> out;
    paintPicture(window.panes[index], decoding.panes[index], [&](const stream::PictureBuffer* p) {
      if (p == nullptr) return;
      const auto* px = reinterpret_cast<const std::uint8_t*>(p) + p->pixel_offset;
      out.assign(px, px + static_cast<std::size_t>(p->width) * p->height * 3);
      if (width) *width = static_cast<int>(p->width);
      if (height) *height = static_cast<int>(p->height);
    });
    return out;
  }
};

// What the receiver does with a record that arrived without table block: a 603-byte gap at offset
// 60 with the extension bytes at its start.
inline std::vector<std::uint8_t> withTableGap(const std::vector<std::uint8_t>& wire) {
  if (wire.size() < 60 || !(wire[59] & 1)) return wire;
  const std::size_t extension = (wire[4] << 8 | wire[5]) - 56u;
  std::vector<std::uint8_t> out(wire.begin(), wire.begin() + 60 + static_cast<long>(extension));
  out.resize(60 + 603, 0);
  out.insert(out.end(), wire.begin() + 60 + static_cast<long>(extension), wire.end());
  const std::uint32_t length = static_cast<std::uint32_t>(out.size());
  for (int i = 0; i < 4; ++i) out[48 + i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
  out[4] = 0;
  out[5] = 56;
  return out;
}

// A coded picture of the development server's camera `camera` at `width` x `height`.
inline sim::CodedPicture codedPicture(int width, int height, int mode, bool linux_variant,
                                      const std::string& key, int phase = 3) {
  const sim::Picture picture = sim::makePatternPicture(width, height, 1, phase, 10, "Cam", "12:00");
  sim::CameraCoding coding;
  coding.mode = mode;
  coding.factor = 2;
  coding.linux_variant = linux_variant;
  coding.key = key;
  coding.server_name = "test";
  sim::CodedPicture coded;
  EXPECT_GT(sim::codePicture(picture, coding, &coded), 0);
  coded.wire = withTableGap(coded.wire);
  return coded;
}

}  // namespace kv4r::viewer::testing
