#include "registry.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

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
            "\"Path\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00\n"
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
  EXPECT_NE(FileText().find("\"Lines\"=hex(1):6f,00,6e,00,65,00,0d,00,0a,00,74,00,77,00,6f,00,00,00\n"), std::string::npos);
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
  RegCloseKey(Create("Dorwen\\Velotrunk"));
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

TEST_F(Registry, DamagedFileYieldsWhatCanBeReadAndKeepsItsOtherLinesAtTheNextWrite) {
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
  // The new value follows the key's last value; no other line changes (the
  // file becomes an export: UTF-16, with the export's first line).
  EXPECT_EQ(FileText(), std::string("Windows Registry Editor Version 5.00\n\n"
                                    "garbage\0\xC3\xBF\x01 line\n",
                                    55) +
                            "\"Orphan\"=\"before any key\"\n"
                            "[HKEY_CURRENT_USER\\Dorwen\\Velotrunk]\n"
                            "\"Good\"=\"kept\"\n"
                            "\"Cut\"=\"no closing quote\n"
                            "\"BadHex\"=hex(2):4g,00\n"
                            "\"BadDword\"=dword:123456789\n"
                            "\"Wrapped\"=hex:01,02,\\\n"
                            "  03\n"
                            "[HKEY_CURRENT_USER\\\\broken]\n"
                            "\"Lost\"=\"under a bad key\"\n"
                            "[HKEY_CURRENT_USER\\Dorwen\\Velotrunk]\n"
                            "\"Later\"=dword:00000010\n"
                            "\"New\"=\"v\"\n"
                            "[HKEY_CURRENT_USER\\Dorwen\\Velotrun\n");
}

TEST_F(Registry, FailedWritesChangeNothingAndLeaveNoTemporaryFiles) {
  HKEY key = Create("Dorwen\\Velotrunk");
  SetString(key, "Name", "old");
  EXPECT_EQ(RegFlushKey(key), ERROR_SUCCESS);
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

  // The store's folder cannot be made: a plain file stands in its way. The
  // write fails when it reaches the file, and what it held is dropped.
  fs::remove_all(File().parent_path());
  std::ofstream(File().parent_path()) << "not a folder";
  EXPECT_EQ(SetString(key, "Name", "new"), ERROR_SUCCESS);
  EXPECT_EQ(RegFlushKey(key), ERROR_WRITE_FAULT);
  fs::remove(File().parent_path());
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  EXPECT_NE(before.find("\"Name\"=\"old\""), std::string::npos);
  std::size_t entries = 0;
  for ([[maybe_unused]] auto& entry : fs::directory_iterator(config_.Folder())) ++entries;
  EXPECT_EQ(entries, 0u);
}

