#include "registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "config_home.h"

namespace fs = std::filesystem;
using namespace win;

namespace {

// Each test gets a config folder of its own.
class Registry : public ::testing::Test {
 protected:
  void TearDown() override { SetRegistryWriteFault(nullptr); }

  fs::path File() const { return config_.StoreFile(); }
  std::string FileText() const { return config_.StoreText(); }
  void WriteFile(const std::string& text) const { config_.WriteStore(text); }

  HKEY Create(const char* path, REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, access, nullptr, &key, nullptr), ERROR_SUCCESS);
    return key;
  }
  static LONG SetString(HKEY key, const char* name, const std::string& text, DWORD type = REG_SZ) {
    return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()), text.size() + 1);
  }
  // The value's type and bytes, or ERROR_... as type when it cannot be read.
  static std::pair<DWORD, std::string> Query(const char* path, const char* name) {
    HKEY key = nullptr;
    if (LONG error = RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key)) return {1000 + error, ""};
    DWORD type = 0, size = 0;
    LONG error = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    std::string data(size, '\0');
    if (!error) error = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    return error ? std::pair<DWORD, std::string>{1000 + error, ""} : std::pair{type, data};
  }

  ConfigHome config_;
};

TEST_F(Registry, CreatesKeysWithParentsAndWritesTheExportFormat) {
  HKEY key = Create("Dorwen\\Velotrunk");
  ASSERT_TRUE(key);
  EXPECT_EQ(SetString(key, "FormVersion", "0"), ERROR_SUCCESS);
  EXPECT_EQ(SetString(key, "Path", "%HOME%", REG_EXPAND_SZ), ERROR_SUCCESS);
  DWORD number = 0x12345678;
  EXPECT_EQ(RegSetValueExA(key, "Count", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "Blob", 0, REG_BINARY, reinterpret_cast<const BYTE*>("\x01\xff"), 2), ERROR_SUCCESS);
  EXPECT_EQ(SetString(key, "", "default \"quoted\" C:\\dir"), ERROR_SUCCESS);
  EXPECT_EQ(SetString(key, "formversion", "1"), ERROR_SUCCESS);  // names ignore case
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  EXPECT_EQ(FileText(),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Dorwen]\n\n"
            "[HKEY_CURRENT_USER\\Dorwen\\Velotrunk]\n"
            "\"formversion\"=\"1\"\n"
            "\"Path\"=hex(2):25,48,4f,4d,45,25,00\n"
            "\"Count\"=dword:12345678\n"
            "\"Blob\"=hex:01,ff\n"
            "@=\"default \\\"quoted\\\" C:\\\\dir\"\n\n");
}

TEST_F(Registry, ValuesReadBackWithTheirTypesAndBytes) {
  HKEY key = Create("Dorwen\\Velotrunk");
  SetString(key, "Plain", "Вход: 3128");
  SetString(key, "Lines", "one\r\ntwo");  // not representable as quoted text
  SetString(key, "Empty", "");
  RegSetValueExA(key, "Multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>("a\0b\0\0"), 5);
  RegSetValueExA(key, "NoZero", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3);
  RegCloseKey(key);

  EXPECT_EQ(Query("DORWEN\\velotrunk", "plain"), std::pair(REG_SZ, std::string("Вход: 3128\0", 15)));
  EXPECT_EQ(Query("Dorwen\\Velotrunk", "Lines"), std::pair(REG_SZ, std::string("one\r\ntwo\0", 9)));
  EXPECT_EQ(Query("Dorwen\\Velotrunk", "Empty"), std::pair(REG_SZ, std::string("\0", 1)));
  EXPECT_EQ(Query("Dorwen\\Velotrunk", "Multi"), std::pair(REG_MULTI_SZ, std::string("a\0b\0\0", 5)));
  EXPECT_EQ(Query("Dorwen\\Velotrunk", "NoZero"), std::pair(REG_SZ, std::string("abc")));
  EXPECT_EQ(Query("Dorwen\\Velotrunk", "Missing").first, 1000u + ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Query("Dorwen\\Other", "Plain").first, 1000u + ERROR_FILE_NOT_FOUND);
  EXPECT_NE(FileText().find("\"Lines\"=hex(1):6f,6e,65,0d,0a,74,77,6f,00\n"), std::string::npos);
}

TEST_F(Registry, QueryReportsSizesAndShortBuffers) {
  HKEY key = Create("Dorwen");
  SetString(key, "Name", "abcdef");
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 7u);
  BYTE small[3];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 7u);
  RegCloseKey(key);
}

