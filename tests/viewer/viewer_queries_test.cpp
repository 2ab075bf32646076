#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/message_boxes.h"
#include "stream/socket_io.h"
#include "tests/support/loopback_server.h"
#include "tests/support/stream_wire.h"
#include "viewer/viewer_window.h"

namespace kv4r::viewer {
namespace {

using kv4r::testing::httpAnswer;
using kv4r::testing::LoopbackReply;
using kv4r::testing::LoopbackServer;

// An answer that ends when the server closes (the ".asp" pages).
LoopbackReply page(const std::string& body) {
  return LoopbackReply::closing({"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" + body});
}

LoopbackReply sysinfo(const std::string& body) {
  return LoopbackReply::closing({httpAnswer(body)});
}

const std::string kSysinfo =
    "Model=0x1234\r\nKernelVersion=0x0300\r\nOsType=LINUX\r\nSupportCameraCount=4\r\n"
    "SupportDigitalIutputCount=4\r\nSupportDigitalOutputCount=1\r\nSupportCameraModel=\"CCD\"\r\n"
    "SerialNo=\"00-1A-2B-3C-4D-5E\"\r\n";

class ServerQueries : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = stream::setTimeoutSecondForTesting(std::chrono::milliseconds(40));
    window_.host = LoopbackServer::host();
    window_.port = server_.port();
    window_.boxes = &boxes_;
  }
  void TearDown() override { stream::setTimeoutSecondForTesting(previous_); }

  LoopbackServer server_;
  platform::RecordingMessageBoxes boxes_;
  ViewerWindow window_;

 private:
  std::chrono::milliseconds previous_{};
};

TEST_F(ServerQueries, SystemInformationIsReadKeyByKey) {
  server_.queueReply(sysinfo(kSysinfo));
  ASSERT_EQ(querySystemInfo(window_), 0);
  const ServerInfo& info = window_.info;
  EXPECT_EQ(info.model, 0x1234);
  EXPECT_EQ(info.kernel_version, 0x300);
  EXPECT_EQ(info.os_type, "LINUX");
  EXPECT_EQ(info.camera_count, 4);
  EXPECT_EQ(info.digital_inputs, 4);
  EXPECT_EQ(info.digital_outputs, 1);
  EXPECT_EQ(info.camera_model, "CCD");
  EXPECT_EQ(info.serial_number, "00-1A-2B-3C-4D-5E");
  EXPECT_TRUE(boxes_.texts().empty());
  EXPECT_EQ(server_.received(0),
            "GET /cgi-bin/kxsysget.cgi?KxModId=0&KxCgiVer=0x0001 HTTP/1.1\r\nHost: "
            "127.0.0.1\r\nConnection: Keep-Alive\r\n\r\n");
}

TEST_F(ServerQueries, FirstModelKeyCountsEvenInsideAnotherKey) {
  server_.queueReply(
      sysinfo("SupportCameraModel=\"CCD\"\r\nModel=0x1234\r\nSupportCameraCount=1\r\n"));
  ASSERT_EQ(querySystemInfo(window_), 0);
  EXPECT_EQ(window_.info.model, 0);
  EXPECT_EQ(window_.info.camera_model, "CCD");
}

TEST_F(ServerQueries, OsTypeIsReadFromKernel768On) {
  server_.queueReply(
      sysinfo("Model=1\r\nKernelVersion=767\r\nOsType=LINUX\r\nSupportCameraCount=2\r\n"));
  ASSERT_EQ(querySystemInfo(window_), 0);
  EXPECT_EQ(window_.info.os_type, "");
  server_.queueReply(sysinfo(
      "Model=1\r\nKernelVersion=768\r\nOsType=A-VERY-LONG-OS-NAME\r\nSupportCameraCount=2\r\n"));
  ASSERT_EQ(querySystemInfo(window_), 0);
  EXPECT_EQ(window_.info.os_type, "A-VERY-LONG-OS-");
  // An older server asked next (a new address) must not inherit the last server's system: its
  // coded frames would get that system's table rebuild.
  server_.queueReply(
      sysinfo("Model=1\r\nKernelVersion=767\r\nOsType=LINUX\r\nSupportCameraCount=2\r\n"));
  ASSERT_EQ(querySystemInfo(window_), 0);
  EXPECT_EQ(window_.info.os_type, "");
}

TEST_F(ServerQueries, QuotedTextsAreCutAndNeedTheirClosingQuote) {
  server_.queueReply(
      sysinfo("Model=1\r\nSupportCameraCount=1\r\nSupportCameraModel=\"CCD-II\"\r\nSerialNo="
              "\"unterminated"));
  ASSERT_EQ(querySystemInfo(window_), 0);
  EXPECT_EQ(window_.info.camera_model, "CCD-");
  EXPECT_EQ(window_.info.serial_number, "");
}

TEST_F(ServerQueries, CameraCountIsLimitedToFourAndMustBeAtLeastOne) {
  server_.queueReply(sysinfo("Model=1\r\nSupportCameraCount=6\r\n"));
  ASSERT_EQ(querySystemInfo(window_), 0);
  EXPECT_EQ(window_.info.camera_count, 4);

  server_.queueReply(sysinfo("Model=1\r\nSupportCameraCount=0\r\n"));
  EXPECT_EQ(querySystemInfo(window_), -1);
  ASSERT_EQ(boxes_.texts().size(), 1u);
  EXPECT_EQ(boxes_.texts()[0],
            "Max Camera Number is 0.\n\nIt means that 'Video Relay' is not initialize.\n\nPlease "
            "check 'RX Module Registration' of this system \n\n and login information of remote "
            "system.");
}

