// The kv4r_sim program: its URL line, a query, a clean exit on SIGTERM, and clear refusals.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/sim/sim_test_support.h"
#include "tests/support/test_env.h"

namespace kv4r::simtest {
namespace {

// kv4r_sim started with `args`; stopped with SIGTERM and reaped at destruction if still running.
class RunningSim {
 public:
  explicit RunningSim(const std::vector<std::string>& args) {
    const std::string program = testing::programPath("kv4r_sim").string();
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      ::close(out[1]);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    if (pid_ < 0) {
      ::close(out[0]);
      return;
    }
    lines_ = ::fdopen(out[0], "r");
  }
  ~RunningSim() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (lines_) std::fclose(lines_);
  }
  RunningSim(const RunningSim&) = delete;
  RunningSim& operator=(const RunningSim&) = delete;

  // The port of the URL the program prints first, or 0 when it ended without one.
  int port() {
    char first[256] = {};
    if (!lines_ || !std::fgets(first, sizeof first, lines_)) return 0;
    int port = 0;
    return std::sscanf(first, "http://127.0.0.1:%d/", &port) == 1 ? port : 0;
  }
  // Sends SIGTERM and waits: the exit status, or -1 when the program did not exit normally.
  int stop() {
    if (pid_ <= 0 || ::kill(pid_, SIGTERM) != 0) return -1;
    int status = 0;
    const pid_t reaped = ::waitpid(pid_, &status, 0);
    pid_ = 0;
    return reaped > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  std::FILE* lines_ = nullptr;
};

TEST(Program, ServesUntilSigtermAndExitsCleanly) {
  RunningSim sim({"--listen", "127.0.0.1:0", "--key", "k"});
  const int port = sim.port();
  ASSERT_GT(port, 0);
  std::string answer;
  EXPECT_GT(query(port, "/cgi-bin/kxsysget.cgi?KxModId=0&KxCgiVer=0x0001", &answer), 0);
  EXPECT_NE(answer.find("SupportCameraCount=4"), std::string::npos);
  StreamClient client;  // a running stream must not hold the exit up
  ASSERT_EQ(client.open(port, streamPath(1, "1,2")), 1);
  Part part;
  ASSERT_EQ(client.readPart(&part), 1);
  EXPECT_EQ(sim.stop(), 0);
}

TEST(Program, KeyOfTheCommandLineServesAScenarioThatLeavesItOut) {
  testing::TempDir dir;
  testing::writeFile(dir / "s.json", R"({"cameras": [{"mode": 2}, {"mode": 3}]})");
  RunningSim sim(
      {"--listen", "127.0.0.1:0", "--scenario", (dir / "s.json").string(), "--key", "gate7"});
  const int port = sim.port();
  ASSERT_GT(port, 0) << "refused although --key gives the key";
  StreamClient client;
  ASSERT_EQ(client.open(port, streamPath(1, "2")), 1);
  Part part;
  ASSERT_EQ(client.readPart(&part), 1);
  EXPECT_EQ(part.camera, 2);
  EXPECT_EQ(sim.stop(), 0);
}

TEST(Program, BadArgumentsAndScenariosAreRefused) {
  const auto program = testing::programPath("kv4r_sim");
  auto r = testing::runProgram(program, {"--listen", "localhost"});
  EXPECT_NE(r.exit_status, 0);
  EXPECT_NE(r.err.find("ADDR:PORT"), std::string::npos);
  r = testing::runProgram(program, {"--scenario", "/nonexistent/s.json"});
  EXPECT_NE(r.exit_status, 0);
  EXPECT_NE(r.err.find("/nonexistent/s.json"), std::string::npos);
  testing::TempDir dir;
  testing::writeFile(dir / "s.json", R"({"cameras": [{"mode": 2}]})");
  r = testing::runProgram(program, {"--scenario", (dir / "s.json").string()});
  EXPECT_NE(r.exit_status, 0);
  EXPECT_NE(r.err.find("key"), std::string::npos);
  r = testing::runProgram(program, {"--user", "nocolon"});
  EXPECT_NE(r.exit_status, 0);
  r = testing::runProgram(program, {"--help"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_NE(r.out.find("--scenario"), std::string::npos);
}

}  // namespace
}  // namespace kv4r::simtest
