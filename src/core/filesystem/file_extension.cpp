// The file-extension registry and the texts of extension ids.
#include "core/filesystem/file_extension.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

namespace Orvan {

namespace {

// The id of "*", registered by the first Matches that needs it: 0 not yet, 1 being registered,
// 2 ready.
std::atomic<std::uint32_t> g_starState{0};
std::uint32_t g_starId = TFileExtension::kNone;

constexpr std::uint32_t kStarNotRegistered = 0;
constexpr std::uint32_t kStarRegistering = 1;
constexpr std::uint32_t kStarReady = 2;

// Copies at most size - 1 characters of [text, text + length) to `buffer` + `offset` and
// terminates; returns the characters copied.
std::uint32_t CopyCut(char* buffer, std::uint32_t size, std::uint32_t offset, const char* text, std::uint32_t length) {
  const std::uint32_t room = size - 1 - offset;
  const std::uint32_t count = length < room ? length : room;
  if (count != 0) std::memcpy(buffer + offset, text, count);
  buffer[offset + count] = '\0';
  return count;
}

}  // namespace

void TFileExtensionRegistry::Create() {
  auto mutex = std::make_unique<TMutex>();
  auto map = std::make_unique<TStringNoCaseToU32Map>();
  auto texts = std::make_unique<TTextList>();
  g_mutex = mutex.release();
  g_map = map.release();
  g_texts = texts.release();
}

void DestroyFileExtensionRegistry() noexcept {
  delete TFileExtensionRegistry::g_mutex;
  delete TFileExtensionRegistry::g_map;
  delete TFileExtensionRegistry::g_texts;
  TFileExtensionRegistry::g_mutex = nullptr;
  TFileExtensionRegistry::g_map = nullptr;
  TFileExtensionRegistry::g_texts = nullptr;
  g_starId = TFileExtension::kNone;
  g_starState.store(kStarNotRegistered, std::memory_order_release);
}

TFileExtension TFileExtension::Register(const TOrvSubString<char>& text) {
  TOrvSubString<char> name = text;
  if (name.IsEmpty() || (name.GetLength() == 1 && name[0] == '.')) return TFileExtension();
  if (name[0] == '.') name = TOrvSubString<char>(name, 1, name.GetLength());

  TMutexLocker lock(TFileExtensionRegistry::GetMutex());
  TStringNoCaseToU32Map& map = *TFileExtensionRegistry::GetMap();
  TFileExtensionRegistry::TTextList& texts = *TFileExtensionRegistry::GetTexts();
  if (const auto* entry = map.Find(name)) return FromId(entry->value);

  const std::uint32_t id = texts.GetSize();
  TOrvString<char> stored = name.ToString();
  texts.PushBack(stored);
  try {
    map.InsertNew(stored, id);
  } catch (...) {
    texts.PopBack();
    throw;
  }
  return FromId(id);
}

TFileExtension TFileExtension::Register(const TOrvString<char>& text) {
  return Register(TOrvSubString<char>(text));
}

bool TFileExtension::Matches(TFileExtension value, TFileExtension pattern) {
  if (pattern == value) return true;
  for (;;) {
    std::uint32_t state = g_starState.load(std::memory_order_acquire);
    if (state == kStarReady) break;
    if (state == kStarNotRegistered &&
        g_starState.compare_exchange_strong(state, kStarRegistering, std::memory_order_acquire)) {
      try {
        g_starId = Register(TOrvString<char>("*")).GetId();
      } catch (...) {
        // Another caller may try again; none is left waiting on a registration that never ends.
        g_starState.store(kStarNotRegistered, std::memory_order_release);
        throw;
      }
      g_starState.store(kStarReady, std::memory_order_release);
      break;
    }
    std::this_thread::yield();
  }
  return pattern.id_ == g_starId;
}

TOrvString<char> TFileExtension::GetName() const {
  if (IsNone()) return TOrvString<char>();
  TMutexLocker lock(TFileExtensionRegistry::GetMutex());
  return (*TFileExtensionRegistry::GetTexts())[id_];
}

TOrvString<char> TFileExtension::ToString() const {
  if (IsNone()) return TOrvString<char>();
  TMutexLocker lock(TFileExtensionRegistry::GetMutex());
  return TOrvString<char>(".") + (*TFileExtensionRegistry::GetTexts())[id_];
}

std::uint32_t TFileExtension::GetText(char* buffer, std::uint32_t size) const {
  if (size == 0) return 0;
  if (IsNone()) {
    buffer[0] = '\0';
    return 0;
  }
  TMutexLocker lock(TFileExtensionRegistry::GetMutex());
  const TOrvString<char>& text = (*TFileExtensionRegistry::GetTexts())[id_];
  const std::uint32_t dot = CopyCut(buffer, size, 0, ".", 1);
  return dot + CopyCut(buffer, size, dot, text.GetData(), text.GetLength());
}

std::uint32_t TFileExtension::GetTextWithoutDot(char* buffer, std::uint32_t size) const {
  if (IsNone() || size == 0) return 0;
  TMutexLocker lock(TFileExtensionRegistry::GetMutex());
  const TOrvString<char>& text = (*TFileExtensionRegistry::GetTexts())[id_];
  return CopyCut(buffer, size, 0, text.GetData(), text.GetLength());
}

bool TFileExtension::EqualsNoCase(const char* text) const {
  return EqualsNoCase(TCharRange<char>{text, text + std::strlen(text)});
}

bool TFileExtension::EqualsNoCase(TCharRange<char> text) const {
  const std::uint32_t length = text.begin == nullptr ? 0 : static_cast<std::uint32_t>(text.end - text.begin);
  if (IsNone()) return length == 0;
  TMutexLocker lock(TFileExtensionRegistry::GetMutex());
  const TOrvString<char>& stored = (*TFileExtensionRegistry::GetTexts())[id_];
  if (stored.GetLength() != length) return false;
  const char* a = stored.GetData();
  for (std::uint32_t i = 0; i < length; ++i) {
    if (FoldAsciiLower(a[i]) != FoldAsciiLower(text.begin[i])) return false;
  }
  return true;
}

TFileExtension GetExtensionOfText(const TOrvString<char>& text) {
  return TFileExtension::Register(ExtractExtension(TOrvSubString<char>(text)));
}

}  // namespace Orvan