TEST_F(ServerQueries, AnswerWithoutModelShowsItsFirst196Bytes) {
  const std::string body = "<html><h1>401 Unauthorized</h1>" + std::string(300, '.') + "</html>";
  const std::string refusal =
      "HTTP/1.0 401 Unauthorized\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
      body;
  server_.queueReply(LoopbackReply::closing({refusal}));
  window_.server_number = 3;
  EXPECT_EQ(querySystemInfo(window_), -1);
  ASSERT_EQ(boxes_.texts().size(), 1u);
  EXPECT_EQ(boxes_.texts()[0],
            "CGI failed \n\n/cgi-bin/kxsysget.cgi?ServerId=3&KxCgiVer=0x0001 \n\n" +
                refusal.substr(0, 196));
}

TEST_F(ServerQueries, FailedQueryShowsNothing) {
  kv4r::testing::RefusingPort refusing;
  window_.port = refusing.port();
  EXPECT_EQ(querySystemInfo(window_), -1);
  EXPECT_TRUE(boxes_.texts().empty());
}

TEST_F(ServerQueries, RightsEntriesOfThisModuleBuildTheMasks) {
  struct Case {
    std::string page;
    int server_number;
    std::array<int, 4> masks;
  };
  const Case cases[] = {
      // Camera nibble 15: every camera; view right only.
      {"PROPERTY0=0x00F1\r\nPROPERTY1=0\r\nPROPERTY2=0\r\nPROPERTY3=0\r\n", 0, {63, 0, 0, 0}},
      // Camera nibble 2 is camera 3.
      {"PROPERTY0=0x0021\r\nPROPERTY1=0\r\nPROPERTY2=0\r\nPROPERTY3=0\r\n", 0, {4, 0, 0, 0}},
      // Another module number changes nothing.
      {"PROPERTY0=0x0121\r\nPROPERTY1=0\r\nPROPERTY2=0\r\nPROPERTY3=0\r\n", 0, {0, 0, 0, 0}},
      // The second entry (high half), all four rights bits, module 1.
      {"PROPERTY0=0\r\nPROPERTY1=0x010F0000\r\nPROPERTY2=0\r\nPROPERTY3=0\r\n", 1, {1, 1, 1, 1}},
      // Decimal values; one key missing reads as -1 (module 255, which no entry here uses).
      {"PROPERTY0=17\r\nPROPERTY2=0\r\nPROPERTY3=0\r\n", 0, {2, 0, 0, 0}},
      // No key at all: every camera allowed for everything.
      {"<html>no rights here</html>", 0, {-1, -1, -1, -1}},
  };
  for (const Case& c : cases) {
    server_.queueReply(page(c.page));
    window_.server_number = c.server_number;
    ASSERT_EQ(queryUserRights(window_), 0) << c.page;
    EXPECT_EQ(window_.rights, c.masks) << c.page;
    for (const CameraPane& pane : window_.panes) {
      EXPECT_EQ(pane.allowed.load(), (c.masks[0] >> pane.index & 1) != 0) << c.page;
    }
  }
  EXPECT_EQ(server_.received(0),
            "GET /asp-get/kxusrget.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: "
            "Keep-Alive\r\n\r\n");
}

TEST_F(ServerQueries, CameraNamesFromTheirPagesOrNumbered) {
  window_.info.camera_count = 4;
  window_.panes[3].name = "Kept";
  server_.queueReply(page("CAMNAME=\"Gate\"\r\n"));
  server_.queueReply(page("nothing\r\n"));
  server_.queueReply(page("CAMNAME=\"unterminated\r\n"));
  server_.queueReply(page("CAMNAME=\"Yard\"\r\n"));
  ASSERT_EQ(queryCameraNames(window_), 0);
  EXPECT_EQ(window_.panes[0].name, "Gate");
  EXPECT_EQ(window_.panes[1].name, "Cam 2");
  EXPECT_EQ(window_.panes[2].name, "");
  EXPECT_EQ(window_.panes[3].name, "Kept");
  ASSERT_EQ(server_.connectionCount(), 4u);
  EXPECT_NE(server_.received(1).find("GET /asp-get/kxcamget.asp?KxModId=0&PortId=1 HTTP/1.1"),
            std::string::npos);
}

TEST_F(ServerQueries, CameraNameQueriesStopAtTheFirstFailure) {
  window_.info.camera_count = 3;
  server_.queueReply(page("CAMNAME=\"Gate\"\r\n"));
  server_.queueReply(LoopbackReply::keepingOpen({"HTTP/1.0 200 OK\r\n\r\n"}));  // never ends
  EXPECT_EQ(queryCameraNames(window_), -1);
  EXPECT_EQ(server_.connectionCount(), 2u);
}

TEST_F(ServerQueries, SixCamerasGiveFourNameQueries) {
  server_.queueReply(sysinfo("Model=1\r\nSupportCameraCount=6\r\n"));
  server_.queueReply(page("PROPERTY0=0x00F1\r\n"));
  for (int i = 0; i < 4; ++i) server_.queueReply(page("CAMNAME=\"c\"\r\n"));
  ASSERT_EQ(runServerQueries(window_), 0);
  EXPECT_EQ(server_.connectionCount(), 6u);
}

}  // namespace
}  // namespace kv4r::viewer
