// TFileName, the engine's one file-name type: a mounting point (a token of the mounting-point
// names table, 0 for none) and a node of the file-name tree, so that equal paths share one node.
// Copying a name adds one atomic reference to its node, comparing two for equality compares two
// words; texts are rebuilt from the interned component names when asked for.
#pragma once

#include <cstdint>
#include <ostream>
#include <utility>

#include "core/filesystem/file_extension.h"
#include "core/filesystem/file_name_registry.h"
#include "core/numbers/md5.h"
#include "core/text/engine_string.h"
#include "core/text/string_streamable.h"

namespace Orvan {

// The mounting-point id of a name of the mounting-point names table: the text up to its first
// ':' (the whole text when it has none), interned without regard to case. "" gives 0, no
// mounting point.
std::uint16_t ParseMountingPoint(const char* text);
std::uint16_t ParseMountingPoint(const TOrvString<char>& text);

class TFileName {
 public:
  // ---- Values. The empty name (no path, no mounting point) is the default.
  TFileName() noexcept = default;
  TFileName(const TFileName& other) noexcept : node_(other.node_), mountingPoint_(other.mountingPoint_) {
    TFileNameRegistry::AddReference(node_);
  }
  TFileName(TFileName&& other) noexcept : node_(other.node_), mountingPoint_(other.mountingPoint_) {
    other.node_ = nullptr;
  }
  // Parses "mounting point:path" (see Parse below). A null text is the empty name.
  explicit TFileName(const char* text);
  explicit TFileName(const TOrvString<char>& text);
  explicit TFileName(const TOrvSubString<char>& text);
  // A node handle with one more reference.
  TFileName(std::uint16_t mountingPoint, TPathNode* node) noexcept : node_(node), mountingPoint_(mountingPoint) {
    TFileNameRegistry::AddReference(node_);
  }
  // head / tail with head's mounting point.
  TFileName(const TFileName& head, const TFileName& tail);
  // The name's path with the given mounting point.
  TFileName(std::uint16_t mountingPoint, const TFileName& name) noexcept : TFileName(mountingPoint, name.node_) {}
  // Releases the node while the registry exists; once it is gone, does nothing.
  ~TFileName() {
    if (node_ != nullptr) {
      if (TFileNameRegistry* registry = TFileNameRegistry::Get()) registry->ReleaseNode(node_);
    }
  }

  TFileName& operator=(const TFileName& other) noexcept {
    mountingPoint_ = other.mountingPoint_;
    AssignNode(other);
    return *this;
  }
  TFileName& operator=(TFileName&& other) noexcept {
    TFileName moved(std::move(other));
    Swap(moved);
    return *this;
  }
  // Takes the other's node (not its mounting point).
  void AssignNode(const TFileName& other) noexcept;
  void Swap(TFileName& other) noexcept {
    std::swap(node_, other.node_);
    std::swap(mountingPoint_, other.mountingPoint_);
  }

  // Equal names have the same node (letter case ignored) and the same mounting point.
  bool operator==(const TFileName& other) const noexcept {
    return node_ == other.node_ && mountingPoint_ == other.mountingPoint_;
  }
  bool operator!=(const TFileName& other) const noexcept { return !(*this == other); }

  TPathNode* GetNode() const noexcept { return node_; }
  std::uint16_t GetMountingPoint() const noexcept { return mountingPoint_; }
  void SetMountingPoint(std::uint16_t mountingPoint) noexcept { mountingPoint_ = mountingPoint; }
  bool HasMountingPoint() const noexcept { return mountingPoint_ != 0; }
  bool IsEmpty() const noexcept { return node_ == nullptr; }

  // ---- Parsing. The path is cut at every '\' and '/'; empty pieces and "." are dropped; ".."
  // removes the piece before it unless there is none or that one is ".." too. A piece holding a
  // byte outside 0x01-0x7F, or one of " * : < > ? |, throws EInvalidFileName for that piece.
  // The node of a path text without a mounting point, with one reference for the caller; null
  // for a path without components.
  static TPathNode* ParsePath(TCharRange<char> path);
  static TPathNode* ParsePath(const TOrvSubString<char>& path);

  // ---- Components, walked from the node up without the lock.
  std::uint32_t GetComponentCount() const noexcept;
  // The ids root side first into an empty list; nothing for the empty name.
  void GetComponents(TComponentList& components) const;
  // The id at a depth (0: the first below the root), below GetComponentCount.
  std::uint32_t GetComponentId(std::uint32_t depth) const noexcept;
  // The id of the last component. The empty name has none: the misuse is reported as an engine
  // assertion and the answer is kNoComponentId.
  std::uint32_t GetLastComponent() const;
  bool ContainsComponent(std::uint32_t id) const noexcept;
  // The name of the component at an index; empty when the path is not that long.
  TOrvString<char> GetComponent(std::uint32_t index) const;
  // Whether a component of this name (letter case ignored) is on the path.
  bool ContainsComponentName(const TOrvString<char>& name) const;
  // Fewer components, all of them this name's leading ones (mounting points ignored).
  bool IsStrictAncestorOf(const TFileName& other) const noexcept;
  // Every component of the other is one of this name's leading ones.
  bool IsSameOrDescendantOf(const TFileName& other) const noexcept;

  // ---- Building paths.
  // Replaces the path with exactly these ids below the root (none: the empty path).
  void SetComponents(const TComponentList& components);
  // Extends the path by these ids.
  void AppendComponents(const TComponentList& components);
  // this / tail; the tail's mounting point is ignored. When ".." ends up after a component, the
  // pair goes (a trailing ".." is kept).
  void Append(const TFileName& tail);
  // head / this; this keeps its mounting point.
  void Prepend(const TFileName& head);
  // Renames the last component: its name followed by the suffix, interned without validation. The
  // empty name has no last component: the misuse is reported and nothing changes.
  void AppendToLastComponent(const char* suffix, std::uint32_t count);
  void AppendToLastComponent(const char* suffix);

