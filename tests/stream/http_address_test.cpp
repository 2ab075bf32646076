#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "platform/settings_store.h"
#include "stream/fallback_host.h"
#include "stream/server_address.h"
#include "stream/text_search.h"

namespace kv4r::stream {
namespace {

struct Parsed {
  int result = 0;
  std::string host;
  int port = 0;
  std::string user;
  std::string password;
};

Parsed parse(const std::string& text) {
  Parsed p;
  p.user = p.password = "stale";
  p.result = parseServerAddress(text, p.host, p.port, &p.user, &p.password);
  return p;
}

TEST(HttpAddress, ParsesEveryFormOfAServerAddress) {
  Parsed p = parse("localhost:8080");  // a name is resolved, the port kept
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.host, "127.0.0.1");
  EXPECT_EQ(p.port, 8080);
  EXPECT_EQ(p.user, "");
  EXPECT_EQ(p.password, "");

  p = parse("192.168.10.20");
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.host, "192.168.10.20");
  EXPECT_EQ(p.port, 80);
  EXPECT_EQ(p.user, "");
  EXPECT_EQ(p.password, "");

  p = parse("admin:se:cret@10.1.2.3:8081");
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.host, "10.1.2.3");
  EXPECT_EQ(p.port, 8081);
  EXPECT_EQ(p.user, "admin");
  EXPECT_EQ(p.password, "se:cret");

  p = parse("admin@10.1.2.3");  // no colon before the '@': no credentials
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.host, "10.1.2.3");
  EXPECT_EQ(p.port, 80);
  EXPECT_EQ(p.user, "");
  EXPECT_EQ(p.password, "");

  p = parse(":pw@localhost");
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.host, "127.0.0.1");
  EXPECT_EQ(p.password, "pw");
}

TEST(HttpAddress, PortIsReadLikeAtoi) {
  EXPECT_EQ(parse("10.0.0.1:0x50").port, 0);
  EXPECT_EQ(parse("10.0.0.1: 81x").port, 81);
  EXPECT_EQ(parse("10.0.0.1:").port, 0);
}

TEST(HttpAddress, HostTextIsCopiedUnlessItIsAName) {
  std::string host;
  int port = 0;
  EXPECT_EQ(parseServerAddress("10.0.0.300:81", host, port, nullptr, nullptr), 0);
  EXPECT_EQ(host, "10.0.0.300");  // not checked here; the request fails later
  EXPECT_EQ(parseServerAddress("255.255.255.255", host, port, nullptr, nullptr), 0);
  EXPECT_EQ(parseServerAddress("1255.255.255.255", host, port, nullptr, nullptr), -1);
  EXPECT_EQ(parseServerAddress("u:p@1255.255.255.255:80", host, port, nullptr, nullptr), -1);
}

TEST(HttpAddress, CleaningRemovesTheSchemeAndThePath) {
  EXPECT_EQ(cleanServerAddress("http://admin:pw@10.0.0.5:81/view/index.html"),
            "admin:pw@10.0.0.5:81");
  EXPECT_EQ(cleanServerAddress("10.0.0.5"), "10.0.0.5");
  EXPECT_EQ(cleanServerAddress("HTTP://10.0.0.5"), "HTTP:");
}

TEST(HttpAddress, DottedTextMustFitItsCapacity) {
  std::string text;
  EXPECT_EQ(formatDotted(htonl(0x7F000001), text, 32), 9);
  EXPECT_EQ(text, "127.0.0.1");
  EXPECT_EQ(formatDotted(htonl(0xFFFFFFFE), text, 16), 15);
  EXPECT_EQ(text, "255.255.255.254");
  EXPECT_EQ(formatDotted(htonl(0x7F000001), text, 9), -1);
  EXPECT_EQ(text, "");
}

TEST(HttpTextSearch, FindsTheFirstMatchWithinTheCount) {
  const std::string buffer("a=1\0Key=7\r\nKey=8", 16);
  EXPECT_EQ(findText(buffer, "Key="), 4u);
  EXPECT_EQ(findBytes(buffer, std::string_view("1\0K", 3)), 2u);
  EXPECT_EQ(findText(std::string_view(buffer).substr(0, 7), "Key="), std::nullopt);
  EXPECT_EQ(findText(std::string_view(buffer).substr(0, 8), "Key="), 4u);
  EXPECT_EQ(findText(buffer, "key="), std::nullopt);
  EXPECT_EQ(findText("Ke", "Key"), std::nullopt);
  EXPECT_EQ(findText(buffer, nullptr), std::nullopt);
  EXPECT_EQ(findText(buffer, ""), 0u);
  EXPECT_EQ(findText("", ""), std::nullopt);
}

