// The long-running answers: the multipart frame stream with its control requests, and the MJPEG
// view for browsers.
#include <sys/uio.h>

#include <algorithm>
#include <chrono>
#include <random>

#include "platform/trace.h"
#include "sim/answers.h"
#include "sim/server_state.h"
#include "sim/sim_codes.h"

namespace kv4r::sim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Longest single wait of a stream, so that a vanished viewer is noticed soon.
constexpr milliseconds kPollStep{200};
// Most pause time a stream takes (PauseTime is in milliseconds).
constexpr long long kMaxPause_ms = 10000;

// One camera of a running stream.
struct StreamCamera {
  int number = 0;
  Clock::time_point due;
  std::size_t next_frame = 0;
};

// How a stream's bytes go out, with the faults of its scenario.
struct StreamOutput {
  int fd = -1;
  const FaultScenario* faults = nullptr;  // null: no faults for this stream
  std::mt19937 random;
  std::string pending;  // header block held back to split the first boundary
};

milliseconds framePeriod(const CameraScenario& camera) {
  if (camera.fps <= 0) return milliseconds(0);
  return milliseconds(static_cast<long long>(1000.0 / camera.fps + 0.5));
}

// The record's bytes with the time stamp of now, as one string (for the fault paths).
std::string partBytes(const std::string& part_header, const std::vector<std::uint8_t>& record,
                      const StampBytes& stamp) {
  std::string bytes = part_header;
  bytes.append(reinterpret_cast<const char*>(record.data()), record.size());
  if (record.size() >= kStampOffset + 8) {
    std::copy(stamp.bytes.begin(), stamp.bytes.end(), bytes.begin() + 62 + kStampOffset);
  }
  return bytes;
}

// Sends one part. Returns 1 or kSimErrClosed.
int sendPart(StreamOutput* out, const std::string& part_header,
             const std::vector<std::uint8_t>& record) {
  const StampBytes stamp = stampNow();
  const FaultScenario* f = out->faults;
  if (!out->pending.empty() || (f && f->random_pieces)) {
    std::string bytes = out->pending + partBytes(part_header, record, stamp);
    const std::size_t header_size = out->pending.size();
    out->pending.clear();
    if (f && f->random_pieces)
      return sendInPieces(out->fd, bytes, f->piece_max_bytes, &out->random);
    // The first boundary in two writes: the header block with "--mybo", a short pause, the rest.
    const std::size_t cut = header_size + 6;
    if (sendAll(out->fd, bytes.data(), cut) < 0) return kSimErrClosed;
    std::this_thread::sleep_for(milliseconds(f ? f->split_pause_ms : 0));
    return sendAll(out->fd, bytes.data() + cut, bytes.size() - cut);
  }
  if (record.size() < kStampOffset + 8) {
    return sendAll(out->fd, partBytes(part_header, record, stamp));
  }
  iovec parts[4];
  parts[0] = {const_cast<char*>(part_header.data()), part_header.size()};
  parts[1] = {const_cast<std::uint8_t*>(record.data()), kStampOffset};
  parts[2] = {const_cast<std::uint8_t*>(stamp.bytes.data()), stamp.bytes.size()};
  parts[3] = {const_cast<std::uint8_t*>(record.data()) + kStampOffset + 8,
              record.size() - kStampOffset - 8};
  return sendScattered(out->fd, parts, 4);
}

std::shared_ptr<StreamControl> registerStream(Simulator* sim, std::uint32_t app_key,
                                              std::vector<int> cameras, int pause_ms) {
  auto control = std::make_shared<StreamControl>();
  control->app_key = app_key;
  control->cameras = std::move(cameras);
  control->pause_ms = pause_ms;
  std::lock_guard<std::mutex> lock(sim->streams_mutex);
  control->daemon_id = sim->next_daemon_id++;
  if (sim->next_daemon_id > 0x7FFFFFFF) sim->next_daemon_id = 0x1001;  // stays a positive %d
  sim->streams[control->daemon_id] = control;
  return control;
}

void unregisterStream(Simulator* sim, const std::shared_ptr<StreamControl>& control) {
  std::lock_guard<std::mutex> lock(sim->streams_mutex);
  sim->streams.erase(control->daemon_id);
}

// Takes the control's camera list into the writer's own list: new cameras are due at once,
// removed ones are dropped, the others keep their pace. Call under control->mutex.
void syncCameras(const StreamControl& control, std::vector<StreamCamera>* cameras,
                 Clock::time_point now) {
  std::vector<StreamCamera> next;
  for (int number : control.cameras) {
    auto it = std::find_if(cameras->begin(), cameras->end(),
                           [number](const StreamCamera& c) { return c.number == number; });
    next.push_back(it != cameras->end() ? *it : StreamCamera{number, now, 0});
  }
  *cameras = std::move(next);
}

