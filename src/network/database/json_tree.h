// A parsed database answer: the JSON tree parser's result held for the life of a scope, with typed
// lookups of top-level members and the shared parse-error log line of the request classes.
#pragma once

#include <yajl/yajl_tree.h>

#include <cstdint>

namespace Orvan::Network {

class IGenericDbStruct;

class TJsonTree {
 public:
  // Room for the parser's error message.
  static constexpr std::uint32_t kErrorBufferSize = 2048;
  // Deeper documents are refused as a parse error: freeing a tree recurses once per level, so a
  // hostile answer of nested brackets would otherwise overflow the stack.
  static constexpr std::uint32_t kMaxNestingDepth = 512;

  explicit TJsonTree(const char* text);
  ~TJsonTree();
  TJsonTree(const TJsonTree&) = delete;
  TJsonTree& operator=(const TJsonTree&) = delete;

  bool IsValid() const { return root_ != nullptr; }
  yajl_val GetRoot() const { return root_; }
  const char* GetError() const { return error_; }

  // Logs `what`, a line break and the parser's message at level 1.
  void LogParseError(const char* what) const;

 private:
  yajl_val root_ = nullptr;
  char error_[kErrorBufferSize] = {};
};

// True when the answer parsed; otherwise logs `what` with the parser's message and fails the
// request with TDbRequestError::Generic.
bool ParsedOrFailed(const TJsonTree& tree, const char* what, IGenericDbStruct& request);

// The member `key` of an object (null for anything else) when it has that type, else null.
yajl_val GetJsonMember(yajl_val object, const char* key, yajl_type type);
// The integer value of a number; a number without one (12.5, 1e400) gives its value truncated and
// saturated, NaN gives 0.
std::int64_t GetJsonInteger(yajl_val number);

}  // namespace Orvan::Network
