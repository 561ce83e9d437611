// Positional formatting: "%1" to "%9" in a format text name the arguments, which format
// themselves (TStringStreamable), so one format text serves every value type and a placeholder may
// appear any number of times. "%%" is a percent sign; "%0" throws EException; a missing argument
// or any other unit after "%" is reported through a dialog and formatting goes on.
#pragma once

#include <cstdint>
#include <ios>

#include "core/text/engine_string.h"
#include "core/text/string_streamable.h"

namespace Orvan {

// Applied once to the engine-string variants' stream before the format text is read.
using TStreamManipulator = std::ios_base& (*)(std::ios_base&);
// The manipulator that changes nothing.
std::ios_base& KeepStreamAsIs(std::ios_base& stream);

// Buffer variants: `capacity` counts units, the terminator included. The result is the length of
// the text when everything fitted, else the capacity (the text is then cut and terminated in the
// last slot); capacity 0 writes nothing and gives 0.
std::uint32_t Format(wchar_t* output, std::uint32_t capacity, const wchar_t* format,
                     const TStringStreamable* const* arguments, std::uint32_t count);
std::uint32_t Format(char* output, std::uint32_t capacity, const char* format,
                     const TStringStreamable* const* arguments, std::uint32_t count);

// Engine-string variants: the arguments stream themselves into a string-heap stream; an empty
// result is the null-handle string.
TOrvString<char> Format(const char* format, const TStringStreamable* const* arguments, std::uint32_t count,
                        TStreamManipulator manipulator = KeepStreamAsIs);
TOrvString<wchar_t> Format(const wchar_t* format, const TStringStreamable* const* arguments, std::uint32_t count,
                           TStreamManipulator manipulator = KeepStreamAsIs);

// Dialog sites of the formatting warnings, (0, site).
inline constexpr std::uint32_t kBadPlaceholderBufferDialogId = 151;
inline constexpr std::uint32_t kBadPlaceholderStringDialogId = 65;
inline constexpr std::uint32_t kMissingArgumentBufferDialogId = 132;
inline constexpr std::uint32_t kMissingArgumentStringDialogId = 56;

namespace FormatDetail {
template <typename CharT, typename... TAdapters>
TOrvString<CharT> FormatAdapters(const CharT* format, const TAdapters&... adapters) {
  const TStringStreamable* arguments[sizeof...(TAdapters) + 1] = {&adapters..., nullptr};
  return Format(format, arguments, static_cast<std::uint32_t>(sizeof...(TAdapters)));
}
}  // namespace FormatDetail

// Format with the adapters built in place: FormatValues("player_%1", id).
template <typename CharT, typename... T>
TOrvString<CharT> FormatValues(const CharT* format, const T&... values) {
  return FormatDetail::FormatAdapters(format, TStringStreamableImpl<const T>(values)...);
}

}  // namespace Orvan
