// Helpers for the serial component tests: a pseudo-terminal standing in for the cable,
// a stand-in window thread, and waiting for real events with a generous time-out.
#pragma once

#include "comm/comm.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace commtest {

using namespace std::chrono_literals;
constexpr auto kPatience = 5s;

// Waits until `done` holds, looking again every millisecond; false after kPatience.
inline bool WaitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// A pseudo-terminal pair: the component opens the slave by its path; the test plays the
// other end of the line on the master.
class TPtyPair {
 public:
  TPtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
      char name[128];
      if (::ptsname_r(master_, name, sizeof name) == 0) slave_path_ = name;
    }
    // Keep one slave handle of the test's own: it reads the line settings back and keeps
    // the pair alive between opens of the component.
    if (!slave_path_.empty()) slave_ = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  ~TPtyPair() {
    CloseMaster();
    if (slave_ >= 0) ::close(slave_);
  }
  TPtyPair(const TPtyPair&) = delete;
  TPtyPair& operator=(const TPtyPair&) = delete;

  bool Ok() const { return master_ >= 0 && slave_ >= 0; }
  const std::string& SlavePath() const { return slave_path_; }
  int Master() const { return master_; }
  int Slave() const { return slave_; }
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  bool Send(const std::vector<unsigned char>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n < 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }
  bool Send(const std::string& text) { return Send(std::vector<unsigned char>(text.begin(), text.end())); }

  // Collects exactly `count` bytes from the master (fewer after kPatience).
  std::vector<unsigned char> Receive(size_t count) {
    std::vector<unsigned char> bytes;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      unsigned char chunk[4096];
      const ssize_t n = ::read(master_, chunk, std::min(sizeof chunk, count - bytes.size()));
      if (n <= 0) break;
      bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
};

// A stand-in for the window thread's event queue: the synchronize function posts to it,
// and the test decides when the posted calls run.
class TWindowQueue {
 public:
  comm::TSynchronize Synchronize() {
    return [this](std::function<void()> call) {
      {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
      }
      changed_.notify_all();
    };
  }
  size_t Pending() {
    std::lock_guard lock(mutex_);
    return calls_.size();
  }
  bool WaitPending(size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return calls_.size() >= count; });
  }
  // Runs the calls posted so far, in order.
  void RunPending() {
    std::deque<std::function<void()>> calls;
    {
      std::lock_guard lock(mutex_);
      calls.swap(calls_);
    }
    for (auto& call : calls) call();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> calls_;
};

// A real window thread: runs posted calls one by one until destroyed.
class TWindowThread {
 public:
  TWindowThread() : thread_([this] { Loop(); }) {}
  ~TWindowThread() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  comm::TSynchronize Synchronize() {
    return [this](std::function<void()> call) { Post(std::move(call)); };
  }
  void Post(std::function<void()> call) {
    {
      std::lock_guard lock(mutex_);
      calls_.push_back(std::move(call));
    }
    changed_.notify_all();
  }
  // Runs `work` on the window thread and waits for it.
  void Invoke(const std::function<void()>& work) {
    std::mutex done_mutex;
    std::condition_variable done_changed;
    bool done = false;
    Post([&] {
      work();
      std::lock_guard lock(done_mutex);
      done = true;
      done_changed.notify_all();
    });
    std::unique_lock lock(done_mutex);
    done_changed.wait(lock, [&] { return done; });
  }

 private:
  void Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return stop_ || !calls_.empty(); });
      if (calls_.empty()) return;
      auto call = std::move(calls_.front());
      calls_.pop_front();
      lock.unlock();
      call();
      lock.lock();
    }
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> calls_;
  bool stop_ = false;
  std::thread thread_;
};

inline int CountEntries(const char* dir) {
  int count = 0;
  if (DIR* d = ::opendir(dir)) {
    while (const dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ++count;
    ::closedir(d);
  }
  return count;
}
inline int OpenDescriptors() { return CountEntries("/proc/self/fd"); }
inline int RunningThreads() { return CountEntries("/proc/self/task"); }

inline std::vector<unsigned char> Pattern(size_t count, unsigned seed) {
  std::vector<unsigned char> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>((i * 31 + seed) & 0xFF);
  return bytes;
}

}  // namespace commtest
