// The loopback helpers' Windows parts: the relay as a child process in a
// process group of its own, stopped with Ctrl+C (Wine sends it to that group
// alone), and what the system tells of it and of the ports listened on.
#include <winsock2.h>
#include <iphlpapi.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"

namespace loopback {
namespace {

bool IsListening(int port) {
  ULONG size = 0;
  ::GetTcpTable(nullptr, &size, FALSE);
  std::vector<unsigned char> buffer(size + 4096);
  size = static_cast<ULONG>(buffer.size());
  auto* table = reinterpret_cast<MIB_TCPTABLE*>(buffer.data());
  if (::GetTcpTable(table, &size, FALSE) != NO_ERROR) return false;
  for (DWORD i = 0; i < table->dwNumEntries; ++i)
    if (table->table[i].dwState == MIB_TCP_STATE_LISTEN && ntohs(static_cast<u_short>(table->table[i].dwLocalPort)) == port)
      return true;
  return false;
}

// VELOTRUNK_RELAY_PATH is relative to this test program's folder.
std::string RelayPath() {
  char self[MAX_PATH];
  DWORD length = ::GetModuleFileNameA(nullptr, self, sizeof self);
  std::string folder(self, length);
  folder.erase(folder.find_last_of("\\/") + 1);
  return folder + VELOTRUNK_RELAY_PATH;
}

// The relays started here end with this program, even when it ends without
// stopping them (a failed assertion that aborts it).
HANDLE RelayJob() {
  static HANDLE job = [] {
    HANDLE j = ::CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ::SetInformationJobObject(j, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return j;
  }();
  return job;
}

// Ctrl+C reaches the processes of a console. A program that Wine starts
// without a terminal has no usable one, so this one takes a console of its
// own when it has no window of one, for its children to share; it ignores
// Ctrl+C itself (the relays it starts ask for it back).
void ShareAConsole() {
  static const bool shared = [] {
    if (!::GetConsoleWindow()) {
      ::FreeConsole();
      ::AllocConsole();
    }
    return ::SetConsoleCtrlHandler(nullptr, TRUE);
  }();
  (void)shared;
}

// Waits for the process (kGuardSeconds at most, then ends it) and lets go of its
// handle; its exit status, or -1.
int Reap(HANDLE process) {
  DWORD status = static_cast<DWORD>(-1);
  if (::WaitForSingleObject(process, kGuardSeconds * 1000) == WAIT_OBJECT_0) {
    ::GetExitCodeProcess(process, &status);
  } else {
    ::TerminateProcess(process, static_cast<UINT>(-1));
    ::WaitForSingleObject(process, kGuardSeconds * 1000);
  }
  ::CloseHandle(process);
  return static_cast<int>(status);
}

// Starts the relay with `arguments`; stderr goes to `errors` when given.
bool StartRelay(const std::vector<std::string>& arguments, HANDLE errors, PROCESS_INFORMATION& info) {
  ShareAConsole();
  std::string command = "\"" + RelayPath() + "\"";
  for (const std::string& a : arguments) command += " \"" + a + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  // Its standard output goes to NUL: this process's own may not be one a
  // child can write to (it shares a console made for Ctrl+C), and the relay
  // fails when its answer cannot be written.
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE output = INVALID_HANDLE_VALUE;
  if (errors) {
    output = ::CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0,
                           nullptr);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = errors;
  }
  bool created = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, errors != nullptr,
                                  CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED, nullptr, nullptr, &startup, &info);
  if (output != INVALID_HANDLE_VALUE) ::CloseHandle(output);
  if (!created) return false;
  ::AssignProcessToJobObject(RelayJob(), info.hProcess);
  ::ResumeThread(info.hThread);
  ::CloseHandle(info.hThread);
  return true;
}

}  // namespace

int RelayProcess::Stop(int) {
  if (!process_) return -1;
  ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, static_cast<DWORD>(pid_));
  int status = Reap(static_cast<HANDLE>(process_));
  process_ = nullptr;
  pid_ = -1;
  return status;
}

RelayRun RunRelay(const std::vector<std::string>& arguments) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE readEnd, writeEnd;
  if (!::CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return {-1, ""};
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  PROCESS_INFORMATION info{};
  bool started = StartRelay(arguments, writeEnd, info);
  ::CloseHandle(writeEnd);
  std::string errors;
  if (started) {
    char buffer[4096];
    DWORD n = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kGuardSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
      DWORD waiting = 0;
      if (!::PeekNamedPipe(readEnd, nullptr, 0, nullptr, &waiting, nullptr)) break;  // the relay has ended
      if (waiting == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
      if (!::ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) || n == 0) break;
      errors.append(buffer, n);
    }
  }
  ::CloseHandle(readEnd);
  // Lines end in CRLF in a Windows program's text output.
  for (std::size_t at; (at = errors.find("\r\n")) != std::string::npos;) errors.erase(at, 1);
  return {started ? Reap(info.hProcess) : -1, errors};
}


RelayProcess::RelayProcess(int listenPort, int serverPort, long, int) : port_(listenPort) {
  PROCESS_INFORMATION info{};
  if (!StartRelay({std::to_string(listenPort), "127.0.0.1", std::to_string(serverPort)}, nullptr, info)) return;
  process_ = info.hProcess;
  pid_ = static_cast<long>(info.dwProcessId);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kGuardSeconds);
  while (!IsListening(listenPort) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

RelayProcess::~RelayProcess() { Stop(); }

}  // namespace loopback
