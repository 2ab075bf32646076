#include "viewer/live_decoding.h"

#include "formats/frame_record.h"
#include "platform/trace.h"
#include "stream/sbpool.h"
#include "viewer/decode_codes.h"

namespace kv4r::viewer {
namespace {

bool linuxServer(const ViewerWindow& window) {
  return window.info.os_type == "LINUX";
}

// A key that does not match: every pane hidden, the message shown once (later frames are given
// back by the stream owner while the flag is set).
void refuseKey(ViewerWindow& window) {
  window.key_refused.store(true);
  for (CameraPane& pane : window.panes) pane.draw.store(false);
  if (window.boxes != nullptr) window.boxes->show(kWrongKeyText, platform::MessageIcon::Warning);
}

int drop(LiveDecoding& decoding, void* buffer, int code) {
  stream::poolPut(buffer);
  decoding.dropped.fetch_add(1);
  return code;
}

// Swaps the new picture in and asks for a repaint (steps 7 and 8 of the frame entry).
void showPicture(ViewerWindow& window, LiveDecoding& decoding, CameraPane& pane,
                 stream::PictureBuffer* picture) {
  PaneDecoding& pd = decoding.panes[pane.index];
  const bool painter = static_cast<bool>(decoding.request_repaint);
  bool whole = false;
  {
    std::lock_guard lock(pd.picture_lock);
    if (painter && pd.repaint_pending) {
      stream::poolPut(picture);
      return;
    }
    const PictureSize old_size =
        pane.picture != nullptr ? convertedPictureSize({static_cast<int>(pane.picture->width),
                                                        static_cast<int>(pane.picture->height)})
                                : PictureSize{};
    if (pane.picture != nullptr) stream::poolPut(pane.picture);
    pane.picture = picture;
    const PictureSize new_size =
        convertedPictureSize({static_cast<int>(picture->width), static_cast<int>(picture->height)});
    whole = !(old_size == new_size);
    if (painter) pd.repaint_pending = true;
  }
  if (painter) decoding.request_repaint(pane.index, whole);
  if (pane.relayout_on_next_picture) {
    pane.relayout_on_next_picture = false;
    if (window.request_layout) window.request_layout();
  }
}

}  // namespace

void attachDecoding(ViewerWindow& window, LiveDecoding& decoding) {
  for (CameraPane& pane : window.panes) {
    pane.on_frame = [&window, &decoding](CameraPane& p, void* buffer, int length) {
      (void)frameEntry(window, decoding, p, buffer, length);
    };
  }
}

int frameEntry(ViewerWindow& window, LiveDecoding& decoding, CameraPane& pane, void* buffer,
               int length) {
  if (buffer == nullptr) return kDecodeErrDropped;
  if (!pane.enabled.load() || pane.index < 0 || pane.index >= kPaneCount || length <= 0 ||
      length > stream::kReceiveBlockBytes) {
    return drop(decoding, buffer, kDecodeErrDropped);
  }
  PaneDecoding& pd = decoding.panes[pane.index];
  std::span<std::uint8_t> record(static_cast<std::uint8_t*>(buffer),
                                 static_cast<std::size_t>(length));

  // Coded frames. While a key is refused, protected frames are not even looked at.
  formats::FrameHeader header;
  if (formats::parseFrameHeader(record, &header) != 1) {
    return drop(decoding, buffer, kDecodeErrRecord);
  }
  const int mode = header.coding_flags & formats::kCodingModeMask;
  if (mode >= 2 && window.key_refused.load()) {
    return drop(decoding, buffer, kDecodeErrKeyRefused);
  }
  const int unlocked = unlockFrame(record, linuxServer(window), decoding.key);
  if (unlocked == kDecodeErrKeyRefused) refuseKey(window);
  if (unlocked != 1) return drop(decoding, buffer, unlocked);

  (void)countFrame(pd.stats, steadyNowNs());

  stream::PictureBuffer* picture = stream::takePictureBlock(window.pools.picture);
  if (picture == nullptr) return drop(decoding, buffer, kDecodeErrDropped);
  const int decoded = decodeFrame(pd.decoder, record, picture);
  if (decoded != 1) {
    stream::poolPut(picture);
    return drop(decoding, buffer, decoded);
  }
  (void)offerToGrab(pd.grab, record);
  (void)feedRecorders(pd.recorders, record);
  stream::poolPut(buffer);
  showPicture(window, decoding, pane, picture);
  pd.frames_decoded.fetch_add(1);
  decoding.decoded.fetch_add(1);
  return 1;
}

void paintPicture(CameraPane& pane, PaneDecoding& decoding,
                  const std::function<void(const stream::PictureBuffer*)>& draw) {
  std::lock_guard lock(decoding.picture_lock);
  if (pane.picture != nullptr) (void)convertPicture(pane.picture);
  if (draw) draw(pane.picture);
  decoding.repaint_pending = false;
}

PictureSize currentPictureSize(CameraPane& pane, PaneDecoding& decoding) {
  std::lock_guard lock(decoding.picture_lock);
  if (pane.picture == nullptr) return {};
  return convertedPictureSize(
      {static_cast<int>(pane.picture->width), static_cast<int>(pane.picture->height)});
}

void interruptGrabs(LiveDecoding& decoding) {
  for (PaneDecoding& pd : decoding.panes) interruptGrab(pd.grab);
}

int finishAllRecordings(LiveDecoding& decoding) {
  int finished = 0;
  for (PaneDecoding& pd : decoding.panes) finished += finishRecorders(pd.recorders);
  return finished;
}

}  // namespace kv4r::viewer
