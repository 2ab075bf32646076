// The kv4r_sim program: its URL line, a query, a clean exit on SIGTERM, and clear refusals.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "tests/sim/sim_test_support.h"
#include "tests/support/test_env.h"

namespace kv4r::simtest {
namespace {

TEST(Program, ServesUntilSigtermAndExitsCleanly) {
  const std::string program = testing::programPath("kv4r_sim").string();
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::close(out[1]);
    ::execl(program.c_str(), program.c_str(), "--listen", "127.0.0.1:0", "--key", "k",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::FILE* lines = ::fdopen(out[0], "r");
  char first[256] = {};
  ASSERT_NE(std::fgets(first, sizeof first, lines), nullptr);
  int port = 0;
  ASSERT_EQ(std::sscanf(first, "http://127.0.0.1:%d/", &port), 1) << first;
  std::string answer;
  EXPECT_GT(query(port, "/cgi-bin/kxsysget.cgi?KxModId=0&KxCgiVer=0x0001", &answer), 0);
  EXPECT_NE(answer.find("SupportCameraCount=4"), std::string::npos);
  StreamClient client;  // a running stream must not hold the exit up
  ASSERT_EQ(client.open(port, streamPath(1, "1,2")), 1);
  Part part;
  ASSERT_EQ(client.readPart(&part), 1);
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  std::fclose(lines);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
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
