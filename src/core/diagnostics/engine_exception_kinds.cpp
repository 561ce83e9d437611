#include "core/diagnostics/engine_exception_kinds.h"

#include <cerrno>
#include <cstring>

#include "core/diagnostics/dialog.h"
#include "core/filesystem/file_name.h"
#include "core/text/positional_format.h"
#include "core/text/text_encoding.h"

namespace Orvan {

namespace {

TOrvString<wchar_t> MountingPointMessage(const TOrvString<wchar_t>& name) {
  return TOrvString<wchar_t>(L"Mouting point not found! : ") + name;
}

TOrvString<wchar_t> InvalidFileNameMessage(const TOrvString<char>& fileNameUtf8) {
  return TOrvString<wchar_t>(L"Invalid file name, forbidden characters. FileName = ") + Utf8ToWide(fileNameUtf8);
}

// The whole text form, however long: a cut could split a UTF-8 sequence and lose the name.
TOrvString<wchar_t> FileMessage(const wchar_t* prefix, const TFileName& fileName) {
  return TOrvString<wchar_t>(prefix) + Utf8ToWide(fileName.ToString());
}

std::uint32_t CurrentErrno() { return static_cast<std::uint32_t>(errno); }

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

EFileException::EFileException(std::uint32_t /*errorCode*/, const wchar_t* prefix, const TFileName& fileName)
    : EException(FileMessage(prefix, fileName)) {}

EFileNotFound::EFileNotFound(const TFileName& fileName) : EFileNotFound(CurrentErrno(), fileName) {}
EFileNotFound::EFileNotFound(std::uint32_t errorCode, const TFileName& fileName)
    : EFileException(errorCode, L"File not found : ", fileName) {}

EFileMappingFailed::EFileMappingFailed(const TFileName& fileName) : EFileMappingFailed(CurrentErrno(), fileName) {}
EFileMappingFailed::EFileMappingFailed(std::uint32_t errorCode, const TFileName& fileName)
    : EFileException(errorCode, L"File mapping failed : ", fileName) {}

EVolumeFull::EVolumeFull() : EFileException(CurrentErrno(), L"The volume is full", TFileName()) {}

EMountingPointNotFound::EMountingPointNotFound(std::uint16_t mountingPointId,
                                               const TOrvString<wchar_t>& mountingPointName)
    : EException(MountingPointMessage(mountingPointName)), mountingPointId_(mountingPointId) {}

EInvalidFileName::EInvalidFileName(const char* fileNameUtf8)
    : EInvalidFileName(fileNameUtf8, fileNameUtf8 != nullptr ? static_cast<std::uint32_t>(std::strlen(fileNameUtf8)) : 0) {}

EInvalidFileName::EInvalidFileName(const char* fileName, std::uint32_t length)
    : EException(InvalidFileNameMessage(TOrvString<char>(fileName, length))) {
  const std::uint32_t kept = length < kFileNameBytes - 1 ? length : kFileNameBytes - 1;
  if (kept != 0) std::memcpy(fileName_, fileName, kept);
  fileName_[kept] = '\0';
}

EAssertionError::EAssertionError(const char* file, std::uint32_t line, const char* expression, const char* message)
    : EException(AssertionMessage(file, line, expression, message)) {}

void ThrowFileNotFound(const TFileName& fileName) {
  const std::uint32_t errorCode = CurrentErrno();
  const TDialogDescriptor descriptor{0, kFileNotFoundDialogId, 1, kDialogButtonsIgnoreOnceIgnoreAlwaysQuit,
                                     kQuitGameCaption, 0};
  const TStringStreamableImpl<const TFileName> nameArgument(fileName);
  const TStringStreamable* arguments[] = {&nameArgument};
  OrvDialog(&descriptor, L"\"%1\" not found in non-tolerant code!", arguments, 1);
  throw EFileNotFound(errorCode, fileName);
}

}  // namespace Orvan
