// Writing files whole or not at all. Every file the program writes goes through
// here: the bytes go to a temporary file beside the target, are flushed to the
// disk and checked after close, and only then does a rename make them the
// target's content. A failure, an exception or a SIGINT/SIGTERM leaves the old
// file as it was and no temporary file behind.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ps {

// A temporary file being written for one target. Create() reserves a uniquely
// named hidden file ".NAME.XXXXXX" in the target's folder and registers it for
// removal on SIGINT/SIGTERM; commit() makes it the target; the destructor
// removes it when it was not committed.
//
// A target that exists and is a character device or a pipe (/dev/null,
// /dev/stdout) cannot be replaced: it is written directly, every write checked.
// A target that is a folder or another kind of special file is refused.
class AtomicFile {
 public:
  // Opens the temporary file; false with a message naming `target` in `error`.
  bool open(const std::string& target, std::string* error);
  ~AtomicFile();

  // Appends bytes; false (with the message kept for commit) when the write fails.
  bool write(const void* data, size_t size);
  bool write(std::string_view bytes) { return write(bytes.data(), bytes.size()); }

  // The temporary file's path, for writers that open it by name themselves
  // (the file exists and is empty until they write it). Empty for a direct write.
  const std::string& temporaryPath() const { return temp_; }

  // Flushes to the disk when `durable`, closes, checks, renames over the target.
  // false with a message naming the target; the target is then untouched.
  bool commit(std::string* error, bool durable = true);

  AtomicFile() = default;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

 private:
  void discard();
  std::string target_, temp_, failure_;
  int fd_ = -1;
  int slot_ = -1;
};

// The whole of `bytes` to `path` through an AtomicFile. `durable` flushes the
// data to the disk before the rename (a power loss then leaves the old or the
// new file, never an empty one); it costs milliseconds.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string* error = nullptr,
                         bool durable = true);

// The message of a failed write: "Не удаётся записать файл PATH: REASON".
std::string WriteFailure(const std::string& path, const std::string& reason);

// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove every temporary
// file still being written and then end the process by the same signal (exit
// status 128 + signal number in a shell: 130 for Ctrl-C, 143 for kill). A
// signal that is ignored when this is called stays ignored.
void InstallTemporaryFileCleanup();

// Removes every registered temporary file; async-signal-safe, for signal
// handlers of their own that end the process.
void RemoveLiveTemporaryFiles();

// Removes the temporary files and ends the process by `signal` with its default
// action; async-signal-safe.
[[noreturn]] void EndBySignal(int signal);

// Number of temporary files registered now (for tests).
int LiveTemporaryFileCount();

}  // namespace ps
