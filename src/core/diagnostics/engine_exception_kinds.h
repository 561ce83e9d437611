// The kinds of EException: file-layer failures, INI parsing and typing failures, and the exception
// form of a failed release assertion. Every kind keeps its message as UTF-8 in the root; none
// overrides `what` or `GetDescription`.
#pragma once

#include <cstdint>

#include "core/diagnostics/engine_exception.h"

namespace Orvan {

class TFileName;

// The file-layer failures: a prefix followed by the file name's text form. The error code is
// accepted for the callers' sake and not kept.
class EFileException : public EException {
 public:
  EFileException(std::uint32_t errorCode, const wchar_t* prefix, const TFileName& fileName);

 protected:
  explicit EFileException(const TOrvString<wchar_t>& message) : EException(message) {}
};

// "File not found : " followed by the file name; the first form passes the calling thread's errno.
class EFileNotFound : public EFileException {
 public:
  explicit EFileNotFound(const TFileName& fileName);
  EFileNotFound(std::uint32_t errorCode, const TFileName& fileName);

 protected:
  explicit EFileNotFound(const TOrvString<wchar_t>& message) : EFileException(message) {}
};

// "File mapping failed : " followed by the file name.
class EFileMappingFailed : public EFileException {
 public:
  explicit EFileMappingFailed(const TFileName& fileName);
  EFileMappingFailed(std::uint32_t errorCode, const TFileName& fileName);

 protected:
  explicit EFileMappingFailed(const TOrvString<wchar_t>& message) : EFileException(message) {}
};

// "The volume is full": growing a file failed for lack of space.
class EVolumeFull : public EFileException {
 public:
  // The message and the text of the empty file name, which is empty.
  EVolumeFull();

 protected:
  explicit EVolumeFull(const TOrvString<wchar_t>& message) : EFileException(message) {}
};

class EFileMappingViewFailed : public EException {
 public:
  explicit EFileMappingViewFailed(const TOrvString<wchar_t>& message) : EException(message) {}
};

// "Mouting point not found! : " followed by the missing mounting point's name.
class EMountingPointNotFound : public EException {
 public:
  EMountingPointNotFound(std::uint16_t mountingPointId, const TOrvString<wchar_t>& mountingPointName);
  std::uint16_t GetMountingPointId() const { return mountingPointId_; }

 private:
  std::uint16_t mountingPointId_;
};

// "Invalid file name, forbidden characters. FileName = " followed by the whole name; the raw bytes
// are also kept, cut to kFileNameBytes - 1.
class EInvalidFileName : public EException {
 public:
  static constexpr std::uint32_t kFileNameBytes = 4096;

  explicit EInvalidFileName(const char* fileNameUtf8);
  // A name of `length` bytes that need not be NUL-terminated.
  EInvalidFileName(const char* fileName, std::uint32_t length);
  const char* GetFileName() const { return fileName_; }

 private:
  char fileName_[kFileNameBytes];
};

class EIniParsingException : public EException {
 public:
  explicit EIniParsingException(const TOrvString<wchar_t>& message) : EException(message), line_(-1) {}
  EIniParsingException(std::int32_t line, const TOrvString<wchar_t>& message) : EException(message), line_(line) {}
  // -1 when no line is known.
  std::int32_t GetLine() const { return line_; }

 private:
  std::int32_t line_;
};

// An INI value of the wrong type; the message is empty.
class EIniWrongTypeValue : public EException {
 public:
  EIniWrongTypeValue() : EException(TOrvString<wchar_t>()) {}
};

// "<file>(<line>): ASSERT RELEASE FAILED: <expression>\n<message>".
class EAssertionError : public EException {
 public:
  EAssertionError(const char* file, std::uint32_t line, const char* expression, const char* message);
};

// Site of the missing-file dialog, (0, 31).
inline constexpr std::uint32_t kFileNotFoundDialogId = 31;

// For code that may not tolerate a missing file: shows the dialog "\"<name>\" not found in
// non-tolerant code!" (button set 7, so a site answered yes shows nothing again), then throws
// EFileNotFound for the name with the current errno, whatever the answer.
[[noreturn]] void ThrowFileNotFound(const TFileName& fileName);

}  // namespace Orvan
