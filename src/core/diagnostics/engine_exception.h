// EException, the root of every exception the engine throws. It keeps its message as UTF-8,
// converted once from the wide text it is built with, so `what` needs no conversion.
#pragma once

#include <exception>

#include "core/objects/class_with_virtual_destructor.h"
#include "core/text/engine_string.h"

namespace Orvan {

class EException : public std::exception, public RTTI::TClassWithVirtualDestructor {
 public:
  // Converts the message to UTF-8; an allocation failure there propagates as std::bad_alloc.
  // A message that is not well-formed UTF-16 (a lone surrogate) is kept as the empty text.
  explicit EException(const TOrvString<wchar_t>& message);
  ~EException() override = default;
  EException(const EException&) = default;
  EException& operator=(const EException&) = default;

  // The UTF-8 message; never null (the empty text for an empty message).
  const char* what() const noexcept override;
  // The message decoded back into wide text; empty when that fails.
  TOrvString<wchar_t> GetWideMessage() const noexcept;
  const TOrvString<char>& GetMessage() const noexcept { return message_; }

 private:
  TOrvString<char> message_;
};

}  // namespace Orvan
