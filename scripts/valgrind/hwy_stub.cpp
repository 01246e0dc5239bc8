// Stand-in for libhwy.so.1 under valgrind only (scripts/valgrind-check). The real library runs RDTSCP
// in its start-up code, which valgrind 3.19 cannot run on machines whose CPU does not announce it, so
// the viewer would die before main. Nothing the viewer does reaches it: it is there for libjxl, which
// the image and video libraries link for JPEG XL, a format the viewer never reads. These are the five
// functions libjxl imports; they only allocate, and would abort if JPEG XL were ever decoded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace hwy {

class ChosenTarget {
 public:
  std::int64_t mask[8];
};

class AlignedDeleter {
 public:
  static void DeleteAlignedArray(void* pointer, void (*freeFunction)(void*, void*), void* opaque,
                                 void (*destroy)(void*, std::size_t));
};

std::int64_t SupportedTargets() { std::abort(); }

ChosenTarget& GetChosenTarget() { std::abort(); }

void* AllocateAlignedBytes(std::size_t bytes, void* (*allocate)(void*, std::size_t), void* opaque) {
  return allocate ? allocate(opaque, bytes) : std::aligned_alloc(64, (bytes + 63) / 64 * 64);
}

void FreeAlignedBytes(const void* pointer, void (*freeFunction)(void*, void*), void* opaque) {
  if (freeFunction)
    freeFunction(opaque, const_cast<void*>(pointer));
  else
    std::free(const_cast<void*>(pointer));
}

void AlignedDeleter::DeleteAlignedArray(void* pointer, void (*freeFunction)(void*, void*), void* opaque,
                                        void (*)(void*, std::size_t)) {
  FreeAlignedBytes(pointer, freeFunction, opaque);
}

}  // namespace hwy
