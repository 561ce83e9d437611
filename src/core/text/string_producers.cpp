// String producers: platform texts, time stamps, file-name filtering, wildcard conversion, the
// copying replace and growing printf-style formatting.
#include "core/text/string_producers.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "core/text/number_text.h"
#include "core/text/string_utilities.h"
#include "core/threads/thread_services.h"
#include "core/time/time_stamp.h"

namespace Orvan {

namespace {

// Host names are at most 64 bytes on Linux; the buffer keeps its last byte NUL whatever it gets.
constexpr std::size_t kHostNameBuffer = 256;
// glibc's longest error text is under 50 characters.
constexpr std::size_t kErrorTextBuffer = 256;
// What FormatLocalTimeIso8601 is given; the text needs 25 bytes.
constexpr std::uint32_t kIsoTimeBuffer = 512;
// The first formatting buffer, in characters; it doubles from there.
constexpr std::uint32_t kFirstFormatCapacity = 64;

TOrvString<char> ErrorText(int error) {
  char buffer[kErrorTextBuffer];
  // The GNU strerror_r: the text may be a constant of its own rather than the buffer.
  return TOrvString<char>(strerror_r(error, buffer, sizeof buffer));
}

// Decimal with a leading '0' under 10.
void AppendTwoDigits(TOrvString<char>& text, int value) {
  char digits[kIntToTextCapacity];
  if (value <= 9) text += '0';
  text += IntToText(value, digits, 10);
}

// Ends the argument list also when formatting throws.
struct TArgumentList {
  va_list list;
  ~TArgumentList() { va_end(list); }
};

template <typename CharT>
void VFormat(TOrvString<CharT>& out, const CharT* format, va_list arguments) {
  std::vector<CharT> buffer(kFirstFormatCapacity, CharT{0});
  for (;;) {
    va_list attempt;
    va_copy(attempt, arguments);
    CharT* end = nullptr;
    const int outcome =
        VPrintToBuffer(buffer.data(), &end, static_cast<std::uint32_t>(buffer.size()), format, attempt);
    va_end(attempt);
    if (outcome == kPrintDone) {
      out = TOrvString<CharT>(buffer.data(), static_cast<std::uint32_t>(end - buffer.data()));
      return;
    }
    if (outcome == kPrintFailed) {
      out.Clear();
      return;
    }
    if (buffer.size() > std::numeric_limits<std::uint32_t>::max() / 2) throw std::bad_alloc();
    buffer.assign(buffer.size() * 2, CharT{0});
  }
}

}  // namespace

TOrvString<char> GetHostName() {
  char buffer[kHostNameBuffer] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) return TOrvString<char>();
  return TOrvString<char>(buffer);
}

TOrvString<char> GetSystemErrorText() { return ErrorText(errno); }

TOrvString<char> GetLastSystemErrorText() { return ErrorText(GetLastSystemError()); }

TOrvString<char> GetLocalTimeIsoText() {
  char buffer[kIsoTimeBuffer];
  FormatLocalTimeIso8601(buffer, sizeof buffer);
  return TOrvString<char>(buffer);
}

TOrvString<char> GetLocalTimeStampText() { return GetLocalTimeStampText(std::time(nullptr)); }

TOrvString<char> GetLocalTimeStampText(std::time_t time) {
  std::tm local;
  if (localtime_r(&time, &local) == nullptr) return TOrvString<char>();
  TOrvString<char> text;
  text.Reserve(13);
  AppendTwoDigits(text, (local.tm_year + 1900) % 100);
  AppendTwoDigits(text, local.tm_mon + 1);
  AppendTwoDigits(text, local.tm_mday);
  text += '_';
  AppendTwoDigits(text, local.tm_hour);
  AppendTwoDigits(text, local.tm_min);
  AppendTwoDigits(text, local.tm_sec);
  return text;
}

void FilterFileNameCharacters(TOrvString<char>& text) {
  static constexpr char kForbidden[] = "\"*/:<>?\\|";
  TEngineStdString<char> kept;
  kept.reserve(text.GetLength());
  for (const char c : text.GetStdString()) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 1 && byte <= 127 && std::strchr(kForbidden, c) == nullptr) kept += c;
  }
  text = TOrvString<char>(std::move(kept));
}

TOrvString<char> ReplaceInCopy(const TOrvString<char>& text, const TOrvString<char>& search,
                               const TOrvString<char>& replacement) {
  const TEngineStdString<char>& source = text.GetStdString();
  const std::size_t searchLength = search.GetLength();
  if (searchLength == 0) return text;
  std::size_t at = source.find(search.GetData(), 0, searchLength);
  if (at == TEngineStdString<char>::npos) return text;
  TEngineStdString<char> result;
  std::size_t from = 0;
  do {
    result.append(source, from, at - from);
    result.append(replacement.GetData(), replacement.GetLength());
    from = at + searchLength;
    at = source.find(search.GetData(), from, searchLength);
  } while (at != TEngineStdString<char>::npos);
  result.append(source, from);
  return TOrvString<char>(std::move(result));
}

TOrvString<char> WildcardToRegex(const TOrvString<char>& pattern) {
  static constexpr const char* kRewrites[][2] = {
      {"\\", "\\\\"}, {"(", "\\("}, {")", "\\)"}, {".", "\\."}, {"$", "\\$"}, {"*", "[^/:\\*\\?\\\"!=|]*"},
  };
  TOrvString<char> regex = pattern.GetUpperCase();
  for (const auto& rewrite : kRewrites) regex = ReplaceInCopy(regex, rewrite[0], rewrite[1]);
  return regex;
}

void FormatString(TOrvString<char>& out, const char* format, ...) {
  TArgumentList arguments;
  va_start(arguments.list, format);
  VFormat(out, format, arguments.list);
}

void FormatWideString(TOrvString<wchar_t>& out, const wchar_t* format, ...) {
  TArgumentList arguments;
  va_start(arguments.list, format);
  VFormat(out, format, arguments.list);
}

TOrvString<char> MakeSampleFileNameText() { return TOrvString<char>("DataDir:/Interface/Sample.png"); }

}  // namespace Orvan
