// The fixed answers, read with the client's own HTTP layer, byte for byte.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "stream/http_request.h"
#include "stream/socket_io.h"
#include "stream/text_search.h"
#include "tests/sim/sim_test_support.h"
#include "tests/support/test_env.h"

namespace kv4r::simtest {
namespace {

const char kSysget[] = "/cgi-bin/kxsysget.cgi?KxModId=0&KxCgiVer=0x0001";

sim::SimOptions options(sim::Scenario scenario) {
  sim::SimOptions o;
  o.scenario = std::move(scenario);
  return o;
}

TEST(Answers, SystemInformationExactBytes) {
  sim::Scenario s = testScenario(4);
  s.model = 0x1234;
  s.kernel_version = 0x300;
  s.os_type = "LINUX";
  s.digital_inputs = 4;
  s.digital_outputs = 1;
  s.camera_model = "CCD";
  s.serial_number = "00-1A-2B-3C-4D-5E";
  std::string error;
  auto server = startSim(options(s), &error);
  ASSERT_TRUE(server) << error;
  std::string answer;
  const int n = query(sim::simPort(server.get()), kSysget, &answer);
  const std::string body =
      "Model=0x1234\r\nKernelVersion=0x0300\r\nOsType=LINUX\r\nSupportCameraCount=4\r\n"
      "SupportDigitalIutputCount=4\r\nSupportDigitalOutputCount=1\r\n"
      "SupportCameraModel=\"CCD\"\r\nSerialNo=\"00-1A-2B-3C-4D-5E\"\r\n";
  const std::string expected = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                               std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  ASSERT_EQ(n, static_cast<int>(expected.size()));
  EXPECT_EQ(answer, expected);
  // Both ways the client reads the model agree.
  const auto at = stream::findText(answer, "Model=");
  ASSERT_TRUE(at);
  EXPECT_EQ(stream::parseNumber(std::string_view(answer).substr(*at + 6)), 0x1234);
  unsigned scanned = 0;
  ASSERT_EQ(
      std::sscanf(answer.c_str() + *stream::findText(answer, "Model") + 6, "0x%04x", &scanned), 1);
  EXPECT_EQ(scanned, 0x1234u);
}

TEST(Answers, RightsAndCameraNamePagesEndByClosing) {
  sim::Scenario s = testScenario(3);
  s.rights = std::vector<std::int64_t>{0xF1, 0x00210021, -1, 0};
  s.cameras[1].name.reset();
  std::string error;
  auto server = startSim(options(s), &error);
  ASSERT_TRUE(server) << error;
  const int port = sim::simPort(server.get());
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n";
  std::string answer;
  ASSERT_GT(queryAll(port, "/asp-get/kxusrget.asp", &answer), 0);
  EXPECT_EQ(answer, head +
                        "PROPERTY0=0x000000f1\r\nPROPERTY1=0x00210021\r\nPROPERTY2=-1\r\n"
                        "PROPERTY3=0x00000000\r\n");
  ASSERT_GT(queryAll(port, "/asp-get/kxcamget.asp?KxModId=0&PortId=0", &answer), 0);
  EXPECT_EQ(answer, head + "CAMNAME=\"Cam1\"\r\n");
  ASSERT_GT(queryAll(port, "/asp-get/kxcamget.asp?KxModId=0&PortId=1", &answer), 0);
  EXPECT_EQ(answer, head);  // a camera without name: no CAMNAME key
  ASSERT_GT(queryAll(port, "/asp-get/kxcamget.asp?KxModId=0&PortId=3", &answer), 0);
  EXPECT_EQ(answer.rfind("HTTP/1.1 404", 0), 0u);
  EXPECT_EQ(answer.find("CAMNAME"), std::string::npos);

  s.user_rights["bob"] = std::vector<std::int64_t>{0x21, 0, 0, 0};
  s.user_rights["carl"] = std::nullopt;
  auto per_user = startSim(options(s), &error);
  ASSERT_TRUE(per_user) << error;
  const int per_user_port = sim::simPort(per_user.get());
  ASSERT_GT(queryAll(per_user_port, "/asp-get/kxusrget.asp", &answer, "bob", "pw"), 0);
  EXPECT_NE(answer.find("PROPERTY0=0x00000021\r\n"), std::string::npos);
  ASSERT_GT(queryAll(per_user_port, "/asp-get/kxusrget.asp", &answer, "carl", "pw"), 0);
  EXPECT_EQ(answer.find("PROPERTY"), std::string::npos);
  ASSERT_GT(queryAll(per_user_port, "/asp-get/kxusrget.asp", &answer, "dora", "pw"), 0);
  EXPECT_NE(answer.find("PROPERTY0=0x000000f1\r\n"), std::string::npos);

  s.rights.reset();
  s.user_rights.clear();
  auto open_rights = startSim(options(s), &error);
  ASSERT_TRUE(open_rights) << error;
  ASSERT_GT(queryAll(sim::simPort(open_rights.get()), "/asp-get/kxusrget.asp", &answer), 0);
  EXPECT_EQ(answer.find("PROPERTY"), std::string::npos);
}

TEST(Answers, LoginIsCheckedOnEveryRequest) {
  sim::SimOptions o = options(testScenario(1));
  o.users = {{"ann", "pw1"}, {"bob", "x:y"}};
  std::string error;
  auto server = startSim(o, &error);
  ASSERT_TRUE(server) << error;
  const int port = sim::simPort(server.get());
  std::string answer;
  for (const auto& [user, password] : std::vector<std::pair<std::string, std::string>>{
           {"", ""}, {"ann", "wrong"}, {"ann", ""}, {"carl", "pw1"}}) {
    ASSERT_GT(query(port, kSysget, &answer, user, password), 0);
    EXPECT_EQ(answer.rfind("HTTP/1.1 401 Unauthorized\r\n", 0), 0u) << user;
    EXPECT_NE(answer.find("Unauthorized"), std::string::npos);
    EXPECT_EQ(answer.find("Model="), std::string::npos);
  }
  ASSERT_GT(query(port, kSysget, &answer, "ann", "pw1"), 0);
  EXPECT_NE(answer.find("Model=0x1234"), std::string::npos);
  ASSERT_GT(query(port, kSysget, &answer, "bob", "x:y"), 0);  // a colon inside the password
  EXPECT_NE(answer.find("Model="), std::string::npos);

  StreamClient refused;
  ASSERT_EQ(refused.open(port, streamPath(1, "1")), 1);
  const std::string page = refused.header + refused.readRest();
  EXPECT_NE(page.find("Unauthorized"), std::string::npos);
  EXPECT_EQ(page.find("--myboundary"), std::string::npos);
  EXPECT_EQ(sim::simCounters(server.get()).streams, 0u);
}

TEST(Answers, ControlAnswerAndUnknownPaths) {
  std::string error;
  auto server = startSim(options(testScenario(1)), &error);
  ASSERT_TRUE(server) << error;
  const int port = sim::simPort(server.get());
  std::string answer;
  ASSERT_GT(query(port, controlPath(7, 1234, "Add", "CameraId=1"), &answer), 0);
  EXPECT_EQ(answer.rfind("HTTP/1.1 404", 0), 0u);  // no such stream
  ASSERT_GT(query(port, controlPath(7, 1234, "Jump", "CameraId=1"), &answer), 0);
  EXPECT_EQ(answer.rfind("HTTP/1.1 400", 0), 0u);
  ASSERT_GT(queryAll(port, "/nothing", &answer), 0);
  EXPECT_EQ(answer.rfind("HTTP/1.1 404", 0), 0u);
  ASSERT_GT(queryAll(port, "/", &answer), 0);
  EXPECT_NE(answer.find("/mjpeg?camera=1"), std::string::npos);
}

TEST(Answers, ZeroContentLengthAndAnotherModelOnOneConnection) {
  sim::Scenario s = testScenario(1);
  s.faults.zero_content_length = true;
  std::string error;
  auto zero = startSim(options(s), &error);
  ASSERT_TRUE(zero) << error;
  std::string answer;
  EXPECT_EQ(query(sim::simPort(zero.get()), kSysget, &answer), -2);  // the client's failure
  const int fd =
      stream::httpOpen(inet_addr("127.0.0.1"), sim::simPort(zero.get()), "", "", kSysget, 5);
  ASSERT_GE(fd, 0);
  std::string header;
  ASSERT_GT(stream::readHeaderBlock(fd, header, 4096), 0);
  EXPECT_NE(header.find("Content-Length: 0\r\n"), std::string::npos);
  char byte = 0;
  EXPECT_EQ(stream::sockRecv(fd, &byte, 1, 0, 5), 0);  // nothing follows
  stream::sockClose(fd);

  s = testScenario(1);
  s.faults.other_model_on_connection = 2;
  auto other = startSim(options(s), &error);
  ASSERT_TRUE(other) << error;
  const int port = sim::simPort(other.get());
  for (const char* model : {"Model=0x1234", "Model=0x1235", "Model=0x1234"}) {
    ASSERT_GT(query(port, kSysget, &answer), 0);
    EXPECT_NE(answer.find(model), std::string::npos) << model;
  }
}

TEST(Answers, LogHoldsEachRequestWithoutThePassword) {
  testing::TempDir dir;
  sim::SimOptions o = options(testScenario(1));
  o.users = {{"ann", "topsecret"}};
  o.log_path = (dir / "requests.jsonl").string();
  std::string error;
  auto server = startSim(o, &error);
  ASSERT_TRUE(server) << error;
  const int port = sim::simPort(server.get());
  std::string answer;
  ASSERT_GT(query(port, kSysget, &answer, "ann", "topsecret"), 0);
  ASSERT_GT(queryAll(port, "/asp-get/kxusrget.asp", &answer), 0);
  server.reset();
  const std::string log = testing::readFile(dir / "requests.jsonl");
  EXPECT_EQ(log.find("topsecret"), std::string::npos);
  EXPECT_EQ(log.find(stream::base64Encode("ann:topsecret", 13)), std::string::npos);
  std::istringstream lines(log);
  std::string line;
  std::vector<nlohmann::json> entries;
  while (std::getline(lines, line)) entries.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0]["connection"], 1);
  EXPECT_EQ(entries[1]["connection"], 2);
  EXPECT_EQ(entries[0]["lines"][0], std::string("GET ") + kSysget + " HTTP/1.1");
  EXPECT_EQ(entries[0]["lines"][1], "Host: 127.0.0.1");
  EXPECT_EQ(entries[0]["lines"][2], "Connection: Keep-Alive");
  EXPECT_EQ(entries[0]["lines"][3], "Authorization: Basic ***");
  EXPECT_EQ(entries[0]["user"], "ann");
  EXPECT_EQ(entries[0]["authorized"], true);
  EXPECT_EQ(entries[1]["authorized"], false);
  EXPECT_TRUE(entries[0]["time"].is_string());
}

}  // namespace
}  // namespace kv4r::simtest