TEST(HttpTextSearch, ParsesDecimalAndHexadecimalNumbers) {
  EXPECT_EQ(parseNumber(std::nullopt), -1);
  EXPECT_EQ(parseNumber("0x1F\r\n"), 31);
  EXPECT_EQ(parseNumber("0XaBz"), 0xAB);
  EXPECT_EQ(parseNumber("0x"), 0);
  EXPECT_EQ(parseNumber("0xFFFFFFFF"), -1);
  EXPECT_EQ(parseNumber("0x123456789"), 0x23456789);
  EXPECT_EQ(parseNumber(" \t-42abc"), -42);
  EXPECT_EQ(parseNumber("+7"), 7);
  EXPECT_EQ(parseNumber("\"4\""), 0);
  EXPECT_EQ(parseNumber("99999999999"), INT_MAX);
  EXPECT_EQ(parseNumber("-99999999999"), INT_MIN);
  EXPECT_EQ(parseNumber(std::string_view("123", 2)), 12);  // never past the view
}

TEST(HttpTextSearch, HexFieldsTakeAtMostTheirWidth) {
  EXPECT_EQ(parseHexField("0x1a2B\r\n", 4), 0x1A2Bu);
  EXPECT_EQ(parseHexField("0x12345", 4), 0x1234u);
  EXPECT_EQ(parseHexField("0x0000100f", 8), 0x100Fu);
  EXPECT_EQ(parseHexField("0xFz", 8), 0xFu);
  EXPECT_EQ(parseHexField("0X12", 4), std::nullopt);  // "%x" fields are written with a lower x
  EXPECT_EQ(parseHexField("0x", 4), std::nullopt);
  EXPECT_EQ(parseHexField("0xg1", 4), std::nullopt);
  EXPECT_EQ(parseHexField(std::string_view("0x123", 3), 8), 0x1u);  // never past the view
}

constexpr const char* kSettings =
    R"([HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings]
ProxyEnable=dword:%s
ProxyServer=%s
)";

platform::SettingsStore proxySettings(const std::string& enable, const std::string& server) {
  char text[1024];
  std::snprintf(text, sizeof text, kSettings, enable.c_str(), server.c_str());
  return platform::SettingsStore::fromText(text);
}

TEST(HttpFallbackHost, HttpProxyEntryComesFirst) {
  std::string host;
  const auto settings = proxySettings("00000001", "http=10.9.8.7:3128;https=10.9.8.7:3129");
  EXPECT_EQ(findServerHost(settings, "http://10.0.0.5/", host), 1);
  EXPECT_EQ(host, "10.9.8.7:3128");
  EXPECT_EQ(findServerHost(proxySettings("00000001", "ftp=a:1;http=b:2"), std::nullopt, host), 1);
  EXPECT_EQ(host, "b:2");
}

TEST(HttpFallbackHost, PageAddressWhenNoHttpProxyEntry) {
  std::string host = "unchanged";
  // One proxy for all protocols, a disabled proxy, an unreadable switch: the page decides.
  for (const auto& settings :
       {proxySettings("00000001", "10.9.8.7:3128"), proxySettings("00000000", "http=10.9.8.7:1"),
        platform::SettingsStore::fromText("[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\"
                                          "CurrentVersion\\Internet Settings]\n"
                                          "ProxyEnable=1\nProxyServer=http=10.9.8.7:1\n")}) {
    EXPECT_EQ(findServerHost(settings, "http://admin:pw@10.0.0.5:8080/view.html", host), 1);
    EXPECT_EQ(host, "admin:pw@10.0.0.5:8080");
    host = "unchanged";
    EXPECT_EQ(findServerHost(settings, std::nullopt, host), 0);
    EXPECT_EQ(findServerHost(settings, "https://10.0.0.5/", host), 0);
    EXPECT_EQ(findServerHost(settings, "file:///tmp/page.html", host), 0);
    EXPECT_EQ(host, "unchanged");
  }
}

TEST(HttpFallbackHost, ProxyTextMustFitAndPageAddressIsCut) {
  std::string proxy;
  EXPECT_EQ(readProxyHttp(proxySettings("00000001", "http=" + std::string(122, 'a')), proxy), 1);
  EXPECT_EQ(proxy.size(), 127u);
  EXPECT_EQ(readProxyHttp(proxySettings("00000001", "http=" + std::string(123, 'a')), proxy), 0);

  std::string host;
  const platform::SettingsStore none;
  EXPECT_EQ(findServerHost(none, "http://" + std::string(200, 'h'), host), 1);
  EXPECT_EQ(host, std::string(121, 'h'));  // 128 units of the page address
  // Each UTF-16 unit keeps its low byte: U+00E9 is 0xE9, U+4E2D is 0x2D.
  EXPECT_EQ(findServerHost(none, "http://h\xc3\xa9\xe4\xb8\xad/x", host), 1);
  EXPECT_EQ(host, "h\xe9-");
}

}  // namespace
}  // namespace kv4r::stream
