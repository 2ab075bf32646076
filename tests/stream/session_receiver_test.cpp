#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "stream/frame_receiver.h"
#include "stream/socket_io.h"
#include "stream/stream_codes.h"
#include "tests/support/stream_wire.h"

namespace kv4r::stream {
namespace {

using kv4r::testing::partHeader;
using kv4r::testing::recordBe16;
using kv4r::testing::recordBe32;
using kv4r::testing::streamAnswerHead;
using kv4r::testing::WireRecord;
using kv4r::testing::wireRecord;

constexpr std::size_t kCapacity = 102400;

// A connected socket pair: the test writes the server's bytes into one end, the receiver reads
// the other. Everything written is waiting before the receiver starts, so the receiver's chunks
// are exactly as long as it asks for.
class FrameReceiver : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = setTimeoutSecondForTesting(std::chrono::milliseconds(40));
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0);
    int size = 4 << 20;
    setsockopt(fds_[0], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    setsockopt(fds_[1], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    buffer_.assign(kCapacity, 0);
  }
  void TearDown() override {
    close(fds_[0]);
    if (fds_[1] >= 0) close(fds_[1]);
    setTimeoutSecondForTesting(previous_);
  }

  void serve(const std::string& bytes, bool then_close = false) {
    ASSERT_EQ(write(fds_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    if (then_close) {
      close(fds_[1]);
      fds_[1] = -1;
    }
  }

  int receive() {
    return receiveFrame(fds_[0], buffer_.data(), buffer_.size(), &in_step_, &daemon_, &ahead_);
  }

  std::string delivered(std::size_t length) const {
    return std::string(reinterpret_cast<const char*>(buffer_.data()), length);
  }

  int fds_[2] = {-1, -1};
  std::vector<std::uint8_t> buffer_;
  int in_step_ = 0;
  int daemon_ = kNoDaemonId;
  ReadAhead ahead_;

 private:
  std::chrono::milliseconds previous_{};
};

TEST_F(FrameReceiver, FindsABoundarySplitBetweenTwoChunksAndReadsOnFrameByFrame) {
  // The header block is padded so that "--myboundary" starts 6 bytes before the end of the first
  // 122-byte chunk.
  std::string head = streamAnswerHead();
  head.insert(head.size() - 2, std::string(116 - head.size(), 'x'));
  ASSERT_EQ(head.size(), 116u);
  const std::string first = wireRecord({.camera_number = 2, .data_bytes = 900, .seed = 3});
  const std::string second = wireRecord({.camera_number = 1, .data_bytes = 1200, .seed = 9});
  serve(head + partHeader(0x11) + first + partHeader(0xABCD0123) + second + partHeader(0x42));

  ASSERT_EQ(receive(), 1);
  EXPECT_EQ(in_step_, 1);
  EXPECT_EQ(delivered(first.size()), first);
  EXPECT_EQ(delivered(first.size() + 62), first + partHeader(0xABCD0123));
  EXPECT_EQ(static_cast<std::uint32_t>(daemon_), 0xABCD0123u);

  ASSERT_EQ(receive(), 1);
  EXPECT_EQ(delivered(second.size()), second);
  EXPECT_EQ(daemon_, 0x42);
}

TEST_F(FrameReceiver, FrameWithoutTablesGetsAGapAndARewrittenHeader) {
  // A short header block, so that the first chunk already brings the extension and some data: the
  // early bytes must land where the receives would have put them.
  const std::string record =
      wireRecord({.camera_number = 1, .coding_flags = 1, .extension_bytes = 8, .data_bytes = 500});
  ASSERT_EQ(recordBe16(record, 4), 64u);
  serve("HTTP/1.0 200 OK\r\n\r\n" + partHeader(7) + record + partHeader(8));

  ASSERT_EQ(receive(), 1);
  const std::string out = delivered(record.size() + 595);
  EXPECT_EQ(recordBe16(out, 4), 56u);
  EXPECT_EQ(recordBe32(out, 48), record.size() + 595);
  EXPECT_EQ(out.substr(0, 4), record.substr(0, 4));
  EXPECT_EQ(out.substr(6, 42), record.substr(6, 42));
  EXPECT_EQ(out.substr(52, 8), record.substr(52, 8));
  // The extension bytes at the start of the gap, the rest of the gap empty.
  EXPECT_EQ(out.substr(60, 8), record.substr(60, 8));
  EXPECT_EQ(out.substr(68, 595), std::string(595, '\0'));
  EXPECT_EQ(out.substr(663), record.substr(68));
  EXPECT_EQ(delivered(record.size() + 595 + 62).substr(record.size() + 595), partHeader(8));
}

TEST_F(FrameReceiver, RecordsBehindARewrittenOneArriveWhole) {
  // What was read ahead behind a record without tables lies behind its rewritten length.
  const std::string shortened =
      wireRecord({.camera_number = 1, .coding_flags = 1, .extension_bytes = 8, .data_bytes = 700});
  const std::string full = wireRecord({.camera_number = 3, .data_bytes = 800, .seed = 5});
  serve(streamAnswerHead() + partHeader(1) + shortened + partHeader(2) + full + partHeader(3) +
        shortened + partHeader(4));
  ASSERT_EQ(receive(), 1);
  EXPECT_EQ(recordBe32(delivered(60), 48), shortened.size() + 595);
  ASSERT_EQ(receive(), 1);
  EXPECT_EQ(delivered(full.size()), full);
  ASSERT_EQ(receive(), 1);
  EXPECT_EQ(delivered(shortened.size() + 595).substr(663), shortened.substr(68));
}

TEST_F(FrameReceiver, FrameIsHandedOnWithoutWaitingForTheNextOne) {
  // The receive time-out is 40 ms here: waiting for bytes of the next record would fail.
  const std::string first = wireRecord({.camera_number = 1, .data_bytes = 900, .seed = 1});
  const std::string second = wireRecord({.camera_number = 2, .data_bytes = 1100, .seed = 2});
  serve(streamAnswerHead() + partHeader(1) + first + partHeader(2));
  ASSERT_EQ(receive(), 1);
  EXPECT_EQ(delivered(first.size()), first);
  EXPECT_EQ(ahead_.count, 0u);

  // The next record trickles in: its first bytes come with the second frame's part header.
  serve(second + partHeader(3) + first.substr(0, 10));
  ASSERT_EQ(receive(), 1);
  EXPECT_EQ(delivered(second.size()), second);
  EXPECT_EQ(ahead_.count, 10u);
  serve(first.substr(10) + partHeader(4));
  ASSERT_EQ(receive(), 1);
  EXPECT_EQ(delivered(first.size()), first);
  EXPECT_EQ(daemon_, 4);
}

TEST_F(FrameReceiver, FrameWithTablesIsDeliveredUnchangedWithEveryExtensionLength) {
  std::string stream = streamAnswerHead() + partHeader(1);
  std::vector<std::string> records;
  for (int extension : {0, 1, 37, 200}) {
    records.push_back(wireRecord({.camera_number = 4,
                                  .extension_bytes = extension,
                                  .data_bytes = 300 + extension,
                                  .seed = static_cast<std::uint8_t>(extension)}));
    stream += records.back() + partHeader(2);
  }
  serve(stream);
  for (const std::string& record : records) {
    ASSERT_EQ(receive(), 1);
    EXPECT_EQ(delivered(record.size()), record);
  }
}

TEST_F(FrameReceiver, AnswerWithoutBoundaryTellsARefusedLoginFromAnyOtherPage) {
  serve(kv4r::testing::unauthorizedAnswer(), true);
  EXPECT_EQ(receive(), kFrameUnauthorized);
  EXPECT_EQ(in_step_, 0);
}

TEST_F(FrameReceiver, PageWithoutBoundaryGivesNoBoundary) {
  serve("HTTP/1.0 200 OK\r\n\r\n<html>no pictures here</html>", true);
  EXPECT_EQ(receive(), kFrameNoBoundary);
}

TEST_F(FrameReceiver, BufferFullOfTextWithoutBoundaryEndsTheSearch) {
  buffer_.assign(1000, 0);
  serve(std::string(1500, 'z'));
  EXPECT_EQ(receive(), kFrameNoBoundary);
}

TEST_F(FrameReceiver, WrongPartHeaderIsRefused) {
  std::string bad = partHeader(1);
  bad[20] = 'X';
  serve(streamAnswerHead() + bad + wireRecord({}) + partHeader(2));
  EXPECT_EQ(receive(), kFrameBadPartHeader);
}

TEST_F(FrameReceiver, WrongPartHeaderBehindAFrameIsRefused) {
  std::string bad = partHeader(1);
  bad[3] = 'X';
  serve(streamAnswerHead() + partHeader(1) + wireRecord({}) + bad);
  EXPECT_EQ(receive(), kFrameBadPartHeader);
}

TEST_F(FrameReceiver, RecordThatWouldNotFitFailsBeforeWritingPastTheBuffer) {
  // The buffer is exactly its capacity plus a guard that must stay untouched.
  const std::size_t capacity = 4096;
  buffer_.assign(capacity + 64, 0x5A);
  const std::string head = streamAnswerHead() + partHeader(1);
  // 60 + 603 + data + 62 must fit: one byte more than fits.
  const int data = static_cast<int>(capacity - 60 - 603 - 62 + 1);
  serve(head + wireRecord({.data_bytes = data}) + partHeader(2));
  EXPECT_EQ(receiveFrame(fds_[0], buffer_.data(), capacity, &in_step_, &daemon_, &ahead_),
            kFrameTooLarge);
  for (std::size_t i = capacity; i < buffer_.size(); ++i) ASSERT_EQ(buffer_[i], 0x5A) << i;
}

TEST_F(FrameReceiver, RecordThatJustFitsIsReceived) {
  const std::size_t capacity = 4096;
  const int data = static_cast<int>(capacity - 60 - 603 - 62);
  const std::string record = wireRecord({.data_bytes = data});
  serve(streamAnswerHead() + partHeader(1) + record + partHeader(2));
  EXPECT_EQ(receiveFrame(fds_[0], buffer_.data(), capacity, &in_step_, &daemon_, &ahead_), 1);
  EXPECT_EQ(delivered(record.size()), record);
}

TEST_F(FrameReceiver, HugeLengthsFromTheServerAreRefused) {
  std::string record = wireRecord({});
  record[48] = '\xFF';  // record_length near 4 GiB
  serve(streamAnswerHead() + partHeader(1) + record);
  EXPECT_EQ(receive(), kFrameTooLarge);

  // An app_length below 56 or a record_length that does not cover its own parts cannot be read.
  in_step_ = 0;
  record = wireRecord({});
  record[4] = 0;
  record[5] = 10;
  serve(partHeader(1) + record);
  EXPECT_EQ(receive(), kFrameLost);
  in_step_ = 0;
  record = wireRecord({});
  record[48] = record[49] = record[50] = 0;
  record[51] = 100;
  serve(partHeader(1) + record);
  EXPECT_EQ(receive(), kFrameLost);
}

TEST_F(FrameReceiver, ConnectionLostInsideARecordOrItsPartHeader) {
  const std::string record = wireRecord({.data_bytes = 2000});
  serve(streamAnswerHead() + partHeader(1) + record.substr(0, 1000), true);
  EXPECT_EQ(receive(), kFrameLost);
  EXPECT_EQ(in_step_, 0);
}

TEST_F(FrameReceiver, ConnectionLostBeforeTheNextPartHeaderIsComplete) {
  const std::string record = wireRecord({});
  serve(streamAnswerHead() + partHeader(1) + record + partHeader(2).substr(0, 30), true);
  EXPECT_EQ(receive(), kFrameLost);
}

TEST_F(FrameReceiver, SilentServerTimesOut) {
  serve(streamAnswerHead() + partHeader(1) + wireRecord({}).substr(0, 50));
  EXPECT_EQ(receive(), kFrameLost);
}

}  // namespace
}  // namespace kv4r::stream
