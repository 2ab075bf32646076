// The Motion-JPEG AVI writer: a sequence of JPEG pictures (frame records) becomes an AVI 1.0 file
// with one video stream at a fixed 29.97 frames per second, one "00db" chunk per picture. Layout in
// formats/README.md.
//
// Two passes, constant memory: frames are appended behind a 224-byte zero placeholder; at finish
// the index is rebuilt from the chunk headers in the file itself and the real headers are written
// over the placeholder. Only two counters are kept, however long the recording. Once the first
// chunk is in the file, and every 4 MiB after, the placeholder is replaced by headers for the
// chunks written so far (without an index), so that a file whose finish never comes (a crash, a
// power cut) still opens in players.
//
// A writer belongs to one thread at a time; every call blocks on the file. Calling order: create,
// any number of AviWriterAddFrame, AviWriterFinish, AviWriterClose.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kv4r::formats {

struct AviWriter;

inline constexpr double kAviFrameRate = 29.97;
inline constexpr std::size_t kAviHeaderSize = 224;

// Creates (or truncates) `path`, writes the 224-byte placeholder and returns the writer, or nullptr
// when the file cannot be created (after the trace line "Can't open %s\n"). Width and height are
// the pictures' size in pixels; 0 x 0 (not yet known) is allowed: the headers then take the size
// from the frame header of the first chunk's JPEG. The caller owns the writer until AviWriterClose.
[[nodiscard]] AviWriter* AviWriterCreate(const std::string& path, int width, int height);

// Appends one chunk: "00db", payload size (frame length + 2), the frame, 0xFF 0xFF, and one zero
// pad byte when the payload size is odd. The frame span is only read (the two 0xFF bytes and the
// pad are the writer's own), so the caller needs no spare room after it. Returns the number of
// chunks written so far (>= 1), or kFormatsErrArgument (no writer), kFormatsErrTooLarge (the chunk
// would carry the file past the 4 GiB its 32-bit sizes describe; nothing is written), or
// kFormatsErrWrite (a short or failed write: the partial chunk is cut off again, later adds are
// refused with the same code, and the finish still writes headers and an index over the complete
// chunks).
[[nodiscard]] int AviWriterAddFrame(AviWriter* writer, std::span<const std::uint8_t> frame);

// As AviWriterAddFrame with the frame taken from an open file: the `length` bytes at `offset` of
// `fd` are read straight into a fixed 1 MiB staging buffer behind their chunk header and written
// out in large pieces (frames larger than the buffer are copied in the kernel). Returns the chunks
// written so far, or the codes of AviWriterAddFrame, or kFormatsErrShortRead when the file yields
// fewer than `length` bytes (that frame is left out; the writer stays usable). Because chunks are
// staged, a write error may be reported by a later add or by the finish; the chunks it lost are
// then taken off AviWriterFrames, so after the finish AviWriterFrames tells how many frames the
// file holds.
[[nodiscard]] int AviWriterAddFrameFromFile(AviWriter* writer, int fd, std::int64_t offset,
                                            std::uint32_t length);

// Writes the index and the headers; the file stays open. 0, or kFormatsErrWrite when any write of
// the recording (an earlier add included), or the finish's own writes failed (headers are
// still written where possible), kFormatsErrShortRead when a chunk header could not be read back,
// kFormatsErrArgument for no writer.
[[nodiscard]] int AviWriterFinish(AviWriter* writer);

// Chunks written so far (for progress and tests); 0 for nullptr.
[[nodiscard]] int AviWriterFrames(const AviWriter* writer);

// The total-frames count in the main header of an AVI file as this writer lays it out, or -1 when
// the file cannot be read or does not start with those headers. (For a file still being written
// it is the count of the last header step.)
[[nodiscard]] std::int64_t AviFileFrames(const std::string& path);

// Closes the file and frees the writer (nullptr allowed). 0, or kFormatsErrWrite when the close
// failed (data not on disk).
int AviWriterClose(AviWriter* writer);

}  // namespace kv4r::formats
