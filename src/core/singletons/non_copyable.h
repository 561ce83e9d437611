// Base of engine classes whose objects own something that must not be duplicated by a copy.
#pragma once

namespace Orvan::Meta {

class NonCopyable {
 public:
  NonCopyable(const NonCopyable&) = delete;
  NonCopyable& operator=(const NonCopyable&) = delete;

 protected:
  NonCopyable() = default;
  ~NonCopyable() = default;
};

}  // namespace Orvan::Meta
