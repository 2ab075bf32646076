// vrxtool verify: walks every record of a clip and checks it as a reader would need it.
#include <turbojpeg.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "formats/clip_scan.h"
#include "formats/formats_codes.h"
#include "formats/jpeg_decompressor.h"
#include "tools/vrxtool_commands.h"
#include "tools/vrxtool_progress.h"

namespace kv4r::tools {

namespace {

constexpr long long kMaxVerifiedPixels = 8192LL * 8192;

struct TjDeleter {
  void operator()(void* handle) const { tjDestroy(handle); }
};

// The decoder's reason for refusing a picture; the decoder is renewed, so that the records behind
// a bad one are judged on their own.
std::string refusal(std::unique_ptr<void, TjDeleter>& decoder) {
  std::string why = std::string("does not decode: ") + tjGetErrorStr2(decoder.get());
  decoder.reset(formats::renewDecompressor(decoder.release()));
  return why;
}

// Empty when the JPEG decodes without error or warning, else the decoder's reason.
std::string decodeProblem(std::unique_ptr<void, TjDeleter>& decoder,
                          const std::vector<std::uint8_t>& jpeg,
                          std::vector<std::uint8_t>* pixels) {
  if (!decoder) return "the JPEG decoder cannot be started";
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  if (tjDecompressHeader3(decoder.get(), jpeg.data(), jpeg.size(), &width, &height, &subsampling,
                          &colorspace) != 0) {
    return refusal(decoder);
  }
  if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > kMaxVerifiedPixels) {
    return "picture size out of range";
  }
  pixels->resize(static_cast<std::size_t>(width) * height * 3);
  if (tjDecompress2(decoder.get(), jpeg.data(), jpeg.size(), pixels->data(), width, 0, height,
                    TJPF_BGR, TJFLAG_STOPONWARNING) != 0) {
    return refusal(decoder);
  }
  return {};
}

}  // namespace

int runVerify(const std::string& clip_path) {
  formats::ClipFilePtr clip(formats::ClipFileOpen(clip_path));
  if (!clip) {
    std::fprintf(stderr, "vrxtool verify: cannot open %s\n", clip_path.c_str());
    return 1;
  }
  std::unique_ptr<void, TjDeleter> decoder(tjInitDecompress());
  if (!decoder) {
    std::fprintf(stderr, "vrxtool verify: cannot start the JPEG decoder\n");
    return 1;
  }
  int bad = 0;
  std::string first_bad;
  auto report = [&bad, &first_bad](int position, std::int64_t offset, const std::string& why) {
    if (bad++ == 0) {
      char text[128];
      std::snprintf(text, sizeof text, "first bad record: %d at offset %lld: ", position,
                    static_cast<long long>(offset));
      first_bad = text + why;
    }
  };

  TerminalProgress bar("Verifying");
  std::vector<std::uint8_t> bytes, pixels;
  formats::ClipScanEnd end;
  std::error_code error;
  const auto clip_size = static_cast<std::int64_t>(std::filesystem::file_size(clip_path, error));
  const int scanned = formats::scanClip(
      clip.get(),
      [&](const formats::ClipRecordInfo& record) {
        const std::uint32_t length = record.header.record_length;
        if (!record.complete) {
          report(record.position, record.offset, "cut short by the end of the clip");
          return 1;
        }
        if (length > formats::kRecordBufferSize) {
          report(record.position, record.offset, "longer than 102400 bytes");
          return 1;
        }
        bytes.resize(length);
        if (formats::readClipBytes(clip.get(), record.offset, bytes) != length) {
          report(record.position, record.offset, "cannot be read");
          return 1;
        }
        std::string why;
        if (formats::checkFrameRecord(bytes, &why) != 1) {
          report(record.position, record.offset, why);
          return 1;
        }
        why = decodeProblem(decoder, bytes, &pixels);
        if (!why.empty()) report(record.position, record.offset, why);
        if (clip_size > 0) bar.show(static_cast<int>((record.offset + length) * 100 / clip_size));
        return 1;
      },
      &end);
  bar.finish();
  if (scanned < 0) {
    std::fprintf(stderr, "vrxtool verify: %s: %s\n", clip_path.c_str(),
                 formats::formatsCodeName(scanned));
    return 1;
  }
  if (end.stop_code == formats::kFormatsErrShortRead) {
    report(end.records, end.end_offset, "the clip ends inside its 60-byte header");
  } else if (end.stop_code == formats::kFormatsErrTooShort) {
    report(end.records, end.end_offset, "record_length below 60");
  }
  std::printf("%d records checked, %d bad\n", end.records, bad);
  if (bad > 0) {
    std::printf("%s\n", first_bad.c_str());
    return 1;
  }
  return 0;
}

}  // namespace kv4r::tools