// Waits up to `delay` for a change of the control or the server's stop; false when stopping.
bool pauseFor(Simulator* sim, StreamControl* control, milliseconds delay) {
  const auto until = Clock::now() + delay;
  std::unique_lock<std::mutex> lock(control->mutex);
  while (!sim->stopping.load() && Clock::now() < until) {
    control->wake.wait_until(lock, std::min(until, Clock::now() + kPollStep));
  }
  return !sim->stopping.load();
}

}  // namespace

void serveStream(Simulator* sim, int fd, const HttpRequest& request) {
  const Scenario& scenario = sim->options.scenario;
  const std::uint64_t number = ++sim->stream_count;
  const FaultScenario& faults = scenario.faults;
  const bool faulty =
      faults.only_stream == 0 || static_cast<std::uint64_t>(faults.only_stream) == number;
  if (faulty && faults.page_without_boundary) {
    if (sendAll(fd, pageWithoutBoundary()) > 0) finishAnswer(fd, 500);
    return;
  }
  const auto app_key = parseInteger(queryValue(request.query, "AppKey").value_or(""));
  const auto pause = parseInteger(queryValue(request.query, "PauseTime").value_or("0"));
  std::vector<int> wanted =
      parseCameraList(queryValue(request.query, "CameraId").value_or(""), scenario.camera_count);
  auto control =
      registerStream(sim, static_cast<std::uint32_t>(app_key.value_or(0)), std::move(wanted),
                     static_cast<int>(std::clamp(pause.value_or(0), 0LL, kMaxPause_ms)));
  ++sim->served_streams;
  ++sim->active_streams;
  platform::traceOut("stream 0x%08x opened\n", static_cast<unsigned>(control->daemon_id));

  StreamOutput out;
  out.fd = fd;
  out.faults = faulty ? &faults : nullptr;
  out.random.seed(faults.random_seed + static_cast<std::uint32_t>(number));
  const std::string part_header = partHeader(control->daemon_id);
  bool ok = true;
  if (out.faults && (faults.split_first_boundary || faults.random_pieces)) {
    out.pending = streamHeaderBlock();  // goes out with the first part
  } else {
    ok = sendAll(fd, streamHeaderBlock()) > 0;
  }

  std::vector<StreamCamera> cameras;
  Clock::time_point last_sent{};
  std::uint64_t parts = 0;
  std::size_t rotation = 0;
  bool stalled = false;
  while (ok && !sim->stopping.load()) {
    StreamCamera* pick = nullptr;
    {
      std::unique_lock<std::mutex> lock(control->mutex);
      const auto now = Clock::now();
      if (control->changed || cameras.size() != control->cameras.size() || parts == 0) {
        syncCameras(*control, &cameras, now);
        control->changed = false;
      }
      if (cameras.empty()) {
        control->wake.wait_for(lock, kPollStep);
        lock.unlock();
        if (peerGone(fd)) break;
        continue;
      }
      // The camera that is due first; ties go round so that no camera starves.
      for (std::size_t k = 0; k < cameras.size(); ++k) {
        StreamCamera& c = cameras[(rotation + k) % cameras.size()];
        if (!pick || c.due < pick->due) pick = &c;
      }
      auto due = pick->due;
      if (parts > 0) due = std::max(due, last_sent + milliseconds(control->pause_ms));
      if (due > now) {
        control->wake.wait_until(lock, std::min(due, now + kPollStep));
        lock.unlock();
        if (peerGone(fd)) break;
        continue;
      }
    }
    ++rotation;
    const std::shared_ptr<const CameraRing> ring = feedsRing(sim->feeds.get(), pick->number);
    if (!ring) break;
    const RingFrame& frame = ring->frames[pick->next_frame % ring->frames.size()];
    const CameraScenario& camera = scenario.cameras[static_cast<std::size_t>(pick->number - 1)];

    if (out.faults && faults.close_after_frames > 0 &&
        parts == static_cast<std::uint64_t>(faults.close_after_frames)) {
      if (faults.close_mid_record) {
        const std::string bytes = partBytes(part_header, frame.wire, stampNow());
        (void)sendAll(fd, bytes.data(), 62 + frame.wire.size() / 2);
      }
      break;
    }
    if (sendPart(&out, part_header, frame.wire) < 0) break;
    ++parts;
    ++sim->frame_count;
    const auto now = Clock::now();
    last_sent = now;
    ++pick->next_frame;
    const milliseconds period =
        frame.delay_ms >= 0 ? milliseconds(frame.delay_ms) : framePeriod(camera);
    pick->due += period;
    if (pick->due + period < now || period.count() == 0) pick->due = now;  // no bursts to catch up

    if (out.faults && faults.stall_after_frames > 0 && !stalled &&
        parts == static_cast<std::uint64_t>(faults.stall_after_frames)) {
      stalled = true;
      if (!pauseFor(sim, control.get(), milliseconds(faults.stall_ms))) break;
      for (StreamCamera& c : cameras) c.due = Clock::now();
    }
  }
  unregisterStream(sim, control);
  --sim->active_streams;
  platform::traceOut("stream 0x%08x closed after %llu parts\n",
                     static_cast<unsigned>(control->daemon_id),
                     static_cast<unsigned long long>(parts));
}

