// Fuzz target of positional formatting. Input: a narrow capacity byte, a wide capacity byte, then
// the format text and up to nine argument texts separated by NUL bytes. Both buffer variants run
// with those capacities and guard units behind them, the engine-string variants run unbounded.
// A write past a capacity, a result above it, or an output that is not terminated aborts; "%0"
// may throw EException.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "core/diagnostics/engine_exception.h"
#include "core/text/positional_format.h"
#include "support/engine_test_environment.h"
#include "support/fuzz_check.h"

namespace {

using namespace Orvan;

constexpr std::size_t kGuardUnits = 16;
constexpr char kGuard = '\x5A';
constexpr wchar_t kWideGuard = L'\x5A5A';

using OrvTest::FuzzCheck;

// Argument k takes one of several adapter kinds, so that direct prints, prints through a stream
// and the conversions between widths all run.
class TArguments {
 public:
  explicit TArguments(const std::vector<std::string>& texts) {
    for (std::size_t k = 0; k < texts.size(); ++k) {
      const std::string& text = texts[k];
      narrowTexts_.push_back(std::make_unique<TOrvString<char>>(text.c_str()));
      std::wstring wide;
      for (unsigned char c : text) wide.push_back(static_cast<wchar_t>(c) | (c >= 0xD8 ? 0xD800 : 0));
      wideTexts_.push_back(std::make_unique<TOrvString<wchar_t>>(wide.c_str()));
      switch (k % 6) {
        case 0:
          adapters_.push_back(std::make_unique<TStringStreamableImpl<const char*>>(narrowTexts_.back()->c_str()));
          break;
        case 1:
          adapters_.push_back(std::make_unique<TStringStreamableImpl<const TOrvString<char>>>(*narrowTexts_.back()));
          break;
        case 2:
          adapters_.push_back(std::make_unique<TStringStreamableImpl<TOrvString<char>>>(*narrowTexts_.back()));
          break;
        case 3:
          adapters_.push_back(std::make_unique<TStringStreamableImpl<const TOrvString<wchar_t>>>(*wideTexts_.back()));
          break;
        case 4:
          adapters_.push_back(std::make_unique<TStringStreamableImpl<const long long>>(
              static_cast<long long>(std::strtoll(text.c_str(), nullptr, 10))));
          break;
        default:
          adapters_.push_back(
              std::make_unique<TStringStreamableImpl<const double>>(std::strtod(text.c_str(), nullptr)));
          break;
      }
      pointers_.push_back(adapters_.back().get());
    }
  }
  const TStringStreamable* const* Get() const { return pointers_.data(); }
  std::uint32_t Count() const { return static_cast<std::uint32_t>(pointers_.size()); }

 private:
  std::vector<std::unique_ptr<TOrvString<char>>> narrowTexts_;
  std::vector<std::unique_ptr<TOrvString<wchar_t>>> wideTexts_;
  std::vector<std::unique_ptr<TStringStreamable>> adapters_;
  std::vector<const TStringStreamable*> pointers_;
};

template <typename CharT>
void CheckBuffer(const std::vector<CharT>& buffer, std::uint32_t capacity, std::uint32_t result, CharT guard) {
  FuzzCheck(result <= capacity, "result above the capacity");
  for (std::size_t i = capacity; i < buffer.size(); ++i) FuzzCheck(buffer[i] == guard, "write past the capacity");
  if (capacity == 0) return;
  bool terminated = false;
  for (std::uint32_t i = 0; i < capacity && !terminated; ++i) terminated = buffer[i] == CharT();
  FuzzCheck(terminated, "output not terminated");
  FuzzCheck(buffer[result < capacity ? result : capacity - 1] == CharT(), "terminator not at the result");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OrvTest::StartEngineOnce();
  if (size < 2) return 0;
  const std::uint32_t narrowCapacity = data[0];
  const std::uint32_t wideCapacity = data[1];

  std::vector<std::string> pieces(1);
  for (std::size_t i = 2; i < size; ++i) {
    if (data[i] == 0) {
      if (pieces.size() == 10) break;
      pieces.emplace_back();
    } else {
      pieces.back().push_back(static_cast<char>(data[i]));
    }
  }
  const std::string format = pieces[0];
  // Wide units from the bytes, high bytes lifted into the surrogate range now and then.
  std::wstring wideFormat;
  for (unsigned char c : format) wideFormat.push_back(static_cast<wchar_t>(c) | (c >= 0xF0 ? 0xDC00 : 0));
  const TArguments arguments(std::vector<std::string>(pieces.begin() + 1, pieces.end()));

  try {
    std::vector<char> narrow(narrowCapacity + kGuardUnits, kGuard);
    const std::uint32_t result =
        Format(narrow.data(), narrowCapacity, format.c_str(), arguments.Get(), arguments.Count());
    CheckBuffer(narrow, narrowCapacity, result, kGuard);
  } catch (const EException&) {
  }
  try {
    std::vector<wchar_t> wide(wideCapacity + kGuardUnits, kWideGuard);
    const std::uint32_t result =
        Format(wide.data(), wideCapacity, wideFormat.c_str(), arguments.Get(), arguments.Count());
    CheckBuffer(wide, wideCapacity, result, kWideGuard);
  } catch (const EException&) {
  }
  try {
    Format(format.c_str(), arguments.Get(), arguments.Count());
  } catch (const EException&) {
  }
  try {
    Format(wideFormat.c_str(), arguments.Get(), arguments.Count());
  } catch (const EException&) {
  }
  return 0;
}
