#include "capture/v4l2/v4l2_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace capture {
namespace {

class KernelV4l2System final : public V4l2System {
 public:
  std::vector<std::string> ListVideoNodes() override {
    std::vector<std::string> nodes;
    DIR* dir = opendir("/dev");
    if (!dir) return nodes;
    while (const dirent* entry = readdir(dir)) {
      const char* name = entry->d_name;
      if (std::strncmp(name, "video", 5) != 0 || name[5] == '\0') continue;
      if (!std::all_of(name + 5, name + std::strlen(name), [](char c) { return c >= '0' && c <= '9'; })) continue;
      nodes.push_back(std::string("/dev/") + name);
    }
    closedir(dir);
    SortVideoNodes(&nodes);
    return nodes;
  }
  std::vector<std::pair<std::string, std::string>> ListStableLinks() override {
    std::vector<std::pair<std::string, std::string>> links;
    for (const char* folder : {"/dev/v4l/by-id", "/dev/v4l/by-path"}) {
      std::error_code ec;
      std::vector<std::string> names;
      for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) names.push_back(entry.path().string());
      std::sort(names.begin(), names.end());
      for (const std::string& link : names) {
        const std::filesystem::path node = std::filesystem::canonical(link, ec);
        if (!ec) links.emplace_back(link, node.string());
      }
    }
    return links;
  }
  int Open(const std::string& path, int flags) override { return ::open(path.c_str(), flags); }
  int Ioctl(int fd, unsigned long request, void* arg) override { return ::ioctl(fd, request, arg); }
  void* Mmap(std::size_t length, int prot, int flags, int fd, off_t offset) override {
    return ::mmap(nullptr, length, prot, flags, fd, offset);
  }
  int Munmap(void* address, std::size_t length) override { return ::munmap(address, length); }
  int Poll(pollfd* fds, nfds_t count, int timeoutMs) override { return ::poll(fds, count, timeoutMs); }
  int Close(int fd) override { return ::close(fd); }
};

// The node number of "/dev/videoN", or -1.
long NodeNumber(const std::string& path) {
  static constexpr char kPrefix[] = "/dev/video";
  if (path.rfind(kPrefix, 0) != 0) return -1;
  const std::string digits = path.substr(sizeof(kPrefix) - 1);
  if (digits.empty() || digits.size() > 9 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return -1;
  return std::strtol(digits.c_str(), nullptr, 10);
}

}  // namespace

std::unique_ptr<V4l2System> MakeKernelV4l2System() { return std::make_unique<KernelV4l2System>(); }

int Xioctl(V4l2System& system, int fd, unsigned long request, void* arg) {
  for (;;) {
    if (system.Ioctl(fd, request, arg) == 0) return 0;
    const int error = errno;
    if (error != EINTR) return error != 0 ? error : EIO;
  }
}

void SortVideoNodes(std::vector<std::string>* paths) {
  std::stable_sort(paths->begin(), paths->end(), [](const std::string& a, const std::string& b) {
    const long na = NodeNumber(a), nb = NodeNumber(b);
    if ((na < 0) != (nb < 0)) return nb < 0;
    if (na < 0) return a < b;
    return na < nb;
  });
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    Reset();
    system_ = std::move(other.system_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void UniqueFd::Reset() {
  if (fd_ >= 0 && system_) system_->Close(fd_);
  fd_ = -1;
}

MappedRegion& MappedRegion::operator=(MappedRegion&& other) noexcept {
  if (this != &other) {
    Reset();
    system_ = std::move(other.system_);
    address_ = other.address_;
    length_ = other.length_;
    other.address_ = nullptr;
    other.length_ = 0;
  }
  return *this;
}

void MappedRegion::Reset() {
  if (address_ && system_) system_->Munmap(address_, length_);
  address_ = nullptr;
  length_ = 0;
}

}  // namespace capture
