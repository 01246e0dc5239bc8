// The system calls under the V4L2 backend, one for one, so that an in-memory fake kernel device can
// stand in for the kernel in tests; and owners for the descriptors and mappings they hand out.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace capture {

// Every call behaves like its namesake: -1 (MAP_FAILED for Mmap) and errno on failure. Thread-safe.
class V4l2System {
 public:
  V4l2System() = default;
  V4l2System(const V4l2System&) = delete;
  V4l2System& operator=(const V4l2System&) = delete;
  virtual ~V4l2System() = default;

  // The video device nodes present (/dev/videoN), in ascending node number.
  virtual std::vector<std::string> ListVideoNodes() = 0;
  // The links to them that survive replugging (under /dev/v4l/by-id and /dev/v4l/by-path), each with
  // the node it names, by id first, each folder in name order.
  virtual std::vector<std::pair<std::string, std::string>> ListStableLinks() { return {}; }
  virtual int Open(const std::string& path, int flags) = 0;
  virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
  virtual void* Mmap(std::size_t length, int prot, int flags, int fd, off_t offset) = 0;
  virtual int Munmap(void* address, std::size_t length) = 0;
  virtual int Poll(pollfd* fds, nfds_t count, int timeoutMs) = 0;
  virtual int Close(int fd) = 0;
};

// The real kernel.
std::unique_ptr<V4l2System> MakeKernelV4l2System();

// An ioctl that is repeated when a signal interrupts it. 0 on success, otherwise the errno value.
int Xioctl(V4l2System& system, int fd, unsigned long request, void* arg);

// Sorts device node paths by the number after "/dev/video" (video10 after video9); other names last.
void SortVideoNodes(std::vector<std::string>* paths);

// Owns one open descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  UniqueFd(std::shared_ptr<V4l2System> system, int fd) : system_(std::move(system)), fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept { *this = std::move(other); }
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes the descriptor; safe to repeat.
  void Reset();

 private:
  std::shared_ptr<V4l2System> system_;
  int fd_ = -1;
};

// Owns one mapping of a device buffer.
class MappedRegion {
 public:
  MappedRegion() = default;
  MappedRegion(std::shared_ptr<V4l2System> system, void* address, std::size_t length)
      : system_(std::move(system)), address_(address), length_(length) {}
  MappedRegion(MappedRegion&& other) noexcept { *this = std::move(other); }
  MappedRegion& operator=(MappedRegion&& other) noexcept;
  MappedRegion(const MappedRegion&) = delete;
  MappedRegion& operator=(const MappedRegion&) = delete;
  ~MappedRegion() { Reset(); }

  const std::uint8_t* data() const { return static_cast<const std::uint8_t*>(address_); }
  std::size_t size() const { return length_; }
  bool valid() const { return address_ != nullptr; }
  // Unmaps the region; safe to repeat.
  void Reset();

 private:
  std::shared_ptr<V4l2System> system_;
  void* address_ = nullptr;
  std::size_t length_ = 0;
};

}  // namespace capture
