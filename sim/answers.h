// The exact bytes of the server's fixed answers. Pure functions of the scenario; any thread.
//
// Answer forms (CR LF line ends everywhere):
//  - system information: a header block with Content-Length, then the lines Model=0x%04x,
//    KernelVersion=0x%04x, OsType=, SupportCameraCount=, SupportDigitalIutputCount=,
//    SupportDigitalOutputCount=, SupportCameraModel="...", SerialNo="..." in this order (Model=
//    first, so that a search for the first "Model" finds it);
//  - user rights: a header block without length and the lines PROPERTY0= to PROPERTY3= (values as
//    0x%08x, negative ones in decimal), ended by closing the connection; without rights, no lines;
//  - camera name: a header block without length and the line CAMNAME="name" (or nothing when the
//    camera has no name), ended by closing the connection;
//  - control answers (Add, Remove, Set): a header block with Content-Length and the body "OK";
//  - refusals: 401 with a page that says "Unauthorized" (and no boundary).
#pragma once

#include <string>

#include "sim/scenario.h"

namespace kv4r::sim {

// The part boundary of the stream and of each part header.
inline constexpr char kStreamBoundary[] = "--myboundary";
inline constexpr char kPartHeaderText[] = "--myboundary\r\nContent-type:image/jpeg\r\nDaemonId:";
inline constexpr std::size_t kPartHeaderSize = 62;

// The system information answer, reporting `model` (the scenario's, or another one for a fault).
// With `zero_length` the header announces Content-Length: 0 and no body follows.
[[nodiscard]] std::string systemInfoAnswer(const Scenario& scenario, int model, bool zero_length);

// The user rights page for the user `user` logged in as (empty: no login).
[[nodiscard]] std::string userRightsAnswer(const Scenario& scenario, const std::string& user);

// The camera name page for PortId `port_id` (0-based); a 404 page outside the camera count.
[[nodiscard]] std::string cameraNameAnswer(const Scenario& scenario, long long port_id);

// The answer to a stream control request: 200 with "OK", or an error status with a short text.
[[nodiscard]] std::string controlAnswer(int status, const std::string& text, bool zero_length);

// The refusal of a request without valid credentials.
[[nodiscard]] std::string unauthorizedAnswer();

// A small page with any status ("404 Not Found", ...), ended by closing.
[[nodiscard]] std::string pageAnswer(const std::string& status, const std::string& text);

// The stream's header block (before the first part).
[[nodiscard]] std::string streamHeaderBlock();

// The 62-byte part header for a daemon id.
[[nodiscard]] std::string partHeader(std::uint32_t daemon_id);

// An answer to the stream request that carries no boundary (a fault).
[[nodiscard]] std::string pageWithoutBoundary();

// The front page: the cameras as MJPEG pictures, for a browser.
[[nodiscard]] std::string indexPage(const Scenario& scenario);

}  // namespace kv4r::sim