  // A text without separators goes onto the last component (the empty name parses it); a text
  // with one is parsed after the name's text form.
  static TFileName AppendText(const TFileName& name, const TOrvString<char>& text);
  // The name without its last n components (n up to the count), with its mounting point.
  static TFileName WithoutLastComponents(const TFileName& name, std::uint32_t n);
  // The name's components from index n on (n up to the count), with the given mounting point.
  static TFileName WithoutFirstComponents(const TFileName& name, std::uint16_t mountingPoint, std::uint32_t n);
  // The last component alone, directly below the root, without a mounting point.
  static TFileName GetLeafName(const TFileName& name);
  // The name without its last component.
  TFileName GetParent() const { return WithoutLastComponents(*this, IsEmpty() ? 0 : 1); }
  // A copy of a bare node handle followed by the tail's components, without a mounting point.
  static TFileName AppendToNode(TPathNode* node, const TFileName& tail);
  // Whether the name starts with the pattern: every pattern component but the last equal, and the
  // name's component at the last one's index beginning with it (letter case ignored). An empty
  // pattern matches everything.
  static bool MatchesPrefix(const TFileName& pattern, const TFileName& name);

  // ---- Extensions: the part of the last component after its last '.'. The empty name has none.
  bool HasExtension() const;
  // Whether that part equals the extension's text, letter case ignored.
  bool HasExtension(TFileExtension extension) const;
  // The last component's name up to its last '.'; the whole name without one.
  TOrvString<char> GetNameWithoutExtension() const;
  // The extension, registered when new.
  TFileExtension GetExtension() const;
  void SplitNameAndExtension(TOrvString<char>& name, TFileExtension& extension) const;
  // The name with "." and the extension's text appended to its last component (nothing for no
  // extension); the empty name gives the name parsed from the extension's text.
  static TFileName AddExtension(const TFileName& name, TFileExtension extension);
  // The name with its extension replaced; a last component that is all extension keeps an empty
  // stem (a/.hidden gives a/.dds).
  static TFileName ChangeExtension(const TFileName& name, TFileExtension extension);
  // The last component replaced by the new name followed by the old extension.
  static TFileName ReplaceName(const TFileName& name, const TOrvString<char>& newName);

  // ---- Texts. The text form is the mounting point's name, ':' and the separator, then the path
  // joined by the separator; without a mounting point, the path alone. The buffer forms write at
  // most size - 1 characters and a NUL (nothing for size 0) and return the length written.
  std::uint32_t GetText(char* buffer, std::uint32_t size) const { return GetText(buffer, size, '/'); }
  std::uint32_t GetText(char* buffer, std::uint32_t size, char separator) const;
  // The path alone.
  std::uint32_t GetPathText(char* buffer, std::uint32_t size, char separator) const;
  std::uint32_t WriteText(char* buffer, std::uint32_t size) const { return GetPathText(buffer, size, '/'); }
  TOrvString<char> ToString() const { return ToString('/'); }
  TOrvString<char> ToString(char separator) const;
  TOrvString<wchar_t> ToWideString() const;
  // The path alone.
  TOrvString<char> JoinComponents(char separator) const;
  TOrvString<char> ToSlashString() const { return JoinComponents('/'); }

  // ---- Order. operator< orders paths only: the same node is not less, a proper prefix sorts
  // first, else the first differing component names decide, letter case ignored.
  friend bool operator<(const TFileName& a, const TFileName& b);
  // Mounting points first (their names, letter case ignored), then the paths.
  static bool Compare(const TFileName& a, const TFileName& b);

  // ---- Digests.
  // The word 0xFACAB0B0 as 4 little-endian bytes, then every component id as 4 little-endian
  // bytes from the last component up to the first.
  void AddToDigest(TMD5& digest) const;
  // The mounting point as 2 little-endian bytes, then AddToDigest.
  void AddToDigestWithMountingPoint(TMD5& digest) const;
  // MD5 of the path joined by '\' with ASCII letters lowered.
  TMD5Digest ComputeTextDigest() const;

 private:
  // A name taking over a reference the caller holds.
  static TFileName Adopt(TPathNode* node, std::uint16_t mountingPoint) noexcept;
  static TFileName Parse(const char* begin, const char* end);

  TPathNode* node_ = nullptr;
  std::uint16_t mountingPoint_ = 0;
};

// A node handle with one more reference, as a file name.
inline TFileName MakeFileName(TPathNode* node, std::uint16_t mountingPoint) noexcept {
  return TFileName(mountingPoint, node);
}

// CRC-64 of the path joined by '\' with ASCII letters lowered; 0 for the empty path.
std::uint64_t Crc64OfLowerCasePath(const TFileName& name);

// Writes the text form, decoded from UTF-8 (a malformed text writes nothing).
std::wostream& WriteFileNameToWideStream(std::wostream& stream, const TFileName& name);

// A file name as a formatting argument: its text form.
template <>
class TStringStreamableImpl<const TFileName, void> : public TStringStreamableThroughStream {
 public:
  // Narrow streams get the text form cut to this many characters.
  static constexpr std::uint32_t kNarrowTextBytes = 1024;

  explicit TStringStreamableImpl(const TFileName& name) : name_(&name) {}
  std::ostream& StreamTo(std::ostream& stream) const override;
  std::wostream& StreamTo(std::wostream& stream) const override;

 private:
  const TFileName* name_;
};

}  // namespace Orvan