// The values in one session of the store: the key opened, set, closed.
LONG SaveValues(const char* path, const std::vector<std::pair<std::string, std::string>>& values) {
  HKEY key = nullptr;
  if (LONG error = RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr))
    return error;
  for (const auto& [name, text] : values)
    RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), text.size() + 1);
  return RegCloseKey(key);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST_F(Registry, AHandMadeExportIsReadAndEveryLineASaveDoesNotChangeKeepsItsBytes) {
  const std::string hand =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "; kept by hand\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n"
      "\"Path\"=\"C:\\\\Program Files\"\r\n\r\n"
      "[HKEY_CURRENT_USER\\Dorwen\\Velotrunk] ; the window's settings\r\n"
      "\"ip_Text\"=\"3128\"\r\n"
      "\"Broken\"=no quotes \\\r\n"
      "\"oip_Text\"=\"127.0.0.1\"\r\n"
      "\"Комментарий\"=\"по-русски\"\r\n"
      "\"Wrapped\"=hex(2):25,00,48,00,4f,00,\\\r\n"
      "  4d,00,45,00,25,00,00,00\r\n"
      "\r\n"
      "[HKEY_CURRENT_USER\\Other]\n"
      "\"Size\"=dword:00000010\n";
  WriteFile(ConfigHome::ExportBytes(hand));
  fs::permissions(File(), fs::perms(0640));

  EXPECT_EQ(Query("Dorwen\\Velotrunk", "ip_Text"), std::pair(REG_SZ, std::string("3128\0", 5)));
  EXPECT_EQ(Query("Dorwen\\Velotrunk", "oip_Text"), std::pair(REG_SZ, std::string("127.0.0.1\0", 10)));
  EXPECT_EQ(Query("Dorwen\\Velotrunk", "Комментарий").second, std::string("по-русски\0", 18));
  EXPECT_EQ(Query("Dorwen\\Velotrunk", "Wrapped"), std::pair(REG_EXPAND_SZ, std::string("%HOME%\0", 7)));
  EXPECT_EQ(Query("Other", "Size").first, REG_DWORD);
  EXPECT_EQ(config_.StoreBytes(), ConfigHome::ExportBytes(hand));  // reading wrote nothing

  EXPECT_EQ(SaveValues("Dorwen\\Velotrunk", {{"ip_Text", "8080"}, {"op_Text", "3129"}}), ERROR_SUCCESS);
  std::string saved = Replace(hand, "\"ip_Text\"=\"3128\"", "\"ip_Text\"=\"8080\"");
  saved = Replace(saved, "4d,00,45,00,25,00,00,00\r\n", "4d,00,45,00,25,00,00,00\r\n\"op_Text\"=\"3129\"\r\n");
  EXPECT_EQ(config_.StoreBytes(), ConfigHome::ExportBytes(saved));
  EXPECT_EQ(fs::status(File()).permissions(), fs::perms(0640));
}

TEST_F(Registry, ASymlinkedStoreIsWrittenThroughAndKeepsItsMode) {
  fs::path target = config_.Folder() / "kept-elsewhere.reg";
  std::ofstream(target) << "";
  fs::permissions(target, fs::perms(0604));
  fs::create_directories(File().parent_path());
  fs::create_symlink("../kept-elsewhere.reg", File());
  EXPECT_EQ(SaveValues("Dorwen\\Velotrunk", {{"ip_Text", "8080"}}), ERROR_SUCCESS);
  EXPECT_TRUE(fs::is_symlink(File()));
  EXPECT_EQ(fs::status(target).permissions(), fs::perms(0604));
  EXPECT_NE(FileText().find("\"ip_Text\"=\"8080\""), std::string::npos);
}

TEST_F(Registry, AFileThatIsNoRegularFileOrTooLargeIsNeitherReadNorWritten) {
  fs::create_directories(File().parent_path());
  struct Case {
    const char* what;
    std::function<void()> make;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"a FIFO", [&] { ASSERT_EQ(::mkfifo(File().c_str(), 0600), 0); }},
           {"a link to a device", [&] { fs::create_symlink("/dev/zero", File()); }},
           {"over 16 MiB", [&] {
              std::ofstream(File()) << "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Dorwen]\n\"a\"=\"b\"\n";
              fs::resize_file(File(), (16 << 20) + 1);
            }}}) {
    SCOPED_TRACE(c.what);
    fs::remove(File());
    c.make();
    auto before = fs::symlink_status(File()).type();
    EXPECT_EQ(Query("Dorwen", "a").first, 1000u + ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SaveValues("Dorwen\\Velotrunk", {{"ip_Text", "8080"}}), ERROR_WRITE_FAULT);
    EXPECT_EQ(fs::symlink_status(File()).type(), before);
  }
  EXPECT_EQ(fs::file_size(File()), (16u << 20) + 1);
}

TEST_F(Registry, ADeepKeyPathIsNeitherExpandedNorLost) {
  std::string path = "HKEY_CURRENT_USER";
  for (int level = 0; level < 2000; ++level) path += "\\k";
  WriteFile(ConfigHome::ExportBytes("Windows Registry Editor Version 5.00\r\n\r\n[" + path + "]\r\n\"v\"=\"deep\"\r\n"));
  std::uintmax_t before = fs::file_size(File());
  EXPECT_EQ(Query(path.substr(18).c_str(), "v").second, std::string("deep\0", 5));
  EXPECT_EQ(SaveValues("Dorwen", {{"ip_Text", "8080"}}), ERROR_SUCCESS);
  EXPECT_LT(fs::file_size(File()), before + 200);
  EXPECT_EQ(Query(path.substr(18).c_str(), "v").second, std::string("deep\0", 5));
}

