#include "formats/record_builder.h"

#include <algorithm>
#include <limits>

#include "formats/formats_codes.h"

namespace kv4r::formats {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kDqtSegmentSize = 69;
constexpr std::size_t kSofSegmentSize = 19;
constexpr std::size_t kDhtDcSegmentSize = 33;
constexpr std::size_t kDhtAcSegmentSize = 183;
constexpr std::size_t kSosSegmentSize = 14;

// One table of a DQT or DHT segment, re-emitted as a segment of its own.
struct Table {
  std::uint8_t kind = 0;  // DQT: precision (0 = 8-bit); DHT: class (0 = DC, 1 = AC)
  std::uint8_t id = 0;
  Bytes segment;  // marker, length and the one table
};

// The parts of an encoder's JPEG that a record is made from.
struct ParsedJpeg {
  std::vector<Table> quant_tables;
  std::vector<Table> huffman_tables;
  Bytes frame_header;  // the SOFn segment
  Bytes scan_header;   // the SOS segment
  Bytes others;        // segments kept as they stand in the free layout (DRI, ...)
  bool baseline = false;
  bool unusual = false;  // a segment the fixed layout has no room for
  Bytes scan_data;       // after SOS up to and including EOI
};

Bytes makeSegment(std::uint8_t marker, std::span<const std::uint8_t> body) {
  Bytes segment(body.size() + 4);
  segment[0] = 0xFF;
  segment[1] = marker;
  segment[2] = static_cast<std::uint8_t>((body.size() + 2) >> 8);
  segment[3] = static_cast<std::uint8_t>(body.size() + 2);
  std::copy(body.begin(), body.end(), segment.begin() + 4);
  return segment;
}

bool splitQuantTables(std::span<const std::uint8_t> body, std::vector<Table>* tables) {
  std::size_t pos = 0;
  while (pos < body.size()) {
    const std::uint8_t pq = body[pos] >> 4;
    const std::size_t size = 1 + (pq == 0 ? 64 : 128);
    if (pq > 1 || pos + size > body.size()) return false;
    tables->push_back({pq, static_cast<std::uint8_t>(body[pos] & 0x0F),
                       makeSegment(0xDB, body.subspan(pos, size))});
    pos += size;
  }
  return true;
}

bool splitHuffmanTables(std::span<const std::uint8_t> body, std::vector<Table>* tables) {
  std::size_t pos = 0;
  while (pos < body.size()) {
    if (pos + 17 > body.size()) return false;
    std::size_t values = 0;
    for (int i = 1; i <= 16; ++i) values += body[pos + i];
    const std::size_t size = 17 + values;
    if (pos + size > body.size()) return false;
    tables->push_back({static_cast<std::uint8_t>(body[pos] >> 4),
                       static_cast<std::uint8_t>(body[pos] & 0x0F),
                       makeSegment(0xC4, body.subspan(pos, size))});
    pos += size;
  }
  return true;
}

int parseJpeg(std::span<const std::uint8_t> jpeg, ParsedJpeg* out) {
  if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return kFormatsErrBadJpeg;
  std::size_t pos = 2;
  while (true) {
    if (pos + 2 > jpeg.size() || jpeg[pos] != 0xFF) return kFormatsErrBadJpeg;
    const std::uint8_t marker = jpeg[pos + 1];
    if (marker == 0xFF) {  // fill byte before a marker
      ++pos;
      continue;
    }
    if (marker == 0xD8 || marker == 0xD9 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
      return kFormatsErrBadJpeg;  // no image data before these
    }
    if (pos + 4 > jpeg.size()) return kFormatsErrBadJpeg;
    const std::size_t length = (std::size_t{jpeg[pos + 2]} << 8) | jpeg[pos + 3];
    if (length < 2 || pos + 2 + length > jpeg.size()) return kFormatsErrBadJpeg;
    const std::span<const std::uint8_t> segment = jpeg.subspan(pos, 2 + length);
    const std::span<const std::uint8_t> body = segment.subspan(4);
    pos += 2 + length;

    if ((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE) continue;  // APPn, COM: dropped
    if (marker == 0xDB) {
      if (!splitQuantTables(body, &out->quant_tables)) return kFormatsErrBadJpeg;
    } else if (marker == 0xC4) {
      if (!splitHuffmanTables(body, &out->huffman_tables)) return kFormatsErrBadJpeg;
    } else if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC8 && marker != 0xCC) {
      if (!out->frame_header.empty()) return kFormatsErrBadJpeg;
      out->frame_header.assign(segment.begin(), segment.end());
      out->baseline = marker == 0xC0;
    } else if (marker == 0xDA) {
      out->scan_header.assign(segment.begin(), segment.end());
      break;
    } else {
      out->others.insert(out->others.end(), segment.begin(), segment.end());
      out->unusual = true;
    }
  }
  if (out->frame_header.empty()) return kFormatsErrBadJpeg;
  // Scan data: entropy-coded bytes up to the end-of-image marker. Inside a single baseline scan
  // 0xFF is always followed by 0x00 or a restart marker, so the first FF D9 is the end. In the free
  // layout further scans and tables may follow, so everything up to the last FF D9 is kept.
  const std::span<const std::uint8_t> rest = jpeg.subspan(pos);
  std::size_t end = std::string::npos;
  if (out->baseline) {
    for (std::size_t i = 0; i + 1 < rest.size(); ++i) {
      if (rest[i] == 0xFF && rest[i + 1] == 0xD9) {
        end = i + 2;
        break;
      }
    }
  } else {
    for (std::size_t i = rest.size(); i >= 2; --i) {
      if (rest[i - 2] == 0xFF && rest[i - 1] == 0xD9) {
        end = i;
        break;
      }
    }
  }
  if (end == std::string::npos) return kFormatsErrBadJpeg;
  out->scan_data.assign(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(end));
  return 1;
}

const Table* findTable(const std::vector<Table>& tables, std::uint8_t kind, std::uint8_t id) {
  for (const Table& t : tables) {
    if (t.kind == kind && t.id == id) return &t;
  }
  return nullptr;
}

// The 603-byte table block in the fixed order, or an empty result when the tables do not fit it.
Bytes fixedTableBlock(const ParsedJpeg& jpeg) {
  if (!jpeg.baseline || jpeg.unusual || jpeg.quant_tables.size() != 2 ||
      jpeg.huffman_tables.size() != 4 || jpeg.frame_header.size() != kSofSegmentSize ||
      jpeg.scan_header.size() != kSosSegmentSize) {
    return {};
  }
  const Table* q0 = findTable(jpeg.quant_tables, 0, 0);
  const Table* q1 = findTable(jpeg.quant_tables, 0, 1);
  const Table* dc0 = findTable(jpeg.huffman_tables, 0, 0);
  const Table* ac0 = findTable(jpeg.huffman_tables, 1, 0);
  const Table* dc1 = findTable(jpeg.huffman_tables, 0, 1);
  const Table* ac1 = findTable(jpeg.huffman_tables, 1, 1);
  if (!q0 || !q1 || !dc0 || !ac0 || !dc1 || !ac1) return {};
  if (q0->segment.size() != kDqtSegmentSize || q1->segment.size() != kDqtSegmentSize ||
      dc0->segment.size() != kDhtDcSegmentSize || dc1->segment.size() != kDhtDcSegmentSize ||
      ac0->segment.size() != kDhtAcSegmentSize || ac1->segment.size() != kDhtAcSegmentSize) {
    return {};
  }
  Bytes block;
  block.reserve(kTableBlockSize);
  for (const Bytes* part : {&q0->segment, &q1->segment, &jpeg.frame_header, &dc0->segment,
                            &ac0->segment, &dc1->segment, &ac1->segment, &jpeg.scan_header}) {
    block.insert(block.end(), part->begin(), part->end());
  }
  return block;
}

// The encoder's tables in its own order, for pictures that do not fit the fixed block.
Bytes freeTableBlock(const ParsedJpeg& jpeg) {
  Bytes block;
  for (const Table& t : jpeg.quant_tables)
    block.insert(block.end(), t.segment.begin(), t.segment.end());
  block.insert(block.end(), jpeg.others.begin(), jpeg.others.end());
  block.insert(block.end(), jpeg.frame_header.begin(), jpeg.frame_header.end());
  for (const Table& t : jpeg.huffman_tables) {
    block.insert(block.end(), t.segment.begin(), t.segment.end());
  }
  block.insert(block.end(), jpeg.scan_header.begin(), jpeg.scan_header.end());
  return block;
}

}  // namespace

