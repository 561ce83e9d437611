// Parsed database answers.
#include "network/database/json_tree.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "core/text/engine_string.h"
#include "network/database/database_accesser.h"
#include "network/logging/network_hooks.h"

namespace Orvan::Network {

namespace {

// False when brackets nest deeper than the limit outside strings.
bool NestingWithinLimit(const char* text, std::uint32_t limit) {
  std::uint32_t depth = 0;
  bool inString = false;
  for (const char* p = text; *p != '\0'; ++p) {
    const char c = *p;
    if (inString) {
      if (c == '\\' && p[1] != '\0') {
        ++p;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return true;
}

}  // namespace

TJsonTree::TJsonTree(const char* text) {
  if (text == nullptr) text = "";
  if (!NestingWithinLimit(text, kMaxNestingDepth)) {
    std::snprintf(error_, sizeof error_, "nesting deeper than %u levels", kMaxNestingDepth);
    return;
  }
  root_ = yajl_tree_parse(text, error_, sizeof error_);
}

TJsonTree::~TJsonTree() { yajl_tree_free(root_); }

void TJsonTree::LogParseError(const char* what) const {
  NetworkLog(kNetworkLogWarning, TOrvString<char>(what) + "\n" + error_);
}

bool ParsedOrFailed(const TJsonTree& tree, const char* what, IGenericDbStruct& request) {
  if (tree.IsValid()) return true;
  tree.LogParseError(what);
  request.Fail(TDbRequestError::Generic);
  return false;
}

yajl_val GetJsonMember(yajl_val object, const char* key, yajl_type type) {
  if (object == nullptr || !YAJL_IS_OBJECT(object)) return nullptr;
  const char* path[] = {key, nullptr};
  return yajl_tree_get(object, path, type);
}

std::int64_t GetJsonInteger(yajl_val number) {
  if (number == nullptr || !YAJL_IS_NUMBER(number)) return 0;
  if (YAJL_IS_INTEGER(number)) return YAJL_GET_INTEGER(number);
  const double value = YAJL_GET_DOUBLE(number);
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
  if (value <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(value);
}

}  // namespace Orvan::Network
