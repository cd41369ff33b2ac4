#include "ModuleChannel.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "CommandSupport.h"
#include "FileAccess.h"

namespace {

// Records: a kind byte, a 4-byte length and that many bytes. A finished
// file's record holds both names, split by a zero byte, which no path holds.
enum Record : char { kStage = 'S', kCreated = 'C', kAbandoned = 'A', kFinished = 'F', kReturned = 'R' };

}  // namespace

void ChildChannel::Begin(const std::string& what) { Send(kStage, what); }

void ChildChannel::Send(char kind, const std::string& payload) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto length = static_cast<std::uint32_t>(payload.size());
  std::string record(1, kind);
  record.append(reinterpret_cast<const char*>(&length), sizeof length);
  record += payload;
  write_all_(record.data(), record.size());
}

int ChildChannel::RunBody(const char* command, const std::function<int(ModuleStage&)>& body) {
  hostsim::SetTemporaryFileHandoff(
      {[this](const std::string& temporary) { Send(kCreated, temporary); },
       [this](const std::string& temporary) { Send(kAbandoned, temporary); },
       [this](const std::string& temporary, const std::string& path) {
         Send(kFinished, temporary + std::string(1, '\0') + path);
       }});
  int status = kExitFailed;
  try {
    RunCommand(command, [&] { return body(*this); });
    status = 0;
  } catch (const CLI::RuntimeError& finished) {
    status = finished.get_exit_code();
  }
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  Send(kReturned, std::string(1, static_cast<char>(status)));
  return status;
}

void ChildReport::Take(std::string& buffer) {
  std::size_t at = 0;
  for (;;) {
    std::uint32_t length = 0;
    if (buffer.size() - at < 1 + sizeof length) break;
    std::memcpy(&length, buffer.data() + at + 1, sizeof length);
    if (buffer.size() - at - 1 - sizeof length < length) break;
    const char kind = buffer[at];
    std::string payload = buffer.substr(at + 1 + sizeof length, length);
    at += 1 + sizeof length + length;
    switch (kind) {
      case kStage: stage = std::move(payload); break;
      case kCreated: temporaries.push_back(std::move(payload)); break;
      case kAbandoned: temporaries.erase(std::remove(temporaries.begin(), temporaries.end(), payload), temporaries.end()); break;
      case kFinished: {
        const std::size_t split = payload.find('\0');
        finished.emplace_back(payload.substr(0, split), payload.substr(split + 1));
        break;
      }
      case kReturned:
        returned = true;
        status = payload.empty() ? kExitFailed : static_cast<unsigned char>(payload[0]);
        break;
      default: break;
    }
  }
  buffer.erase(0, at);
}

std::string TimedOutFailure(int stage_timeout_seconds, const ChildReport& report) {
  return "the module did not return within " + std::to_string(stage_timeout_seconds) + " s (--timeout) from " +
         report.stage + "; it was ended";
}

int ConcludeChild(const char* command, const std::string& failure, const ChildReport& report) {
  if (!failure.empty()) {
    for (const std::string& temporary : report.temporaries) {
      std::error_code ignored;
      std::filesystem::remove(hostsim::PathFromUtf8(temporary), ignored);
    }
    std::cerr << command << ": " << failure << "; no file it wrote was kept\n";
    return kExitFailed;
  }
  int result = report.status;
  for (const auto& [temporary, path] : report.finished) {
    try {
      hostsim::CommitTemporary(temporary, path);
    } catch (const hostsim::FileAccessError& refused) {
      std::cerr << command << ": " << refused.what() << '\n';
      result = kExitFailed;
    }
  }
  return result;
}
