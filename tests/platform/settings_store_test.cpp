#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include "tests/support/test_env.h"

namespace kv4r::platform {
namespace {

const char* kInternet =
    R"(HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings)";

TEST(SettingsStore, ReadsTextAndDwordValuesOfTheirSection) {
  auto store = SettingsStore::fromText(
      "# comment\n"
      "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings]\n"
      "ProxyEnable=dword:00000001\r\n"
      "ProxyServer=http=127.0.0.1:3128;https=127.0.0.1:3128\n"
      "; another comment\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n"
      "Config Path=/home/ann/kv4r\n");
  EXPECT_EQ(store.readDword(kInternet, "ProxyEnable"), 1u);
  EXPECT_EQ(store.readString(kInternet, "proxyserver"), "http=127.0.0.1:3128;https=127.0.0.1:3128");
  EXPECT_EQ(store.readString("HKEY_LOCAL_MACHINE\\SOFTWARE\\Other", "Config Path"), "/home/ann/kv4r");
  // A value of the other type, or of another section, cannot be read.
  EXPECT_FALSE(store.readString(kInternet, "ProxyEnable"));
  EXPECT_FALSE(store.readDword(kInternet, "ProxyServer"));
  EXPECT_FALSE(store.readString(kInternet, "Config Path"));
}

TEST(SettingsStore, MalformedDwordAndMissingFileReadAsAbsent) {
  auto store = SettingsStore::fromText("[K]\nA=dword:xyz\nB=dword:123456789\nC=dword:\n");
  EXPECT_FALSE(store.readDword("K", "A"));
  EXPECT_FALSE(store.readDword("K", "B"));
  EXPECT_FALSE(store.readDword("K", "C"));
  kv4r::testing::TempDir dir;
  auto missing = SettingsStore::locate(dir / "missing.ini");
  EXPECT_FALSE(missing.readDword(kInternet, "ProxyEnable"));
}

}  // namespace
}  // namespace kv4r::platform