std::string serveControl(Simulator* sim, const HttpRequest& request) {
  const Scenario& scenario = sim->options.scenario;
  const bool zero = scenario.faults.zero_content_length;
  const std::string action = queryValue(request.query, "Action").value_or("");
  const auto app_key = parseInteger(queryValue(request.query, "AppKey").value_or(""));
  const auto daemon_id = parseInteger(queryValue(request.query, "DaemonId").value_or(""));
  if (!app_key || !daemon_id) return controlAnswer(400, "AppKey and DaemonId are needed", zero);
  if (action != "Add" && action != "Remove" && action != "Set") {
    return controlAnswer(400, "Unknown action", zero);
  }
  std::vector<int> cameras;
  long long pause_ms = 0;
  if (action == "Set") {
    const auto pause = parseInteger(queryValue(request.query, "PauseTime").value_or(""));
    if (!pause) return controlAnswer(400, "PauseTime is needed", zero);
    pause_ms = std::clamp(*pause, 0LL, kMaxPause_ms);
  } else {
    cameras =
        parseCameraList(queryValue(request.query, "CameraId").value_or(""), scenario.camera_count);
  }
  // A daemon id of -1 (a client that has not seen a part yet) names every stream of the AppKey.
  std::vector<std::shared_ptr<StreamControl>> targets;
  {
    std::lock_guard<std::mutex> lock(sim->streams_mutex);
    for (const auto& [id, control] : sim->streams) {
      if (control->app_key != static_cast<std::uint32_t>(*app_key)) continue;
      if (*daemon_id != -1 && static_cast<long long>(id) != *daemon_id) continue;
      targets.push_back(control);
    }
  }
  if (targets.empty()) return controlAnswer(404, "No such stream", zero);
  for (const auto& control : targets) {
    {
      std::lock_guard<std::mutex> lock(control->mutex);
      std::vector<int>& list = control->cameras;
      if (action == "Add") {
        for (int c : cameras) {
          if (std::find(list.begin(), list.end(), c) == list.end()) list.push_back(c);
        }
        std::sort(list.begin(), list.end());
      } else if (action == "Remove") {
        std::erase_if(list, [&](int c) {
          return std::find(cameras.begin(), cameras.end(), c) != cameras.end();
        });
      } else {
        control->pause_ms = static_cast<int>(pause_ms);
      }
      control->changed = true;
    }
    control->wake.notify_all();
  }
  ++sim->control_count;
  return controlAnswer(200, "OK", zero);
}

void serveMjpeg(Simulator* sim, int fd, const HttpRequest& request) {
  const Scenario& scenario = sim->options.scenario;
  const auto camera_number = parseInteger(queryValue(request.query, "camera").value_or("1"));
  if (!camera_number || *camera_number < 1 || *camera_number > scenario.camera_count) {
    if (sendAll(fd, pageAnswer("404 Not Found", "No such camera")) > 0) finishAnswer(fd, 500);
    return;
  }
  const int number = static_cast<int>(*camera_number);
  const CameraScenario& camera = scenario.cameras[static_cast<std::size_t>(number - 1)];
  if (sendAll(fd,
              "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=kv4rframe\r\n"
              "Cache-Control: no-cache\r\nConnection: close\r\n\r\n") < 0) {
    return;
  }
  // A browser view needs no more than 25 pictures a second, also from an unpaced camera.
  const milliseconds period = camera.fps > 0 ? framePeriod(camera) : milliseconds(40);
  StreamControl waiter;
  std::size_t index = 0;
  while (!sim->stopping.load()) {
    const std::shared_ptr<const CameraRing> ring = feedsRing(sim->feeds.get(), number);
    if (!ring) break;
    const RingFrame& frame = ring->frames[index++ % ring->frames.size()];
    std::string bytes = "--kv4rframe\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                        std::to_string(frame.plain.size()) + "\r\n\r\n";
    const std::size_t at = bytes.size();
    bytes.append(reinterpret_cast<const char*>(frame.plain.data()), frame.plain.size());
    bytes += "\r\n";
    const StampBytes stamp = stampNow();
    if (frame.plain.size() >= kStampOffset + 8) {
      std::copy(stamp.bytes.begin(), stamp.bytes.end(), bytes.begin() + at + kStampOffset);
    }
    if (sendAll(fd, bytes) < 0) break;
    const milliseconds delay = frame.delay_ms >= 0 ? milliseconds(frame.delay_ms) : period;
    if (!pauseFor(sim, &waiter, delay)) break;
    if (peerGone(fd)) break;
  }
}

}  // namespace kv4r::sim
