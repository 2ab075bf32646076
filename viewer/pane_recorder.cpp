#include "viewer/pane_recorder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "formats/formats_codes.h"
#include "platform/file_moves.h"
#include "platform/trace.h"
#include "viewer/decode_codes.h"

namespace kv4r::viewer {
namespace {

using platform::moveWithoutReplacing;

constexpr int kMaxKeptLeftovers = 99;

// Gives a finished working file its final name; a failure leaves the data in the working file. A
// recording that took no frame (stopped before the camera's next picture, or its first write
// failed) leaves no file: an empty one would only take the name from the next recording.
void finishWorkingFile(const std::string& from, const std::string& to, long long frames) {
  if (frames == 0) {
    if (::unlink(from.c_str()) != 0) platform::traceErr("remove %s failed\n", from.c_str());
    return;
  }
  if (!moveWithoutReplacing(from, to)) platform::traceErr("rename %s failed\n", from.c_str());
}

// A working file that an earlier recording left (it crashed, or its final name was taken) holds
// recorded data: it moves aside to the first free "<name>.1", "<name>.2", ... rather than being
// emptied by the new recording. False (errno set) when it cannot be moved.
bool keepLeftover(const std::string& temp) {
  struct stat st {};
  if (::stat(temp.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return true;
  for (int n = 1; n <= kMaxKeptLeftovers; ++n) {
    const std::string aside = temp + "." + std::to_string(n);
    if (moveWithoutReplacing(temp, aside)) {
      platform::traceErr("kept the earlier %s as %s\n", temp.c_str(), aside.c_str());
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// A recording holds an advisory lock on its working file from before the file is filled until
// after it has its final name. A recorder in another program that meets the file then neither takes
// it for the leftover of a crashed recording (and moves it aside under the running recording) nor
// writes into it.

// Opens and locks the working file `temp` of a new recording, empty; a leftover with data is moved
// aside first. The locked descriptor, or -1 with errno set (EBUSY when another program records into
// that file).
int lockWorkingFile(const std::string& temp) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    // A file system that cannot lock (errors other than a held lock) records unguarded.
    struct stat st {};
    const bool held_elsewhere = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (held_elsewhere || ::fstat(fd, &st) != 0) {
      const int error = held_elsewhere ? EBUSY : errno;
      ::close(fd);
      errno = error;
      return -1;
    }
    if (!S_ISREG(st.st_mode) || st.st_size == 0) return fd;
    // The leftover moves aside with the lock held; the next attempt creates the file anew.
    const bool kept = keepLeftover(temp);
    const int error = errno;
    ::close(fd);
    if (!kept) {
      errno = error;
      return -1;
    }
  }
  errno = EBUSY;  // other recorders keep racing for the name
  return -1;
}

void unlockWorkingFile(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

// A start that failed after the working file was locked leaves no empty file behind.
void abandonWorkingFile(const std::string& temp, int* fd) {
  if (*fd < 0) return;
  const int error = errno;
  struct stat st {};
  if (::fstat(*fd, &st) == 0 && st.st_size == 0) (void)::unlink(temp.c_str());
  unlockWorkingFile(fd);
  errno = error;
}

// The key under which a path is claimed: absolute, with dots and links of its folders resolved, so
// that two spellings of one file meet.
std::string fileKey(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) return path;
  const std::filesystem::path key = std::filesystem::weakly_canonical(absolute, error);
  return error ? absolute.string() : key.string();
}

// Claims the final name and a working file for a recording of `path`: the path with ".tmp", or the
// final name with ".tmp" when another recording works in the first. False (errno EBUSY) when the
// final name is held or neither working file is free.
bool claimFiles(RecordingFiles& files, const std::string& path, const std::string& final_path,
                std::string* temp_path, std::array<std::string, 2>* claims) {
  std::lock_guard lock(files.mutex);
  const std::string final_key = fileKey(final_path);
  std::string temp = recordingTempPath(path);
  std::string temp_key = fileKey(temp);
  if (files.claimed.count(temp_key) != 0) {
    temp = final_path + ".tmp";
    temp_key = fileKey(temp);
  }
  if (files.claimed.count(final_key) != 0 || files.claimed.count(temp_key) != 0) {
    platform::traceErr("%s is in use by another recording\n", final_path.c_str());
    errno = EBUSY;
    return false;
  }
  files.claimed.insert(final_key);
  files.claimed.insert(temp_key);
  *temp_path = temp;
  *claims = {final_key, temp_key};
  return true;
}

void releaseFiles(RecordingFiles& files, std::array<std::string, 2>* claims) {
  std::lock_guard lock(files.mutex);
  for (std::string& key : *claims) {
    files.claimed.erase(key);
    key.clear();
  }
}

// Whether a failed append ends the recording: the file cannot be written, or is as large as the
// format allows. What was written stays a whole file; a single record the writer refused does not
// end it. Notes the first failure.
bool endsRecording(int code, const std::string& temp_path, RecordingFailure* failure) {
  if (code != formats::kFormatsErrWrite && code != formats::kFormatsErrTooLarge) return false;
  const int error = errno;
  platform::traceErr("recording into %s ended: %s\n", temp_path.c_str(),
                     code == formats::kFormatsErrWrite ? std::strerror(error) : "file full");
  if (failure->code == 0) *failure = {code, code == formats::kFormatsErrWrite ? error : 0};
  return true;
}

// A finish that failed is noted unless an earlier failure of the recording is (which the finish
// then only repeats).
void noteFinishFailure(int code, int error, const std::string& temp_path,
                       RecordingFailure* failure) {
  platform::traceErr(
      "recording into %s could not be finished: %s\n", temp_path.c_str(),
      code == formats::kFormatsErrWrite ? std::strerror(error) : formats::formatsCodeName(code));
  if (failure->code == 0) *failure = {code, error, true};
}

void finishClip(PaneRecorders& r) {
  if (const int closed = formats::ClipWriterClose(r.clip); closed != 1) {
    noteFinishFailure(closed, errno, r.clip_temp_path, &r.clip_failure);
  }
  r.clip = nullptr;
  finishWorkingFile(r.clip_temp_path, r.clip_final_path, r.clip_frames);
  unlockWorkingFile(&r.clip_lock);
  releaseFiles(*r.files, &r.clip_claims);
}

void finishAvi(PaneRecorders& r) {
  int code = formats::AviWriterFinish(r.avi);
  int error = errno;
  if (const int closed = formats::AviWriterClose(r.avi); code == 0 && closed != 0) {
    code = closed;
    error = errno;
  }
  if (code != 0) noteFinishFailure(code, error, r.avi_temp_path, &r.avi_failure);
  r.avi = nullptr;
  finishWorkingFile(r.avi_temp_path, r.avi_final_path, r.avi_frames);
  unlockWorkingFile(&r.avi_lock);
  releaseFiles(*r.files, &r.avi_claims);
}

}  // namespace

PaneRecorders::~PaneRecorders() {
  (void)finishRecorders(*this);
}

std::string recordingTempPath(const std::string& path) {
  return formats::replaceExtension(path, ".tmp");
}

int startClipRecording(PaneRecorders& r, const std::string& path) {
  std::lock_guard lock(r.mutex);
  r.clip_path = path;
  if (path.empty()) {
    r.clip_recording = false;
    return 0;
  }
  if (r.clip != nullptr) return 0;
  r.clip_failure = {};
  r.clip_frames = 0;
  r.clip_final_path = formats::replaceExtension(path, ".vrx");
  if (!claimFiles(*r.files, path, r.clip_final_path, &r.clip_temp_path, &r.clip_claims)) {
    return kDecodeErrFileCreate;
  }
  r.clip_lock = lockWorkingFile(r.clip_temp_path);
  r.clip = r.clip_lock >= 0 ? formats::ClipWriterCreate(r.clip_temp_path) : nullptr;
  r.clip_recording = r.clip != nullptr;
  if (r.clip == nullptr) {
    abandonWorkingFile(r.clip_temp_path, &r.clip_lock);
    releaseFiles(*r.files, &r.clip_claims);
  }
  return r.clip != nullptr ? 1 : kDecodeErrFileCreate;
}

int startAviRecording(PaneRecorders& r, const std::string& path, int width, int height) {
  std::lock_guard lock(r.mutex);
  r.avi_path = path;
  if (path.empty()) {
    r.avi_recording = false;
    return 0;
  }
  if (r.avi != nullptr) return 0;
  r.avi_failure = {};
  r.avi_frames = 0;
  r.avi_final_path = formats::replaceExtension(path, ".avi");
  if (!claimFiles(*r.files, path, r.avi_final_path, &r.avi_temp_path, &r.avi_claims)) {
    return kDecodeErrFileCreate;
  }
  r.avi_lock = lockWorkingFile(r.avi_temp_path);
  r.avi = r.avi_lock >= 0 ? formats::AviWriterCreate(r.avi_temp_path, width, height) : nullptr;
  r.avi_recording = r.avi != nullptr;
  if (r.avi == nullptr) {
    abandonWorkingFile(r.avi_temp_path, &r.avi_lock);
    releaseFiles(*r.files, &r.avi_claims);
  }
  return r.avi != nullptr ? 1 : kDecodeErrFileCreate;
}

int feedRecorders(PaneRecorders& r, std::span<const std::uint8_t> record) {
  std::lock_guard lock(r.mutex);
  int taken = 0;
  if (r.clip != nullptr) {
    const int written = r.clip_recording ? formats::ClipWriterAppend(r.clip, record) : 0;
    if (written > 0) {
      ++r.clip_frames;
      ++taken;
    } else if (!r.clip_recording || endsRecording(written, r.clip_temp_path, &r.clip_failure)) {
      r.clip_recording = false;
      finishClip(r);
    }
  }
  if (r.avi != nullptr) {
    const int written = r.avi_recording ? formats::AviWriterAddFrame(r.avi, record) : 0;
    if (written > 0) {
      ++r.avi_frames;
      ++taken;
    } else if (!r.avi_recording || endsRecording(written, r.avi_temp_path, &r.avi_failure)) {
      r.avi_recording = false;
      finishAvi(r);
    }
  }
  return taken;
}

int finishRecorders(PaneRecorders& r) {
  std::lock_guard lock(r.mutex);
  int finished = 0;
  r.clip_recording = false;
  r.avi_recording = false;
  if (r.clip != nullptr) {
    finishClip(r);
    ++finished;
  }
  if (r.avi != nullptr) {
    finishAvi(r);
    ++finished;
  }
  return finished;
}

bool workingFileLockedByARecording(const std::string& path) {
  const int fd = ::open(recordingTempPath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool locked = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return locked;
}

bool recordingFileClaimed(RecordingFiles& files, const std::string& path) {
  const std::string key = fileKey(path);
  std::lock_guard lock(files.mutex);
  return files.claimed.count(key) != 0;
}

RecordingFailure recordingFailure(PaneRecorders& r, bool avi) {
  std::lock_guard lock(r.mutex);
  return avi ? r.avi_failure : r.clip_failure;
}

long long recordedFrames(PaneRecorders& r, bool avi) {
  std::lock_guard lock(r.mutex);
  return avi ? r.avi_frames : r.clip_frames;
}

std::string recordingWorkingPath(PaneRecorders& r, bool avi) {
  std::lock_guard lock(r.mutex);
  return avi ? r.avi_temp_path : r.clip_temp_path;
}

bool recordingMarkShown(PaneRecorders& r) {
  std::lock_guard lock(r.mutex);
  return r.clip_recording || r.avi_recording;
}

}  // namespace kv4r::viewer