TEST_F(Registry, ATenMegabyteFileIsReadWholeAndOnlyTheChangedLineIsRewritten) {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  const std::string filler(600, 'x');
  for (int i = 0; i < 8500; ++i)
    text += "[HKEY_CURRENT_USER\\Bulk\\Key" + std::to_string(i) + "]\r\n\"Value\"=\"" + filler + "\"\r\n\r\n";
  text += "[HKEY_CURRENT_USER\\Dorwen\\Velotrunk]\r\n\"ip_Text\"=\"3128\"\r\n";
  WriteFile(ConfigHome::ExportBytes(text));
  ASSERT_GT(fs::file_size(File()), 10u << 20);
  EXPECT_EQ(Query("Bulk\\Key8499", "Value").second, filler + '\0');
  EXPECT_EQ(SaveValues("Dorwen\\Velotrunk", {{"ip_Text", "8080"}}), ERROR_SUCCESS);
  EXPECT_EQ(config_.StoreBytes(), ConfigHome::ExportBytes(Replace(text, "\"3128\"", "\"8080\"")));
}

// Runs `work` in a child process; the child's exit status.
pid_t Fork(const std::function<bool()>& work) {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(work() ? 0 : 1);
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

TEST_F(Registry, TwoProcessesSavingAtOnceLoseNothingOfEachOthers) {
  constexpr int kSaves = 30;
  std::vector<pid_t> children;
  for (int child = 0; child < 2; ++child)
    children.push_back(Fork([child] {
      for (int save = 0; save < kSaves; ++save) {
        std::string name = "P" + std::to_string(child) + "_" + std::to_string(save);
        if (SaveValues("Dorwen\\Velotrunk", {{name, "saved"}, {"Last", name}}) != ERROR_SUCCESS) return false;
      }
      return true;
    }));
  for (pid_t child : children) EXPECT_EQ(Wait(child), 0);
  for (int child = 0; child < 2; ++child)
    for (int save = 0; save < kSaves; ++save) {
      std::string name = "P" + std::to_string(child) + "_" + std::to_string(save);
      EXPECT_EQ(Query("Dorwen\\Velotrunk", name.c_str()).second, std::string("saved\0", 6)) << name;
    }
}

TEST_F(Registry, AProcessKilledWhileSavingLeavesTheOldFileOrTheNewWholeAndItsTemporaryFileGoesLater) {
  // Each save writes two values of the same letter: a file whose two values
  // differ, or whose long value is cut, would be a save half done.
  const std::string a(300000, 'A'), b(300000, 'B');
  ASSERT_EQ(SaveValues("Dorwen\\Velotrunk", {{"Big", a}, {"Letter", "A"}}), ERROR_SUCCESS);
  std::mt19937 random(7);
  for (int round = 0; round < 20; ++round) {
    pid_t child = Fork([&]() -> bool {
      for (int save = 0;; ++save)
        SaveValues("Dorwen\\Velotrunk", {{"Big", save % 2 ? a : b}, {"Letter", save % 2 ? "A" : "B"}});
    });
    ::usleep(1000 + random() % 30000);
    ::kill(child, SIGKILL);
    Wait(child);
    std::string big = Query("Dorwen\\Velotrunk", "Big").second, letter = Query("Dorwen\\Velotrunk", "Letter").second;
    ASSERT_EQ(letter.size(), 2u) << "round " << round;
    EXPECT_EQ(big, std::string(300000, letter[0]) + '\0') << "round " << round << ": " << big.size() << " bytes";
  }
  ASSERT_EQ(SaveValues("Dorwen\\Velotrunk", {{"Big", a}}), ERROR_SUCCESS);
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(File().parent_path())) files.push_back(entry.path().filename());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"user.reg", "user.reg.lock"}));
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
