// The location hash, the one out-of-line hash functor.
#include "core/text/hash_functors.h"

#include "core/text/text_hash.h"

namespace Orvan {

std::uint32_t TLocationHash::operator()(const TLocationKey& key) const noexcept {
  // Field bytes only: the padding after `line` is not part of the key.
  char bytes[sizeof(key.file) + sizeof(key.expression) + sizeof(key.line)];
  std::memcpy(bytes, &key.file, sizeof(key.file));
  std::memcpy(bytes + sizeof(key.file), &key.expression, sizeof(key.expression));
  std::memcpy(bytes + sizeof(key.file) + sizeof(key.expression), &key.line, sizeof(key.line));
  return HashDjb2(bytes, bytes + sizeof(bytes));
}

}  // namespace Orvan
