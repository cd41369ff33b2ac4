// RunModuleInChild on Windows, which has no fork: the command starts its own
// executable again with the same command line and, in its environment, the
// number of an inherited pipe handle. The new process reads the same options,
// makes the same checks, reaches the same call of RunModuleInChild, finds the
// handle and runs the body there, writing its records into the pipe. The
// child and whatever it starts live in a job that ends with this process.
#include "ModuleProcess.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommandSupport.h"
#include "ModuleChannel.h"

namespace {

constexpr wchar_t kChannelVariable[] = L"TOVANE_MODULE_CHANNEL";

// How often the parent looks at the pipe and the child: an anonymous pipe
// cannot be waited on together with a process.
constexpr DWORD kPollMilliseconds = 20;

// Closes the handle it holds when it goes.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle = nullptr) : handle_(handle) {}
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  HANDLE get() const { return handle_; }
  HANDLE* out() { return &handle_; }

 private:
  HANDLE handle_;
};

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + " (Windows error " + std::to_string(GetLastError()) + ")");
}

// The pipe this process writes its records into when it is a module's child;
// null in the command's own process. Read once, and taken out of the
// environment, so that nothing the module starts believes itself a child.
HANDLE ChannelGivenByParent() {
  static const HANDLE given = [] {
    wchar_t value[32];
    const DWORD length = GetEnvironmentVariableW(kChannelVariable, value, 32);
    if (length == 0 || length >= 32) return HANDLE{nullptr};
    SetEnvironmentVariableW(kChannelVariable, nullptr);
    wchar_t* end = nullptr;
    const unsigned long long number = std::wcstoull(value, &end, 10);
    const auto handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(number));
    if (end == value || *end != L'\0' || GetFileType(handle) != FILE_TYPE_PIPE) return HANDLE{nullptr};
    return handle;
  }();
  return given;
}

// Ends the child with the code of an exception nothing handled, which the
// parent reports, before the system can open a dialog or start a debugger
// (Wine starts one whatever the error mode says) that would wait for ever.
LONG WINAPI EndWithTheExceptionCode(EXCEPTION_POINTERS* exception) {
  TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

[[noreturn]] void RunChild(HANDLE pipe, const char* command, const std::function<int(ModuleStage&)>& body) {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetUnhandledExceptionFilter(EndWithTheExceptionCode);
  ChildChannel channel([pipe](const char* at, std::size_t left) {
    while (left > 0) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(left, 1u << 20));
      if (!WriteFile(pipe, at, chunk, &written, nullptr) || written == 0)
        TerminateProcess(GetCurrentProcess(), kExitFailed);
      at += written;
      left -= written;
    }
  });
  const int status = channel.RunBody(command, body);
  // As _exit on Linux: nothing of the module runs after its status is sent.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  std::_Exit(status);  // not reached: TerminateProcess of this process does not return
}

// This executable's own path, however long.
std::wstring OwnPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) Fail("cannot find this program's own file");
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// `source` as a handle the child inherits; null stays null.
OwnedHandle InheritableCopy(HANDLE source) {
  OwnedHandle copy;
  if (source != nullptr && source != INVALID_HANDLE_VALUE &&
      !DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), copy.out(), 0, TRUE, DUPLICATE_SAME_ACCESS))
    Fail("cannot pass the standard streams to the module's process");
  return copy;
}

// "exception 0xC0000005, access violation": the exit code Windows gives a
// process ended by an exception nothing handled.
std::string ExceptionText(DWORD code) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
  std::string text = std::string("exception ") + hex;
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: return text + ", access violation";
    case EXCEPTION_STACK_OVERFLOW: return text + ", stack overflow";
    case EXCEPTION_ILLEGAL_INSTRUCTION: return text + ", illegal instruction";
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return text + ", integer division by zero";
    case EXCEPTION_BREAKPOINT: return text + ", breakpoint";
    case 0xC0000409: return text + ", the process ended itself at once (fail fast)";
    default: return text;
  }
}

}  // namespace

int RunModuleInChild(const char* command, int stage_timeout_seconds, const std::function<int(ModuleStage&)>& body) {
  if (const HANDLE pipe = ChannelGivenByParent()) RunChild(pipe, command, body);

  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  OwnedHandle read_end, write_end;
  if (!CreatePipe(read_end.out(), write_end.out(), &inheritable, 0)) Fail("cannot make a pipe");
  SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);

  // Everything the child starts is in the job, which ends it all when its
  // last handle closes: here at the end, or when this process goes.
  OwnedHandle job(CreateJobObjectW(nullptr, nullptr));
  if (job.get() == nullptr) Fail("cannot make a job for the module's process");
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
    Fail("cannot make a job for the module's process");

  const OwnedHandle input = InheritableCopy(GetStdHandle(STD_INPUT_HANDLE));
  const OwnedHandle output = InheritableCopy(GetStdHandle(STD_OUTPUT_HANDLE));
  const OwnedHandle error = InheritableCopy(GetStdHandle(STD_ERROR_HANDLE));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = output.get();
  startup.hStdError = error.get();

  const std::wstring program = OwnPath();
  std::wstring command_line = GetCommandLineW();
  const std::wstring channel = std::to_wstring(reinterpret_cast<std::uintptr_t>(write_end.get()));
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  PROCESS_INFORMATION started{};
  SetEnvironmentVariableW(kChannelVariable, channel.c_str());
  const BOOL created = CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                                      nullptr, nullptr, &startup, &started);
  SetEnvironmentVariableW(kChannelVariable, nullptr);
  if (!created) Fail("cannot start a process for the module");
  const OwnedHandle process(started.hProcess);
  const OwnedHandle thread(started.hThread);
  if (!AssignProcessToJobObject(job.get(), process.get())) {
    TerminateProcess(process.get(), kExitFailed);
    Fail("cannot put the module's process in its job");
  }
  ResumeThread(thread.get());
  // The child holds the write end now; the pipe breaks when it goes.
  CloseHandle(*write_end.out());
  *write_end.out() = nullptr;

  // The time limit is kept here, as on Linux; each record restarts it.
  ChildReport report;
  std::string buffer;
  std::vector<char> chunk(65536);
  bool timed_out = false;
  bool ended = false;
  const auto limit = std::chrono::seconds(stage_timeout_seconds);
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    DWORD available = 0;
    DWORD got = 0;
    if (PeekNamedPipe(read_end.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
        ReadFile(read_end.get(), chunk.data(), static_cast<DWORD>(std::min<std::size_t>(available, chunk.size())),
                 &got, nullptr) &&
        got > 0) {
      buffer.append(chunk.data(), got);
      report.Take(buffer);
      deadline = std::chrono::steady_clock::now() + limit;
      continue;
    }
    if (ended) break;  // and the pipe is drained
    if (std::chrono::steady_clock::now() >= deadline) {
      timed_out = true;
      break;
    }
    ended = WaitForSingleObject(process.get(), kPollMilliseconds) == WAIT_OBJECT_0;
  }
  if (timed_out) TerminateJobObject(job.get(), kExitFailed);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = kExitFailed;
  GetExitCodeProcess(process.get(), &code);

  std::string failure;
  if (timed_out) {
    failure = TimedOutFailure(stage_timeout_seconds, report);
  } else if (!report.returned && code >= 0x80000000u) {
    failure = "the module crashed (" + ExceptionText(code) + ") during " + report.stage;
  } else if (!report.returned) {
    failure = "the module ended the process (exit status " + std::to_string(code) + ") during " + report.stage;
  }
  return ConcludeChild(command, failure, report);
}