void setRecordStamp(RecordSpec* spec, std::int64_t time_seconds, int hundredths) {
  const CivilTime t = civilFromSeconds(time_seconds);
  spec->year = static_cast<std::uint16_t>(t.year);
  spec->month = static_cast<std::uint8_t>(t.month);
  spec->day = static_cast<std::uint8_t>(t.day);
  spec->hour = static_cast<std::uint8_t>(t.hour);
  spec->minute = static_cast<std::uint8_t>(t.minute);
  spec->second = static_cast<std::uint8_t>(t.second);
  spec->hundredths = static_cast<std::uint8_t>(hundredths);
}

int buildFrameRecord(const RecordSpec& spec, std::span<const std::uint8_t> jpeg,
                     std::vector<std::uint8_t>* record) {
  record->clear();
  if ((spec.app_marker & 0xF0) != 0xE0 || spec.server_name.find('\0') != std::string::npos ||
      spec.camera_name.find('\0') != std::string::npos) {
    return kFormatsErrArgument;
  }
  ParsedJpeg parsed;
  const int parsed_ok = parseJpeg(jpeg, &parsed);
  if (parsed_ok != 1) return parsed_ok;
  Bytes tables;
  if (!spec.omit_table_block) {
    tables = fixedTableBlock(parsed);
    if (tables.empty()) {
      if (!spec.allow_other_tables) return kFormatsErrTableLayout;
      tables = freeTableBlock(parsed);
    }
  }

  Bytes items(spec.extension.begin(), spec.extension.end());
  auto addItem = [&items](std::uint8_t type, const std::string& text) {
    if (text.empty()) return;
    items.push_back(type);
    items.push_back(0);
    items.insert(items.end(), text.begin(), text.end());
    items.push_back(0);
  };
  addItem(kServerNameItem, spec.server_name);
  addItem(kCameraNameItem, spec.camera_name);
  const std::size_t app_length = kMinAppLength + items.size();
  if (app_length > std::numeric_limits<std::uint16_t>::max()) return kFormatsErrTooLarge;
  const std::size_t total =
      kRecordFixedSize + items.size() + tables.size() + parsed.scan_data.size();
  if (total > std::numeric_limits<std::uint32_t>::max()) return kFormatsErrTooLarge;

  Bytes out(kRecordFixedSize, 0);
  out[0] = 0xFF;
  out[1] = 0xD8;
  out[2] = 0xFF;
  out[3] = spec.app_marker;
  (void)writeBe16(out, kOffAppLength, static_cast<std::uint16_t>(app_length));
  (void)writeBe16(out, kOffSourceNumber, spec.source_number);
  (void)writeBe16(out, kOffCameraNumber, spec.camera_number);
  (void)writeBe16(out, kOffYear, spec.year);
  out[kOffMonth] = spec.month;
  out[kOffDay] = spec.day;
  out[kOffHour] = spec.hour;
  out[kOffMinute] = spec.minute;
  out[kOffSecond] = spec.second;
  out[kOffHundredths] = spec.hundredths;
  (void)writeBe32(out, kOffRecordLength, static_cast<std::uint32_t>(total));
  (void)writeBe16(out, kOffCodingFlags, spec.coding_flags);
  out.reserve(total);
  out.insert(out.end(), items.begin(), items.end());
  out.insert(out.end(), tables.begin(), tables.end());
  out.insert(out.end(), parsed.scan_data.begin(), parsed.scan_data.end());
  *record = std::move(out);
  return static_cast<int>(std::min<std::size_t>(total, std::numeric_limits<int>::max()));
}

int tableBlockOffset(std::span<const std::uint8_t> record) {
  std::uint16_t app_length = 0;
  if (readBe16(record, kOffAppLength, &app_length) != 1) return kFormatsErrTooShort;
  return 4 + app_length;
}

}  // namespace kv4r::formats
