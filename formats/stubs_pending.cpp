// Placeholder bodies while the library is being written.
#include "formats/avi_writer.h"
#include "formats/clip_export.h"
#include "formats/clip_index.h"
#include "formats/clip_reader.h"
#include "formats/clip_writer.h"
#include "formats/formats_codes.h"
#include "formats/frame_record.h"
#include "formats/record_builder.h"

namespace kv4r::formats {
const char* formatsCodeName(int) {
  return "failure";
}
int readBe16(std::span<const std::uint8_t>, std::size_t, std::uint16_t*) {
  return -1;
}
int readBe32(std::span<const std::uint8_t>, std::size_t, std::uint32_t*) {
  return -1;
}
int writeBe16(std::span<std::uint8_t>, std::size_t, std::uint16_t) {
  return -1;
}
int writeBe32(std::span<std::uint8_t>, std::size_t, std::uint32_t) {
  return -1;
}
int parseFrameHeader(std::span<const std::uint8_t>, FrameHeader*) {
  return -1;
}
int checkFrameRecord(std::span<const std::uint8_t>, std::string*) {
  return -1;
}
std::int64_t stampSeconds(int, int, int, int, int, int) {
  return 0;
}
CivilTime civilFromSeconds(std::int64_t) {
  return {};
}
std::string formatStampSeconds(std::int64_t) {
  return {};
}
int parseStampText(const std::string&, std::int64_t*) {
  return -1;
}
std::int64_t RecordTime(const FrameHeader&) {
  return 0;
}
std::int64_t stampDifferenceMs(const RecordStamp&, const RecordStamp&) {
  return 0;
}
RecordItems FindRecordItems(std::span<const std::uint8_t>) {
  return {};
}
std::string recordItemText(std::span<const std::uint8_t>, std::ptrdiff_t) {
  return {};
}
int FormatRecordTitle(std::span<const std::uint8_t>, std::string*) {
  return 0;
}
void setRecordStamp(RecordSpec*, std::int64_t, int) {}
int buildFrameRecord(const RecordSpec&, std::span<const std::uint8_t>, std::vector<std::uint8_t>*) {
  return -1;
}
int tableBlockOffset(std::span<const std::uint8_t>) {
  return -1;
}
int clipIndexPath(const std::string&, std::string*) {
  return -1;
}
int BuildClipIndex(const std::string&, std::string*, const IndexProgressFn&) {
  return -1;
}
int LoadClipIndex(const std::string&, int, std::vector<ClipIndexEntry>*) {
  return -1;
}
ClipFile* ClipFileOpen(const std::string&) {
  return nullptr;
}
void ClipFileClose(ClipFile*) {}
std::int64_t clipStampsGapMs(const ClipStamps&) {
  return 0;
}
int ReadClipRecord(ClipFile*, std::span<const ClipIndexEntry>, int, ClipStamps*,
                   std::span<std::uint8_t>) {
  return -1;
}
ClipWriter* ClipWriterCreate(const std::string&) {
  return nullptr;
}
int ClipWriterAppend(ClipWriter*, std::span<const std::uint8_t>) {
  return -1;
}
std::uint64_t ClipWriterBytes(const ClipWriter*) {
  return 0;
}
int ClipWriterClose(ClipWriter*) {
  return -1;
}
std::string replaceExtension(const std::string& p, const std::string&) {
  return p;
}
AviWriter* AviWriterCreate(const std::string&, int, int) {
  return nullptr;
}
int AviWriterAddFrame(AviWriter*, std::span<const std::uint8_t>) {
  return -1;
}
int AviWriterFinish(AviWriter*) {
  return -1;
}
int AviWriterFrames(const AviWriter*) {
  return 0;
}
int AviWriterClose(AviWriter*) {
  return 0;
}
int decodeJpegSize(std::span<const std::uint8_t>, int*, int*) {
  return -1;
}
int findExportRange(std::span<const ClipIndexEntry>, std::int64_t, std::int64_t, int*, int*) {
  return -1;
}
int ExportClipRange(const std::string&, std::span<const ClipIndexEntry>, std::int64_t, std::int64_t,
                    const std::string&, const ExportProgress&, const JpegSizeFn&, ExportResult*) {
  return -1;
}
ExportOutcome exportOutcome(int, const ExportResult&, const std::string&) {
  return {};
}
}  // namespace kv4r::formats