TEST_F(Registry, HandlesKeepTheirAccessAndDieWhenClosed) {
  Create("Dorwen\\Velotrunk");
  HKEY readOnly = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Dorwen\\Velotrunk", 0, KEY_READ, &readOnly), ERROR_SUCCESS);
  EXPECT_EQ(SetString(readOnly, "Name", "x"), ERROR_ACCESS_DENIED);
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExA(readOnly, "Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCloseKey(readOnly), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(readOnly), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetString(readOnly, "Name", "x"), ERROR_INVALID_HANDLE);

  HKEY bad = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Dorwen\\\\Velotrunk", 0, KEY_READ, &bad), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Nowhere", 0, KEY_READ, &bad), ERROR_FILE_NOT_FOUND);
  DWORD disposition = 0;
  HKEY again = nullptr;
  RegCreateKeyExA(HKEY_CURRENT_USER, "dorwen", 0, nullptr, 0, KEY_READ, nullptr, &again, &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  RegCloseKey(again);
}

TEST_F(Registry, DamagedFileYieldsWhatCanBeReadAndIsRepairedByTheNextWrite) {
  WriteFile(std::string("garbage\0\xff\x01 line\r\n", 17) +
            "\"Orphan\"=\"before any key\"\r\n"
            "[HKEY_CURRENT_USER\\Dorwen\\Velotrunk]\r\n"
            "\"Good\"=\"kept\"\r\n"
            "\"Cut\"=\"no closing quote\r\n"
            "\"BadHex\"=hex(2):4g,00\r\n"
            "\"BadDword\"=dword:123456789\r\n"
            "\"Wrapped\"=hex:01,02,\\\r\n"
            "  03\r\n"
            "[HKEY_CURRENT_USER\\\\broken]\r\n"
            "\"Lost\"=\"under a bad key\"\r\n"
            "[HKEY_CURRENT_USER\\Dorwen\\Velotrunk]\r\n"
            "\"Later\"=dword:00000010\r\n"
            "[HKEY_CURRENT_USER\\Dorwen\\Velotrun");  // cut off mid-write
  EXPECT_EQ(Query("Dorwen\\Velotrunk", "Good"), std::pair(REG_SZ, std::string("kept\0", 5)));
  EXPECT_EQ(Query("Dorwen\\Velotrunk", "Wrapped"), std::pair(REG_BINARY, std::string("\x01\x02\x03")));
  EXPECT_EQ(Query("Dorwen\\Velotrunk", "Later"), std::pair(REG_DWORD, std::string("\x10\0\0\0", 4)));
  for (const char* lost : {"Orphan", "Cut", "BadHex", "BadDword", "Lost"})
    EXPECT_EQ(Query("Dorwen\\Velotrunk", lost).first, 1000u + ERROR_FILE_NOT_FOUND) << lost;

  HKEY key = Create("Dorwen\\Velotrunk");
  EXPECT_EQ(SetString(key, "New", "v"), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(FileText(),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Dorwen]\n\n"
            "[HKEY_CURRENT_USER\\Dorwen\\Velotrunk]\n"
            "\"Good\"=\"kept\"\n"
            "\"Wrapped\"=hex:01,02,03\n"
            "\"Later\"=dword:00000010\n"
            "\"New\"=\"v\"\n\n");
}

TEST_F(Registry, FailedWritesChangeNothingAndLeaveNoTemporaryFiles) {
  HKEY key = Create("Dorwen\\Velotrunk");
  SetString(key, "Name", "old");
  std::string before = FileText();

  SetRegistryWriteFault([](std::string_view path, std::string_view name) {
    return name == "Name" || path.ends_with("\\Child");
  });
  EXPECT_EQ(SetString(key, "Name", "new"), ERROR_WRITE_FAULT);
  EXPECT_EQ(SetString(key, "Other", "fine"), ERROR_SUCCESS);
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExA(key, "Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr), ERROR_WRITE_FAULT);
  SetRegistryWriteFault(nullptr);
  EXPECT_EQ(Query("Dorwen\\Velotrunk", "Name").second, std::string("old\0", 4));
  EXPECT_EQ(Query("Dorwen\\Velotrunk\\Child", "x").first, 1000u + ERROR_FILE_NOT_FOUND);

  // The store's folder cannot be made: a plain file stands in its way.
  fs::remove_all(File().parent_path());
  std::ofstream(File().parent_path()) << "not a folder";
  EXPECT_EQ(SetString(key, "Name", "new"), ERROR_WRITE_FAULT);
  fs::remove(File().parent_path());
  RegCloseKey(key);

  EXPECT_NE(before.find("\"Name\"=\"old\""), std::string::npos);
  std::size_t entries = 0;
  for ([[maybe_unused]] auto& entry : fs::directory_iterator(config_.Folder())) ++entries;
  EXPECT_EQ(entries, 0u);
}

TEST_F(Registry, FileLocationFollowsXdgConfigHome) {
  EXPECT_EQ(RegistryFilePath(), File().string());
  ::setenv("XDG_CONFIG_HOME", "relative/path", 1);  // not absolute: ignored
  ::setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(RegistryFilePath(), "/home/someone/.config/velotrunk/user.reg");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(RegistryFilePath(), "/home/someone/.config/velotrunk/user.reg");
}

}  // namespace
