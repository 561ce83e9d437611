// The placeholder grammar shared by the four Format variants, and its two warnings.
#include "core/text/positional_format.h"

#include <cstdint>

#include "core/diagnostics/dialog.h"
#include "core/diagnostics/engine_exception.h"

namespace Orvan {

namespace {

const wchar_t kPlaceholderZeroMessage[] = L"Les formats de cha\u00EEnes vont de 1 \u00E0 9.";
const char kBadPlaceholderFormat[] =
    "%%%1 ne peut pas \xC3\xAAtre pars\xC3\xA9 par la fonction Format de la chaine \"%2\"";
const wchar_t kMissingArgumentFormat[] =
    L"Pas assez de param\u00E8tre lors de l'appel \u00E0 Format\nchaine : %1";

TDialogDescriptor WarningDescriptor(std::uint32_t site) {
  return TDialogDescriptor{0, site, 1, kDialogButtonsIgnoreOnceIgnoreAlwaysQuit, kQuitGameCaption, 0};
}

// %1 is the offending unit, %2 the format text after it.
template <typename CharT>
void ReportBadPlaceholder(const CharT* unit, std::uint32_t site) {
  const CharT* rest = unit + 1;
  const TStringStreamableImpl<const CharT> unitArgument(*unit);
  const TStringStreamableImpl<const CharT* const> restArgument(rest);
  const TStringStreamable* arguments[] = {&unitArgument, &restArgument};
  const TDialogDescriptor descriptor = WarningDescriptor(site);
  OrvDialog(&descriptor, kBadPlaceholderFormat, arguments, 2);
}

// %1 is the format text after the digit.
template <typename CharT>
void ReportMissingArgument(const CharT* rest, std::uint32_t site) {
  const TStringStreamableImpl<const CharT* const> restArgument(rest);
  const TStringStreamable* arguments[] = {&restArgument};
  const TDialogDescriptor descriptor = WarningDescriptor(site);
  OrvDialog(&descriptor, kMissingArgumentFormat, arguments, 1);
}

[[noreturn]] void ThrowPlaceholderZero() { throw EException(TOrvString<wchar_t>(kPlaceholderZeroMessage)); }

template <typename CharT>
bool IsArgumentDigit(CharT unit) {
  return unit >= CharT('1') && unit <= CharT('9');
}

template <typename CharT>
std::uint32_t FormatIntoBuffer(CharT* output, std::uint32_t capacity, const CharT* format,
                               const TStringStreamable* const* arguments, std::uint32_t count) {
  if (capacity == 0) return 0;
  // 64 bits: a narrow argument that did not fit adds the whole length it needed.
  std::uint64_t n = 0;
  bool afterPercent = false;
  for (const CharT* p = format; p != nullptr && *p != CharT(); ++p) {
    if (n + 1 >= capacity) {
      output[capacity - 1] = CharT();
      return capacity;
    }
    const CharT unit = *p;
    if (!afterPercent) {
      if (unit == CharT('%')) {
        afterPercent = true;
      } else {
        output[n++] = unit;
      }
      continue;
    }
    afterPercent = false;
    if (unit == CharT('%')) {
      output[n++] = unit;
    } else if (IsArgumentDigit(unit)) {
      const std::uint32_t k = static_cast<std::uint32_t>(unit - CharT('1'));
      if (k < count) {
        const int written = arguments[k]->PrintTo(output + n, static_cast<std::uint32_t>(capacity - n));
        if (written < 0) {
          output[capacity - 1] = CharT();
          return capacity;
        }
        n += static_cast<std::uint64_t>(written);
      } else {
        ReportMissingArgument(p + 1, kMissingArgumentBufferDialogId);
      }
    } else if (unit == CharT('0')) {
      ThrowPlaceholderZero();
    } else {
      ReportBadPlaceholder(p, kBadPlaceholderBufferDialogId);
      output[n] = CharT('%');
      if (n + 2 < capacity) {
        output[n + 1] = unit;
        n += 2;
      } else {
        n += 1;
      }
    }
  }
  if (n < capacity) {
    output[n] = CharT();
    return static_cast<std::uint32_t>(n);
  }
  output[capacity - 1] = CharT();
  return capacity;
}

template <typename CharT>
TOrvString<CharT> FormatIntoString(const CharT* format, const TStringStreamable* const* arguments,
                                   std::uint32_t count, TStreamManipulator manipulator) {
  basic_ostringstream<CharT> stream;
  if (manipulator != nullptr) manipulator(stream);
  bool afterPercent = false;
  for (const CharT* p = format; p != nullptr && *p != CharT(); ++p) {
    const CharT unit = *p;
    if (!afterPercent) {
      if (unit == CharT('%')) {
        afterPercent = true;
      } else {
        stream.put(unit);
      }
      continue;
    }
    afterPercent = false;
    if (unit == CharT('%')) {
      stream.put(unit);
    } else if (IsArgumentDigit(unit)) {
      const std::uint32_t k = static_cast<std::uint32_t>(unit - CharT('1'));
      if (k < count) {
        arguments[k]->StreamTo(stream);
      } else {
        ReportMissingArgument(p + 1, kMissingArgumentStringDialogId);
      }
    } else if (unit == CharT('0')) {
      ThrowPlaceholderZero();
    } else {
      ReportBadPlaceholder(p, kBadPlaceholderStringDialogId);
      stream.put(CharT('%'));
      stream.put(unit);
    }
  }
  return TOrvString<CharT>(stream.str());
}

}  // namespace

std::ios_base& KeepStreamAsIs(std::ios_base& stream) { return stream; }

std::uint32_t Format(wchar_t* output, std::uint32_t capacity, const wchar_t* format,
                     const TStringStreamable* const* arguments, std::uint32_t count) {
  return FormatIntoBuffer(output, capacity, format, arguments, count);
}

std::uint32_t Format(char* output, std::uint32_t capacity, const char* format,
                     const TStringStreamable* const* arguments, std::uint32_t count) {
  return FormatIntoBuffer(output, capacity, format, arguments, count);
}

TOrvString<char> Format(const char* format, const TStringStreamable* const* arguments, std::uint32_t count,
                        TStreamManipulator manipulator) {
  return FormatIntoString(format, arguments, count, manipulator);
}

TOrvString<wchar_t> Format(const wchar_t* format, const TStringStreamable* const* arguments, std::uint32_t count,
                           TStreamManipulator manipulator) {
  return FormatIntoString(format, arguments, count, manipulator);
}

}  // namespace Orvan
