#include "core/diagnostics/engine_exception_kinds.h"

#include <cstring>

#include "core/text/positional_format.h"
#include "core/text/text_encoding.h"

namespace Orvan {

namespace {

TOrvString<wchar_t> MountingPointMessage(const TOrvString<wchar_t>& name) {
  return TOrvString<wchar_t>(L"Mouting point not found! : ") + name;
}

TOrvString<wchar_t> InvalidFileNameMessage(const char* fileNameUtf8) {
  return TOrvString<wchar_t>(L"Invalid file name, forbidden characters. FileName = ") +
         Utf8ToWide(TOrvString<char>(fileNameUtf8));
}

TOrvString<wchar_t> AssertionMessage(const char* file, std::uint32_t line, const char* expression,
                                     const char* message) {
  const TStringStreamableImpl<const char*> fileArgument(file);
  const TStringStreamableImpl<const std::uint32_t> lineArgument(line);
  const TStringStreamableImpl<const char*> expressionArgument(expression);
  const TStringStreamableImpl<const char*> messageArgument(message);
  const TStringStreamable* arguments[] = {&fileArgument, &lineArgument, &expressionArgument, &messageArgument};
  return Format(L"%1(%2): ASSERT RELEASE FAILED: %3\n%4", arguments, 4);
}

}  // namespace

EVolumeFull::EVolumeFull() : EFileException(TOrvString<wchar_t>(L"The volume is full")) {}

EMountingPointNotFound::EMountingPointNotFound(std::uint16_t mountingPointId,
                                               const TOrvString<wchar_t>& mountingPointName)
    : EException(MountingPointMessage(mountingPointName)), mountingPointId_(mountingPointId) {}

EInvalidFileName::EInvalidFileName(const char* fileNameUtf8) : EException(InvalidFileNameMessage(fileNameUtf8)) {
  const char* name = fileNameUtf8 != nullptr ? fileNameUtf8 : "";
  std::strncpy(fileName_, name, kFileNameBytes - 1);
  fileName_[kFileNameBytes - 1] = '\0';
}

EAssertionError::EAssertionError(const char* file, std::uint32_t line, const char* expression, const char* message)
    : EException(AssertionMessage(file, line, expression, message)) {}

}  // namespace Orvan
