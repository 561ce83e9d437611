// One static block per class for owner-destroyed singletons that must not allocate: a class that
// derives from TStaticSingletonStorage<T> is built there by `new T`, and deleting it (through its
// virtual deleting destructor, as the owners do) destroys without freeing.
#pragma once

#include <cstddef>

namespace Orvan {

template <typename T>
class TStaticSingletonStorage {
 public:
  static void* GetInstanceStorage() noexcept {
    alignas(T) static unsigned char block[sizeof(T)];
    return block;
  }
  static void* operator new(std::size_t /*size*/) { return GetInstanceStorage(); }
  static void operator delete(void* /*block*/) noexcept {}
};

}  // namespace Orvan
