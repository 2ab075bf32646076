#include "viewer/snapshot_methods.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "viewer/bmp_writer.h"
#include "viewer/decode_codes.h"

namespace kv4r::viewer {
namespace {

// Writes the whole file or removes what was written. A file that a recording holds is left alone:
// writing it would cut into the recording.
int writeSnapshotFile(RecordingFiles& recording_files, const std::string& path,
                      const std::vector<std::uint8_t>& bytes) {
  if (recordingFileClaimed(recording_files, path)) {
    errno = EBUSY;
    return kDecodeErrFileCreate;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return kDecodeErrFileCreate;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool closed = ::close(fd) == 0;
  if (done != bytes.size() || !closed) {
    (void)::unlink(path.c_str());
    return kDecodeErrFileWrite;
  }
  return 1;
}

}  // namespace

bool paneCanDeliver(const ViewerWindow& window, int camera_id) {
  return window.connected.load() != 0 && camera_id >= 1 && camera_id <= kPaneCount &&
         window.panes[camera_id - 1].enabled.load();
}

int getJpeg(ViewerWindow& window, LiveDecoding& decoding, int camera_id,
            std::vector<std::uint8_t>* jpeg) {
  jpeg->clear();
  if (!paneCanDeliver(window, camera_id)) return 0;
  if (!window.panes[camera_id - 1].draw.load()) return 0;
  GrabHandoff& grab = decoding.panes[camera_id - 1].grab;
  for (;;) {
    // A frame that needs the key cannot arrive while this thread, which would ask for the key,
    // waits for it: answer such requests first, and again whenever one ends the wait.
    const std::uint64_t since = grabInterruptions(grab);
    if (decoding.answer_window_requests) decoding.answer_window_requests();
    const int length = grabNextRecord(grab, jpeg, kGrabTimeout_ms, since);
    if (length != kGrabInterrupted) return length;
  }
}

int getBitmap(ViewerWindow& window, LiveDecoding& decoding, int camera_id,
              std::vector<std::uint8_t>* bmp) {
  bmp->clear();
  if (!paneCanDeliver(window, camera_id)) return 0;
  CameraPane& pane = window.panes[camera_id - 1];
  if (!pane.draw.load()) return 0;
  PaneDecoding& pd = decoding.panes[camera_id - 1];
  std::lock_guard lock(pd.picture_lock);
  return buildBitmap(pane.picture, bmp);
}

int saveJpeg(ViewerWindow& window, LiveDecoding& decoding, int camera_id, const std::string& path) {
  std::vector<std::uint8_t> jpeg;
  if (getJpeg(window, decoding, camera_id, &jpeg) <= 0) return 0;
  return writeSnapshotFile(decoding.recording_files, path, jpeg);
}

int saveBitmap(ViewerWindow& window, LiveDecoding& decoding, int camera_id,
               const std::string& path) {
  std::vector<std::uint8_t> bmp;
  if (getBitmap(window, decoding, camera_id, &bmp) <= 0) return 0;
  return writeSnapshotFile(decoding.recording_files, path, bmp);
}

int recordClip(ViewerWindow& window, LiveDecoding& decoding, int camera_id,
               const std::string& path) {
  if (!paneCanDeliver(window, camera_id)) return 0;
  return startClipRecording(decoding.panes[camera_id - 1].recorders, path);
}

int recordAvi(ViewerWindow& window, LiveDecoding& decoding, int camera_id,
              const std::string& path) {
  if (!paneCanDeliver(window, camera_id)) return 0;
  // The header gives the size of the JPEG frames the file holds (taken from its first frame), not
  // the line-doubled size a pane shows them at: players read frames of half the header's height as
  // fields and weave them in pairs, which halves the frames and mixes two moments in each.
  return startAviRecording(decoding.panes[camera_id - 1].recorders, path, 0, 0);
}

std::string serverSerialNumber(const ViewerWindow& window) {
  return window.info.serial_number;
}

}  // namespace kv4r::viewer
