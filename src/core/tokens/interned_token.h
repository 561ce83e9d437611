// TInternedToken, the value the engine passes around in place of a text of one kind: only the id
// the kind's table gave the text. Copying and comparing tokens for equality never touch text; the
// text operations read the table without a lock, under the table's case rule.
#pragma once

#include <cstdint>
#include <utility>

#include "core/containers/engine_vector.h"
#include "core/tokens/interned_token_table.h"

namespace Orvan {

namespace TokenDetail {

// The text operations shared by every token type of one case rule.
std::uint32_t CopyText(const TTokenText& text, char* buffer) noexcept;
bool TextLess(const TTokenText& a, const TTokenText& b, ETokenCaseRule rule) noexcept;
bool TextEquals(const TTokenText& text, const char* other, ETokenCaseRule rule) noexcept;
bool TextEquals(const TTokenText& text, const TTokenText& other, ETokenCaseRule rule) noexcept;

}  // namespace TokenDetail

template <typename TTable>
class TInternedToken {
 public:
  using TTableType = TTable;
  using TId = typename TTable::TId;
  static constexpr ETokenCaseRule kCaseRule = TTable::kCaseRule;

  // ---- Values: id 0 is the empty text. A token holds no reference into its table and may
  // outlive it; only its text operations need the table.
  constexpr TInternedToken() noexcept = default;
  // Each of these interns its key (see TInternedTokenTable::Intern).
  explicit TInternedToken(const char* text) : id_(TTable::Intern(text)) {}
  explicit TInternedToken(TTokenRange range) : id_(TTable::Intern(range)) {}
  explicit TInternedToken(const TTokenText& text) : id_(TTable::Intern(text)) {}
  // The token of an id the table issued (ids kept as plain integers, e.g. in file names).
  static constexpr TInternedToken FromId(TId id) noexcept {
    TInternedToken token;
    token.id_ = id;
    return token;
  }

  constexpr TId GetId() const noexcept { return id_; }
  constexpr bool IsEmpty() const noexcept { return id_ == 0; }
  void Swap(TInternedToken& other) noexcept { std::swap(id_, other.id_); }
  friend void swap(TInternedToken& a, TInternedToken& b) noexcept { a.Swap(b); }
  constexpr bool operator==(const TInternedToken& other) const noexcept { return id_ == other.id_; }
  constexpr bool operator!=(const TInternedToken& other) const noexcept { return id_ != other.id_; }

  // ---- Text: no lock, no checks; the table must be live and the id issued by it.
  const TTokenText* GetTextSlot() const noexcept { return TTable::GetEntry(id_); }
  const char* c_str() const noexcept { return TTable::GetText(id_); }
  // Writes the text and its NUL (length + 1 bytes; the buffer is not checked) and returns the
  // length, so a caller may go on writing over the NUL.
  std::uint32_t CopyText(char* buffer) const noexcept { return TokenDetail::CopyText(*GetTextSlot(), buffer); }
  // Whether this token's text orders strictly before the other's under the case rule. The empty
  // token orders first; the same object is never before itself.
  bool Compare(const TInternedToken& other) const noexcept {
    if (this == &other) return false;
    return TokenDetail::TextLess(*GetTextSlot(), *other.GetTextSlot(), kCaseRule);
  }
  // A null text counts as "".
  bool operator==(const char* text) const noexcept {
    if (id_ == 0 && (text == nullptr || *text == '\0')) return true;
    return TokenDetail::TextEquals(*GetTextSlot(), text, kCaseRule);
  }
  bool operator!=(const char* text) const noexcept { return !(*this == text); }
  bool operator==(const TTokenText& text) const noexcept {
    return TokenDetail::TextEquals(*GetTextSlot(), text, kCaseRule);
  }
  bool operator!=(const TTokenText& text) const noexcept { return !(*this == text); }

  // ---- The table's parts (no lock). Null while the table does not exist.
  static typename TTable::TTextMap* GetMap() noexcept { return TTable::GetMap(); }
  static TInternedTokenPages* GetPages() noexcept { return TTable::GetPages(); }
  static TMutex* GetMutex() noexcept { return TTable::GetMutex(); }
  // A live table only: ids issued so far (1 right after creation), and the slot of an id below it.
  static std::uint32_t GetCount() noexcept { return TTable::GetCount(); }
  static const TTokenText* GetEntry(std::uint32_t id) noexcept { return TTable::GetEntry(id); }

 private:
  TId id_ = 0;
};

// Appends the token of a text (NUL-terminated, a range or an engine string) to a vector of tokens:
// the vector grows first (by the engine's growth rule), then the token is interned into its place.
template <typename TToken, typename TStorage, typename TText>
TToken& AppendToken(TVector<TToken, TStorage>& tokens, const TText& text) {
  if (tokens.GetSize() == tokens.GetCapacity()) tokens.Grow();
  tokens.PushBack(TToken(text));
  return tokens.Back();
}

}  // namespace Orvan
