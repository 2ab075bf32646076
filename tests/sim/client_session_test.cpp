// The server against the suite's own stream session: frames of every wanted camera arrive, a change
// of the wanted cameras reaches the running stream, frames without table block arrive with their
// gap, and a wrong password is reported as a refused login.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

#include "stream/rsp.h"
#include "tests/sim/rebuild_reference.h"
#include "tests/sim/sim_test_support.h"

namespace kv4r::simtest {
namespace {

constexpr int kBufferBytes = 102400;

// A minimal owner: fresh buffers, every delivered record kept.
struct Owner {
  std::atomic<int> mask{0};
  std::atomic<bool> stopping{false};
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<int, std::vector<std::uint8_t>>> frames;  // camera index, record
  std::vector<int> failures;                                      // link states reported
  int started = 0;

  template <typename Predicate>
  bool waitFor(Predicate done) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [&] { return done(); });
  }
};

void* getBuffer(void* o) {
  auto* owner = static_cast<Owner*>(o);
  if (owner->stopping.load()) return nullptr;
  auto* buffer = new std::uint8_t[kBufferBytes]();
  const std::int32_t words[2] = {kBufferBytes, owner->mask.load()};
  std::memcpy(buffer, words, sizeof words);
  return buffer;
}

void deliverFrame(void* o, int kind, int camera_index, void* buffer, int length) {
  auto* owner = static_cast<Owner*>(o);
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  if (kind == stream::kDeliverFrame) {
    std::lock_guard<std::mutex> lock(owner->mutex);
    owner->frames.emplace_back(camera_index, std::vector<std::uint8_t>(bytes, bytes + length));
    owner->changed.notify_all();
  }
  delete[] bytes;
}

void linkEvent(void* o, int kind, int code) {
  auto* owner = static_cast<Owner*>(o);
  std::lock_guard<std::mutex> lock(owner->mutex);
  if (kind == stream::kLinkFailure) owner->failures.push_back(code);
  if (kind == stream::kLinkStarted) ++owner->started;
  owner->changed.notify_all();
}

struct Session {
  Owner* owner;
  stream::RSP* rsp;
  ~Session() {
    owner->stopping.store(true);
    stream::RSPDestroy(rsp);
  }
};

TEST(ClientSession, FramesOfTheWantedCamerasAndChangesOfThem) {
  sim::Scenario s = testScenario(3, 352, 240, 0, 40);
  s.cameras[1].mode = 1;
  sim::SimOptions o;
  o.scenario = s;
  std::string error;
  auto server = startSim(o, &error);
  ASSERT_TRUE(server) << error;
  Owner owner;
  owner.mask = 0b011;
  Session session{&owner,
                  stream::RSPCreate(0, inet_addr("127.0.0.1"), sim::simPort(server.get()), "", "",
                                    0x1234, 0, 2, &owner, getBuffer, deliverFrame, linkEvent)};
  ASSERT_NE(session.rsp, nullptr);
  auto count = [&](int index) {
    int n = 0;
    for (const auto& f : owner.frames) n += f.first == index;
    return n;
  };
  ASSERT_TRUE(owner.waitFor([&] { return count(0) >= 3 && count(1) >= 3; }));
  {
    std::lock_guard<std::mutex> lock(owner.mutex);
    EXPECT_TRUE(owner.failures.empty());
    EXPECT_EQ(owner.started, 1);
    for (const auto& [index, record] : owner.frames) {
      ASSERT_TRUE(index == 0 || index == 1);
      const std::vector<std::uint8_t> plain = unlockRecord(record, false, "");
      ASSERT_FALSE(plain.empty());
      const Decoded picture = decodeRecord(plain);
      EXPECT_EQ(picture.width, 352);
      if (index == 1) {
        EXPECT_EQ(record[58] << 8 | record[59], 1);  // still coded, with its gap
      }
    }
  }

  // Camera 1 out, camera 3 in: the session sends Add and Remove to the running stream.
  owner.mask = 0b110;
  std::size_t mark = 0;
  {
    std::lock_guard<std::mutex> lock(owner.mutex);
    mark = owner.frames.size();
  }
  ASSERT_TRUE(owner.waitFor([&] {
    int tail_ok = 0;
    for (std::size_t i = mark; i < owner.frames.size(); ++i) {
      tail_ok = owner.frames[i].first == 0 ? 0 : tail_ok + 1;
    }
    return tail_ok >= 12 && count(2) >= 3;
  }));
  EXPECT_EQ(sim::simCounters(server.get()).streams, 1u);  // no reconnection was needed
  EXPECT_GE(sim::simCounters(server.get()).controls, 2u);
}

TEST(ClientSession, SplitBoundaryPiecesAndCutStreamsAreSurvived) {
  sim::SimOptions o;
  o.scenario = testScenario(1, 176, 144, 1, 100);
  o.scenario.faults.split_first_boundary = true;
  o.scenario.faults.random_pieces = true;
  o.scenario.faults.piece_max_bytes = 200;
  o.scenario.faults.close_after_frames = 4;
  o.scenario.faults.close_mid_record = true;
  std::string error;
  auto server = startSim(o, &error);
  ASSERT_TRUE(server) << error;
  Owner owner;
  owner.mask = 1;
  Session session{&owner,
                  stream::RSPCreate(0, inet_addr("127.0.0.1"), sim::simPort(server.get()), "", "",
                                    0x1234, 0, 2, &owner, getBuffer, deliverFrame, linkEvent)};
  ASSERT_NE(session.rsp, nullptr);
  // Four whole frames per connection, then a cut record and a fresh request.
  ASSERT_TRUE(owner.waitFor([&] { return owner.frames.size() >= 10 && owner.started >= 3; }));
  std::lock_guard<std::mutex> lock(owner.mutex);
  for (const auto& [index, record] : owner.frames) {
    EXPECT_EQ(index, 0);
    EXPECT_FALSE(unlockRecord(record, false, "").empty());
  }
  EXPECT_FALSE(owner.failures.empty());
}

TEST(ClientSession, WrongPasswordIsARefusedLogin) {
  sim::SimOptions o;
  o.scenario = testScenario(1);
  o.users = {{"ann", "pw"}};
  std::string error;
  auto server = startSim(o, &error);
  ASSERT_TRUE(server) << error;
  Owner owner;
  owner.mask = 1;
  Session session{
      &owner, stream::RSPCreate(0, inet_addr("127.0.0.1"), sim::simPort(server.get()), "ann",
                                "nope", 0x1234, 0, 2, &owner, getBuffer, deliverFrame, linkEvent)};
  ASSERT_NE(session.rsp, nullptr);
  ASSERT_TRUE(owner.waitFor([&] { return !owner.failures.empty(); }));
  std::lock_guard<std::mutex> lock(owner.mutex);
  EXPECT_EQ(owner.failures[0], stream::kLinkRefused);
  EXPECT_TRUE(owner.frames.empty());
}

}  // namespace
}  // namespace kv4r::simtest
