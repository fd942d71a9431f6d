#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "device_table.h"
#include "settings.h"

namespace fs = std::filesystem;
using corvex::Settings;

TEST(Settings, BuiltInDefaults) {
  const Settings s;
  EXPECT_EQ(s.search_flag, 1);
  EXPECT_EQ(s.port_number, 49152);
  EXPECT_EQ(s.max_data_size, 1024);
}

TEST(Settings, FileWithoutTheKeysKeepsTheDefaults) {
  const Settings s = corvex::apply_settings("[COMMON]\nOther=5\n[Elsewhere]\nPortNumber=7\n", Settings{});
  EXPECT_EQ(s.search_flag, 1);
  EXPECT_EQ(s.port_number, 49152);
  EXPECT_EQ(s.max_data_size, 1024);
}

TEST(Settings, KeysAreReadFromTheirSectionsWithoutCase) {
  const Settings s = corvex::apply_settings(
      "; comment\r\n[common]\r\n serchncvx = 0 \r\n[NetCorvex]\r\nPortNumber=50000\r\nMaxDataSize = 512\r\n",
      Settings{});
  EXPECT_EQ(s.search_flag, 0);
  EXPECT_EQ(s.port_number, 50000);
  EXPECT_EQ(s.max_data_size, 512);
}

TEST(Settings, ValuesTakeTheirLeadingNumberAndIgnoreText) {
  EXPECT_EQ(corvex::ini_integer("[A]\nk=123abc\n", "A", "k"), 123);
  EXPECT_EQ(corvex::ini_integer("[A]\nk=-4\n", "A", "k"), -4);
  EXPECT_EQ(corvex::ini_integer("[A]\nk=abc\n", "A", "k"), std::nullopt);
  EXPECT_EQ(corvex::ini_integer("[A]\nk=\n", "A", "k"), std::nullopt);
  EXPECT_EQ(corvex::ini_integer("[B]\nk=1\n", "A", "k"), std::nullopt);
  EXPECT_EQ(corvex::ini_integer("[A]\nk=0x400\n", "A", "k"), 0x400);
  EXPECT_EQ(corvex::ini_integer("[A]\nk=0XC000 ; port\n", "A", "k"), 0xC000);
  EXPECT_EQ(corvex::ini_integer("[A]\nk=0xg\n", "A", "k"), 0);  // "0" and then text
  const Settings s = corvex::apply_settings("[NetCorvex]\nPortNumber=none\n", Settings{});
  EXPECT_EQ(s.port_number, 49152);
}

class SettingsSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("corvex-settings-" + std::to_string(::getpid()));
    for (const char* d : {"exe", "cwd", "config"}) fs::create_directories(root / d);
  }
  void TearDown() override { fs::remove_all(root); }
  void write(const char* folder, const char* text) { std::ofstream(root / folder / "Corvex.ini") << text; }
  std::vector<fs::path> folders() const { return {root / "exe", root / "cwd", root / "config"}; }
  fs::path root;
};

TEST_F(SettingsSearch, FirstFolderHoldingTheFileWins) {
  EXPECT_EQ(corvex::find_settings_file(folders()), std::nullopt);
  write("config", "");
  EXPECT_EQ(corvex::find_settings_file(folders()), root / "config" / "Corvex.ini");
  write("cwd", "");
  EXPECT_EQ(corvex::find_settings_file(folders()), root / "cwd" / "Corvex.ini");
  write("exe", "");
  EXPECT_EQ(corvex::find_settings_file(folders()), root / "exe" / "Corvex.ini");
}

TEST_F(SettingsSearch, FoldersAreExecutableWorkingThenConfig) {
  ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
  const auto f = corvex::settings_search_folders();
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0], fs::canonical("/proc/self/exe").parent_path());
  EXPECT_EQ(f[1], fs::current_path());
  EXPECT_EQ(f[2], root / "config");
}

TEST(DeviceTable, OnlyExactRowAddressesAreHandles) {
  static corvex::DeviceTable table;  // large: keep it off the stack
  const CVX_HANDLE first = table.take(0x1234, CVX_IF_USB);
  ASSERT_NE(first, 0u);
  EXPECT_EQ(table.row(first)->chan(), 0x1234u);
  EXPECT_EQ(table.row(first)->read_timeout.load(), 5000u);
  EXPECT_EQ(table.row(first)->write_timeout.load(), 5000u);
  EXPECT_EQ(table.row(0), nullptr);
  EXPECT_EQ(table.row(first + 1), nullptr);
  EXPECT_EQ(table.row(first - sizeof(corvex::DeviceEntry)), nullptr);
  const CVX_HANDLE end = first + 256 * sizeof(corvex::DeviceEntry);
  EXPECT_EQ(table.row(end), nullptr);
  EXPECT_NE(table.row(end - sizeof(corvex::DeviceEntry)), nullptr);
}

TEST(DeviceTable, RowsAreTakenFirstFreeFirstUntilFull) {
  static corvex::DeviceTable table;
  std::vector<CVX_HANDLE> handles;
  for (int i = 0; i < 256; ++i) handles.push_back(table.take(static_cast<std::uintptr_t>(i + 1), CVX_IF_USB));
  EXPECT_EQ(table.take(999, CVX_IF_USB), 0u);
  table.row(handles[7])->channel.store(0);
  EXPECT_EQ(table.take(1000, CVX_IF_LAN), handles[7]);
  EXPECT_EQ(table.row(handles[7])->if_type.load(), CVX_IF_LAN);
  for (std::size_t i = 1; i < handles.size(); ++i) EXPECT_EQ(handles[i] - handles[i - 1], sizeof(corvex::DeviceEntry));
}
