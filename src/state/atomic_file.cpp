#include "state/atomic_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace ps {

namespace {

// ---- Registry of the temporary files being written --------------------------
// Fixed slots, so that a signal handler can walk them without allocating or
// locking: a slot is free (0), being filled (1) or holds a live path (2).

constexpr int kSlots = 64;
constexpr size_t kPathBytes = 4096;
struct Slot {
  std::atomic<int> state{0};
  char path[kPathBytes];
};
Slot g_slots[kSlots];

// Blocks the cleanup signals while a temporary file is created and registered,
// so that no signal finds it created but not yet registered.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, &saved_);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

 private:
  sigset_t saved_;
};

int Register(const std::string& path) {
  if (path.size() >= kPathBytes) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (!g_slots[i].state.compare_exchange_strong(expected, 1)) continue;
    std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
    g_slots[i].state.store(2, std::memory_order_release);
    return i;
  }
  return -1;  // more than kSlots files at once: written, but not cleaned up on a signal
}

void Unregister(int slot) {
  if (slot >= 0) g_slots[slot].state.store(0, std::memory_order_release);
}

// The process's file-creation mask, read without changing it (umask() would
// have to set it to find it, racing with other threads).
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  return 022;
}

void CleanupHandler(int signal) { EndBySignal(signal); }

}  // namespace

std::string WriteFailure(const std::string& path, const std::string& reason) {
  return "Не удаётся записать файл " + path + ": " + reason;
}

void RemoveLiveTemporaryFiles() {
  for (Slot& s : g_slots)
    if (s.state.load(std::memory_order_acquire) == 2) ::unlink(s.path);
}

void EndBySignal(int signal) {
  RemoveLiveTemporaryFiles();
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(signal, &dfl, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
  _exit(128 + signal);  // a signal whose default action does not end the process
}

void InstallTemporaryFileCleanup() {
  struct sigaction sa {};
  sa.sa_handler = CleanupHandler;
  sigemptyset(&sa.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal the parent chose to ignore (nohup, a shell's background job)
    // stays ignored.
    struct sigaction old {};
    if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(s, &sa, nullptr);
  }
}

int LiveTemporaryFileCount() {
  int n = 0;
  for (const Slot& s : g_slots) n += s.state.load() == 2;
  return n;
}

// ---- AtomicFile ---------------------------------------------------------------

bool AtomicFile::open(const std::string& target, std::string* error) {
  namespace fs = std::filesystem;
  auto fail = [&](const std::string& reason) {
    if (error) *error = WriteFailure(target.empty() ? "\"\"" : target, reason);
    return false;
  };
  target_ = target;
  if (target.empty()) return fail("путь пуст, имя файла не указано");
  const fs::path path(target);
  if (path.filename().empty() || target.back() == '/') return fail("в пути нет имени файла");

  // The mask is read once: the training writes its files after every accepted iteration.
  static const mode_t kNewFileMode = 0666 & ~CurrentUmask();
  mode_t mode = kNewFileMode;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return fail("это папка");
    if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) {
      // A device or a pipe is written in place. O_NONBLOCK keeps the open from
      // waiting for a reader of a pipe that has none.
      fd_ = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd_ < 0) return fail(errno == ENXIO ? "у канала нет читающего процесса" : std::strerror(errno));
      ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
      return true;
    }
    if (!S_ISREG(st.st_mode)) return fail("это не обычный файл");
    mode = st.st_mode & 07777;  // a replaced file keeps its permissions
  }

  fs::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  std::string name = path.filename().string();
  if (name.size() > 200) name.resize(200);  // room for the dot and the suffix within a name's 255 bytes
  std::string pattern = (folder / ("." + name + ".XXXXXX")).string();
  {
    SignalsBlocked blocked;
    fd_ = ::mkstemp(pattern.data());
    if (fd_ < 0) return fail(std::strerror(errno));
    slot_ = Register(pattern);
  }
  temp_ = pattern;
  ::fchmod(fd_, mode);
  return true;
}

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  Unregister(slot_);
  slot_ = -1;
  temp_.clear();
}

bool AtomicFile::write(const void* data, size_t size) {
  if (fd_ < 0 || !failure_.empty()) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd_, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      failure_ = std::strerror(errno);
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool AtomicFile::commit(std::string* error, bool durable) {
  auto fail = [&](const std::string& reason) {
    if (error) *error = WriteFailure(target_, reason);
    discard();
    return false;
  };
  if (fd_ < 0) return fail(failure_.empty() ? "файл не открыт" : failure_);
  if (!failure_.empty()) return fail(failure_);
  // The data reach the disk before the rename makes them the file's content, so
  // a power loss leaves either the old or the new file, never a truncated one.
  if (durable && !temp_.empty() && ::fsync(fd_) != 0) return fail(std::strerror(errno));
  const int closed = ::close(fd_);
  fd_ = -1;
  if (closed != 0) return fail(std::strerror(errno));
  if (temp_.empty()) return true;  // written in place
  if (::rename(temp_.c_str(), target_.c_str()) != 0) return fail(std::strerror(errno));
  temp_.clear();
  Unregister(slot_);
  slot_ = -1;
  return true;
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string* error, bool durable) {
  AtomicFile file;
  if (!file.open(path, error)) return false;
  file.write(bytes);
  return file.commit(error, durable);
}

}  // namespace ps
