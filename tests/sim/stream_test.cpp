// The frame stream: part headers, cameras and their control requests, coded cameras, other picture
// sources, the MJPEG view, and many clients at once.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <set>
#include <thread>

#include "formats/frame_record.h"
#include "formats/record_builder.h"
#include "sim/coded_record.h"
#include "sim/jpeg_coder.h"
#include "sim/sim_codes.h"
#include "stream/frame_pools.h"
#include "stream/frame_receiver.h"
#include "stream/http_request.h"
#include "stream/socket_io.h"
#include "tests/sim/rebuild_reference.h"
#include "tests/sim/sim_test_support.h"
#include "tests/support/sample_jpeg.h"
#include "tests/support/test_env.h"

namespace kv4r::simtest {
namespace {

using Clock = std::chrono::steady_clock;

sim::SimulatorPtr start(sim::Scenario scenario) {
  sim::SimOptions o;
  o.scenario = std::move(scenario);
  std::string error;
  auto server = startSim(o, &error);
  EXPECT_TRUE(server) << error;
  return server;
}

std::string expectedPartHeader(std::uint32_t daemon_id) {
  char text[80];
  std::snprintf(text, sizeof text, "--myboundary\r\nContent-type:image/jpeg\r\nDaemonId:0x%08x",
                daemon_id);
  return text;
}

TEST(Stream, PartHeadersCarryTheDaemonIdAndEachRecordIsWhole) {
  auto server = start(testScenario(2));
  ASSERT_TRUE(server);
  StreamClient client;
  ASSERT_EQ(client.open(sim::simPort(server.get()), streamPath(0x00001234, "1,2")), 1);
  EXPECT_EQ(client.header.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_NE(client.header.find("multipart/x-mixed-replace;boundary=myboundary"), std::string::npos);
  EXPECT_EQ(client.header.find("--myboundary"), std::string::npos);
  std::set<int> cameras;
  std::uint32_t daemon_id = 0;
  for (int i = 0; i < 10; ++i) {
    Part part;
    ASSERT_EQ(client.readPart(&part), 1) << i;
    if (i == 0) daemon_id = part.daemon_id;
    ASSERT_EQ(part.part_header.size(), 62u);
    EXPECT_EQ(part.part_header.substr(0, 58), expectedPartHeader(daemon_id));
    EXPECT_EQ(part.part_header.substr(58), "\r\n\r\n");
    EXPECT_EQ(formats::checkFrameRecord(part.record), 1);
    formats::FrameHeader h;
    ASSERT_EQ(formats::parseFrameHeader(part.record, &h), 1);
    EXPECT_GE(h.year, 2020);
    EXPECT_LE(h.hundredths, 99);
    cameras.insert(part.camera);
  }
  EXPECT_GT(daemon_id, 0u);
  EXPECT_LE(daemon_id, 0x7FFFFFFFu);  // the client sends it back with %d
  EXPECT_EQ(cameras, (std::set<int>{1, 2}));
}

TEST(Stream, EachCameraKeepsItsOwnFrameRate) {
  sim::Scenario s = testScenario(2);
  s.cameras[0].fps = 100;
  s.cameras[1].fps = 10;
  auto server = start(s);
  ASSERT_TRUE(server);
  StreamClient client;
  ASSERT_EQ(client.open(sim::simPort(server.get()), streamPath(1, "1,2")), 1);
  int count[3] = {};
  for (int i = 0; i < 66; ++i) {
    Part part;
    ASSERT_EQ(client.readPart(&part), 1);
    ++count[part.camera];
  }
  // Ten to one in theory; a loaded machine may lose some of the fast camera's frames.
  EXPECT_GE(count[1], 3 * count[2]);
  EXPECT_GE(count[2], 2);
}

TEST(Stream, AddRemoveAndSetChangeTheRunningStream) {
  sim::Scenario s = testScenario(3);
  auto server = start(s);
  ASSERT_TRUE(server);
  const int port = sim::simPort(server.get());
  const std::uint32_t app_key = 0x00004e21;
  StreamClient client;
  ASSERT_EQ(client.open(port, streamPath(app_key, "1")), 1);
  Part part;
  ASSERT_EQ(client.readPart(&part), 1);
  EXPECT_EQ(part.camera, 1);
  const long long daemon_id = part.daemon_id;

  std::string answer;
  ASSERT_GT(query(port, controlPath(app_key, daemon_id, "Add", "CameraId=2,3"), &answer), 0);
  EXPECT_EQ(bodyOf(answer), "OK\r\n");
  EXPECT_NE(answer.find("Content-Length: 4\r\n"), std::string::npos);
  std::set<int> seen;
  for (int i = 0; i < 60 && seen.size() < 3; ++i) {
    ASSERT_EQ(client.readPart(&part), 1);
    seen.insert(part.camera);
  }
  EXPECT_EQ(seen, (std::set<int>{1, 2, 3}));

  ASSERT_GT(query(port, controlPath(app_key, daemon_id, "Remove", "CameraId=1,3"), &answer), 0);
  EXPECT_EQ(bodyOf(answer), "OK\r\n");
  // Parts sent before the change may still be on their way; then only camera 2 follows.
  int run = 0;
  for (int i = 0; i < 300 && run < 15; ++i) {
    ASSERT_EQ(client.readPart(&part), 1);
    run = part.camera == 2 ? run + 1 : 0;
  }
  EXPECT_EQ(run, 15);

  // Another stream's AppKey or daemon id names nothing.
  ASSERT_GT(query(port, controlPath(app_key + 1, daemon_id, "Remove", "CameraId=2"), &answer), 0);
  EXPECT_EQ(answer.rfind("HTTP/1.1 404", 0), 0u);
  ASSERT_GT(query(port, controlPath(app_key, daemon_id + 1, "Remove", "CameraId=2"), &answer), 0);
  EXPECT_EQ(answer.rfind("HTTP/1.1 404", 0), 0u);

  // Set: PauseTime is the least gap in milliseconds between two parts. A daemon id of -1 (a client
  // that has not read a part header yet) names the AppKey's streams.
  ASSERT_GT(query(port, controlPath(app_key, -1, "Set", "PauseTime=250"), &answer), 0);
  EXPECT_EQ(bodyOf(answer), "OK\r\n");
  // Once the parts already under way are read, three gaps of 250 ms follow each other (the camera
  // alone would send every 20 ms).
  std::vector<std::int64_t> sent;
  bool paced = false;
  for (int i = 0; i < 60 && !paced; ++i) {
    ASSERT_EQ(client.readPart(&part), 1);
    sent.push_back(sentMs(part.record));
    const std::size_t n = sent.size();
    paced = n >= 4 && sent[n - 1] - sent[n - 2] >= 240 && sent[n - 2] - sent[n - 3] >= 240 &&
            sent[n - 3] - sent[n - 4] >= 240;
  }
  EXPECT_TRUE(paced);
  EXPECT_EQ(sim::simCounters(server.get()).controls, 3u);
}

TEST(Stream, PauseTimeOfTheRequestAndCamerasOutsideTheServer) {
  sim::Scenario s = testScenario(2);
  auto server = start(s);
  ASSERT_TRUE(server);
  StreamClient client;
  ASSERT_EQ(client.open(sim::simPort(server.get()), streamPath(5, "5,2,9", 200)), 1);
  Part part;
  ASSERT_EQ(client.readPart(&part), 1);
  const std::int64_t first = sentMs(part.record);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(client.readPart(&part), 1);
    EXPECT_EQ(part.camera, 2);
  }
  EXPECT_GE(sentMs(part.record) - first, 590);  // three gaps of 200 ms
}

TEST(Stream, CodedCamerasUnlockWithTheRebuildTheServerReports) {
  for (const bool linux_server : {true, false}) {
    SCOPED_TRACE(linux_server ? "LINUX" : "other OS");
    sim::Scenario s = testScenario(4, 352, 240);
    s.os_type = linux_server ? "LINUX" : "VXWORKS";
    s.key = "gate7";
    for (int i = 0; i < 4; ++i) s.cameras[i].mode = i;
    auto server = start(s);
    ASSERT_TRUE(server);
    StreamClient client;
    ASSERT_EQ(client.open(sim::simPort(server.get()), streamPath(9, "1,2,3,4")), 1);
    std::set<int> modes;
    for (int i = 0; i < 12; ++i) {
      Part part;
      ASSERT_EQ(client.readPart(&part), 1);
      EXPECT_EQ(part.coding_flags, part.camera - 1);
      modes.insert(part.coding_flags);
      const auto received = insertTableGap(part.record);
      EXPECT_TRUE(unlockRecord(received, linux_server, "wrong").empty() || part.coding_flags < 2);
      const auto unlocked = unlockRecord(received, linux_server, "gate7");
      ASSERT_FALSE(unlocked.empty());
      const Decoded picture = decodeRecord(unlocked);
      EXPECT_EQ(picture.width, 352);
      EXPECT_EQ(picture.height, 240);
    }
    EXPECT_EQ(modes.size(), 4u);
  }
}

TEST(Stream, FolderPicturesAndClipRecordsAreSent) {
  testing::TempDir dir;
  std::filesystem::create_directory(dir / "pics");
  for (int i = 0; i < 3; ++i) {
    testing::SamplePicture p;
    p.width = 320;
    p.height = 200;
    p.seed = i;
    const auto jpeg = testing::encodeSampleJpeg(p);
    testing::writeFile(dir / ("pics/p" + std::to_string(i) + ".jpg"),
                       std::string(jpeg.begin(), jpeg.end()));
  }
  testing::writeFile(dir / "pics/notes.txt", "not a picture");
  // A clip of three records, 0.3 s apart, recorded as camera 4.
  std::string clip;
  std::vector<std::vector<std::uint8_t>> records;
  for (int i = 0; i < 3; ++i) {
    testing::SamplePicture p;
    p.width = 176;
    p.height = 144;
    p.seed = 10 + i;
    formats::RecordSpec layout;
    layout.camera_number = 4;
    layout.server_name = "Old";
    layout.camera_name = "Tape";
    formats::setRecordStamp(&layout, 1083827289, i * 30);
    std::vector<std::uint8_t> record;
    ASSERT_GT(formats::buildFrameRecord(layout, testing::encodeSampleJpeg(p), &record), 0);
    clip.append(record.begin(), record.end());
    records.push_back(record);
  }
  testing::writeFile(dir / "c.vrx", clip);
  sim::Scenario s = testScenario(2);
  s.cameras[0].source = sim::PictureSource::kJpegFolder;
  s.cameras[0].path = (dir / "pics").string();
  s.cameras[0].width = 352;
  s.cameras[0].height = 240;
  s.cameras[1].source = sim::PictureSource::kClip;
  s.cameras[1].path = (dir / "c.vrx").string();
  auto server = start(s);
  ASSERT_TRUE(server);

  StreamClient folder;
  ASSERT_EQ(folder.open(sim::simPort(server.get()), streamPath(1, "1")), 1);
  for (int i = 0; i < 4; ++i) {
    Part part;
    ASSERT_EQ(folder.readPart(&part), 1);
    const Decoded picture = decodeRecord(part.record);
    EXPECT_EQ(picture.width, 352);  // scaled to the camera's size
    EXPECT_EQ(picture.height, 240);
  }
  StreamClient replay;
  ASSERT_EQ(replay.open(sim::simPort(server.get()), streamPath(2, "2")), 1);
  Part part;
  ASSERT_EQ(replay.readPart(&part), 1);
  const std::int64_t first = sentMs(part.record);
  std::int64_t last = first;
  for (int i = 1; i < 3; ++i) {
    ASSERT_EQ(replay.readPart(&part), 1);
    last = sentMs(part.record);
    EXPECT_EQ(part.camera, 2);  // renumbered to the camera that replays it
    std::vector<std::uint8_t> expected = records[static_cast<std::size_t>(i)];
    ASSERT_EQ(part.record.size(), expected.size());
    // All but camera number and time stamp are the clip's bytes.
    for (std::size_t k : {30u, 31u, 32u, 33u, 34u, 35u, 36u, 37u, 38u, 39u}) {
      part.record[k] = expected[k] = 0;
    }
    EXPECT_TRUE(part.record == expected);
  }
  EXPECT_GE(last - first, 590);  // the clip's own pace: two gaps of 300 ms
}

// A JPEG file of 704x576 whose mode-1 record, as a folder camera codes it, is `low`..`high` bytes
// long (*size): the first pixels are noise, as many as that takes, the rest grey. False when no
// such picture was found.
bool folderPictureOfRecordSize(std::size_t low, std::size_t high, std::vector<std::uint8_t>* file,
                               std::size_t* size) {
  auto recordSize = [&](int noisy) -> std::size_t {
    sim::Picture picture;
    picture.width = 704;
    picture.height = 576;
    picture.rgb.assign(704u * 576u * 3u, 128);
    std::mt19937 random(7);
    for (std::size_t i = 0; i < static_cast<std::size_t>(noisy) * 3; ++i) {
      picture.rgb[i] = static_cast<std::uint8_t>(random());
    }
    // The server codes the picture it decodes from the file.
    sim::Picture decoded;
    sim::CodedPicture coded;
    sim::CameraCoding coding;
    coding.mode = 1;
    if (sim::encodePlainJpeg(picture, 100, file) < 0 || sim::decodeJpeg(*file, &decoded) != 1 ||
        sim::codePicture(decoded, coding, &coded) < 0) {
      return 0;
    }
    return coded.wire.size();
  };
  int quiet = 0, loud = 704 * 576;
  while (loud - quiet > 1) {
    const int noisy = (quiet + loud) / 2;
    *size = recordSize(noisy);
    if (*size == 0) return false;
    if (*size >= low && *size <= high) return true;
    (*size < low ? quiet : loud) = noisy;
  }
  return false;
}

TEST(Stream, CodedRecordsAreSentOnlyWhenTheReceiverCanTakeThem) {
  // A mode-1 record lacks the 603-byte table block, which the receiver reserves in front of the
  // picture data, and keeps only 56 of its 64 APPn bytes; the part header (62) follows it.
  constexpr std::size_t kBuffer = stream::kReceiveBlockBytes;  // the client's receive buffer
  constexpr std::size_t kLargestTaken = kBuffer - 62 - 603 + 8;
  struct Case {
    std::size_t low, high;
    bool taken;
  };
  for (const Case c : {Case{kLargestTaken - 400, kLargestTaken, true},
                       Case{kLargestTaken + 1, kBuffer - 62, false}}) {
    std::vector<std::uint8_t> file;
    std::size_t size = 0;
    ASSERT_TRUE(folderPictureOfRecordSize(c.low, c.high, &file, &size));
    SCOPED_TRACE("mode-1 record of " + std::to_string(size) + " bytes");
    testing::TempDir dir;
    testing::writeFile(dir / "p.jpg", std::string(file.begin(), file.end()));
    sim::SimOptions o;
    o.scenario = testScenario(1, 704, 576, 1);
    o.scenario.cameras[0].source = sim::PictureSource::kJpegFolder;
    o.scenario.cameras[0].path = dir.path().string();
    std::string error;
    auto server = startSim(o, &error);
    if (!c.taken) {
      // Refused at the start with what helps in mode 1, where the quality does not count.
      EXPECT_FALSE(server);
      EXPECT_NE(error.find("quant_factor"), std::string::npos) << error;
      continue;
    }
    ASSERT_TRUE(server) << error;
    const int fd = stream::httpOpen(inet_addr("127.0.0.1"), sim::simPort(server.get()), "", "",
                                    streamPath(1, "1"), 5);
    ASSERT_GE(fd, 0);
    std::vector<std::uint8_t> buffer(kBuffer);
    int in_step = 0, daemon_id = -1;
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(stream::receiveFrame(fd, buffer.data(), buffer.size(), &in_step, &daemon_id), 1);
    }
    stream::sockClose(fd);
  }
}

TEST(Stream, MjpegViewForBrowsers) {
  auto server = start(testScenario(2, 352, 288, 3));
  ASSERT_TRUE(server);
  StreamClient viewer;
  ASSERT_EQ(viewer.open(sim::simPort(server.get()), "/mjpeg?camera=2"), 1);
  EXPECT_NE(viewer.header.find("Content-Type: multipart/x-mixed-replace;boundary=kv4rframe\r\n"),
            std::string::npos);
  for (int i = 0; i < 2; ++i) {
    std::string head;
    char c;
    while (head.find("\r\n\r\n") == std::string::npos &&
           stream::sockRecvN(viewer.fd, &c, 1, 0, 5) == 1) {
      head.push_back(c);
    }
    ASSERT_EQ(head.rfind("--kv4rframe\r\nContent-Type: image/jpeg\r\nContent-Length: ", 0), 0u);
    const std::size_t length = std::stoul(head.substr(head.find("Length: ") + 8));
    std::vector<std::uint8_t> jpeg(length + 2);
    ASSERT_EQ(stream::sockRecvN(viewer.fd, jpeg.data(), jpeg.size(), 0, 5),
              static_cast<int>(jpeg.size()));
    EXPECT_EQ(jpeg[length], '\r');
    jpeg.resize(length);
    const Decoded picture = decodeRecord(jpeg);  // coded cameras are shown plain
    EXPECT_EQ(picture.width, 352);
    EXPECT_EQ(picture.height, 288);
  }
}

TEST(Stream, ManyClientsAtOnce) {
  sim::Scenario s = testScenario(4, 176, 112, 0, 100);
  auto server = start(s);
  ASSERT_TRUE(server);
  const int port = sim::simPort(server.get());
  constexpr int kStreams = 12;
  constexpr int kQueriers = 4;
  std::atomic<int> good_streams{0};
  std::atomic<int> good_queries{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kStreams; ++i) {
    threads.emplace_back([&, i] {
      StreamClient client;
      if (client.open(port, streamPath(100 + i, std::to_string(i % 4 + 1) + ",1")) != 1) return;
      Part part;
      for (int k = 0; k < 20; ++k) {
        if (client.readPart(&part) != 1) return;
      }
      ++good_streams;
    });
  }
  for (int i = 0; i < kQueriers; ++i) {
    threads.emplace_back([&] {
      for (int k = 0; k < 10; ++k) {
        std::string answer;
        if (query(port, "/cgi-bin/kxsysget.cgi?KxModId=0&KxCgiVer=0x0001", &answer) > 0 &&
            answer.find("Model=0x1234") != std::string::npos) {
          ++good_queries;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(good_streams.load(), kStreams);
  EXPECT_EQ(good_queries.load(), kQueriers * 10);
  EXPECT_GE(sim::simCounters(server.get()).streams, static_cast<std::uint64_t>(kStreams));
}

TEST(Stream, StopEndsStreamsWhoseClientsDoNotRead) {
  sim::Scenario s = testScenario(1, 704, 576, 0, 0);  // unpaced: the socket fills at once
  auto server = start(s);
  ASSERT_TRUE(server);
  std::vector<std::unique_ptr<StreamClient>> idle;
  for (int i = 0; i < 3; ++i) {
    idle.push_back(std::make_unique<StreamClient>());
    ASSERT_EQ(idle.back()->open(sim::simPort(server.get()), streamPath(i, "1")), 1);
  }
  Part part;
  ASSERT_EQ(idle[0]->readPart(&part), 1);
  const auto begin = Clock::now();
  sim::simStop(server.get());
  EXPECT_LT(Clock::now() - begin, std::chrono::seconds(5));
  EXPECT_EQ(sim::simCounters(server.get()).active_streams, 0u);
}

}  // namespace
}  // namespace kv4r::simtest

namespace kv4r::simtest {
namespace {

TEST(Stream, ConnectionsAboveTheLimitAreTurnedAway) {
  sim::SimOptions o;
  o.scenario = testScenario(1);
  o.max_connections = 2;
  std::string error;
  auto server = startSim(o, &error);
  ASSERT_TRUE(server) << error;
  const int port = sim::simPort(server.get());
  StreamClient a;
  StreamClient b;
  ASSERT_EQ(a.open(port, streamPath(1, "1")), 1);
  ASSERT_EQ(b.open(port, streamPath(2, "1")), 1);
  Part part;
  ASSERT_EQ(b.readPart(&part), 1);  // both streams run
  std::string answer;
  ASSERT_GT(query(port, "/cgi-bin/kxsysget.cgi?KxModId=0&KxCgiVer=0x0001", &answer), 0);
  EXPECT_EQ(answer.rfind("HTTP/1.1 503", 0), 0u);
  a.close();
  b.close();
  // Once the streams have ended, queries are served again.
  for (int i = 0; i < 200 && sim::simCounters(server.get()).active_streams > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(sim::simCounters(server.get()).active_streams, 0u);
  bool served = false;
  for (int i = 0; i < 50 && !served; ++i) {
    served = query(port, "/cgi-bin/kxsysget.cgi?KxModId=0&KxCgiVer=0x0001", &answer) > 0 &&
             answer.find("Model=") != std::string::npos;
  }
  EXPECT_TRUE(served);
  EXPECT_GE(sim::simCounters(server.get()).turned_away, 1u);
}

}  // namespace
}  // namespace kv4r::simtest
