// File extensions as small ids: the process-wide registry gives each extension text (without its
// dot, letter case ignored) the next id on first use and keeps the text of every id, so the engine
// stores and compares an extension as one word.
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/sync/mutex.h"
#include "core/text/engine_string.h"
#include "core/text/hash_functors.h"

namespace Orvan {

// The registry: three process-wide objects made together at start-up, after the file-name
// registry. Map and list hold the same texts: map entry id i has the text of list element i.
class TFileExtensionRegistry {
 public:
  using TTextList = TVector<TOrvString<char>>;

  // Once, at start-up. std::bad_alloc leaves no registry.
  static void Create();
  // Null before Create and after DestroyFileExtensionRegistry.
  static TMutex* GetMutex() noexcept { return g_mutex; }
  static TStringNoCaseToU32Map* GetMap() noexcept { return g_map; }
  static TTextList* GetTexts() noexcept { return g_texts; }

 private:
  friend void DestroyFileExtensionRegistry() noexcept;
  static inline TMutex* g_mutex = nullptr;
  static inline TStringNoCaseToU32Map* g_map = nullptr;
  static inline TTextList* g_texts = nullptr;
};

// Destroys the lock, the map and the list with their texts and clears the three pointers; the id
// of "*" kept by TFileExtension::Matches is forgotten with them.
void DestroyFileExtensionRegistry() noexcept;

class TFileExtension {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  constexpr TFileExtension() noexcept = default;
  static constexpr TFileExtension FromId(std::uint32_t id) noexcept {
    TFileExtension extension;
    extension.id_ = id;
    return extension;
  }

  constexpr std::uint32_t GetId() const noexcept { return id_; }
  constexpr bool IsNone() const noexcept { return id_ == kNone; }
  constexpr bool operator==(const TFileExtension& other) const noexcept { return id_ == other.id_; }
  constexpr bool operator!=(const TFileExtension& other) const noexcept { return id_ != other.id_; }

  // The id of an extension text, registered when new. One leading dot is dropped; the empty text
  // and "." alone are no extension.
  static TFileExtension Register(const TOrvString<char>& text);
  static TFileExtension Register(const TOrvSubString<char>& text);

  // Whether `pattern` is `value` or the extension "*".
  static bool Matches(TFileExtension value, TFileExtension pattern);

  // ---- Texts, read under the registry's lock.
  // The text without its dot; empty for no extension.
  TOrvString<char> GetName() const;
  // The text with its dot; empty for no extension.
  TOrvString<char> ToString() const;
  // Writes "." and the text, cut to size - 1 characters and NUL-terminated; returns the length
  // written. No extension writes "" (when size > 0) and returns 0.
  std::uint32_t GetText(char* buffer, std::uint32_t size) const;
  // Writes the text alone, cut and terminated the same way, and returns its length written; no
  // extension returns 0 and leaves the buffer as it was.
  std::uint32_t GetTextWithoutDot(char* buffer, std::uint32_t size) const;
  // For no extension, whether the text is ""; otherwise the stored text against it, letter case
  // ignored. The text must not be null.
  bool EqualsNoCase(const char* text) const;
  // The same against [begin, end).
  bool EqualsNoCase(TCharRange<char> text) const;

 private:
  std::uint32_t id_ = kNone;
};

// The extension of a plain text: the part after its last '.', whatever separators stand in it.
TFileExtension GetExtensionOfText(const TOrvString<char>& text);

}  // namespace Orvan
