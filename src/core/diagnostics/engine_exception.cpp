// The engine's exception root.
#include "core/diagnostics/engine_exception.h"

#include <new>

#include "core/text/text_encoding.h"

namespace Orvan {

EException::EException(const TOrvString<wchar_t>& message) : message_(WideToUtf8(message)) {}

const char* EException::what() const noexcept { return message_.c_str(); }

TOrvString<wchar_t> EException::GetWideMessage() const noexcept {
  try {
    return Utf8ToWide(message_);
  } catch (const std::bad_alloc&) {
    return TOrvString<wchar_t>();
  }
}

}  // namespace Orvan
