// File names: parsing texts into tree nodes, walking and combining paths, and the last component's
// name and extension.
#include "core/filesystem/file_name.h"

#include <cstring>

#include "core/diagnostics/assertion.h"
#include "core/filesystem/file_name_errors.h"
#include "core/tokens/token_tables.h"

namespace Orvan {

static_assert(sizeof(TFileName) == 16, "a node pointer and a 16-bit mounting point");

namespace {

// AppendToLastComponent builds names up to this long on the stack, longer ones on the heap.
constexpr std::uint32_t kAppendBufferChars = 254;

TFileNameRegistry& Registry() noexcept { return *TFileNameRegistry::Get(); }

// The node of start / [first, last) with one reference for the caller; the range is not empty.
// Each step down holds the node it leaves through its new child, so the walk's own reference on
// it can go with a plain decrement.
TPathNode* WalkDown(TFileNameRegistry& registry, TPathNode* start, const std::uint32_t* first,
                    const std::uint32_t* last) {
  TPathNode* node = registry.FindOrCreateChild(start, *first);
  try {
    for (const std::uint32_t* id = first + 1; id != last; ++id) {
      TPathNode* child = registry.FindOrCreateChild(node, *id);
      node->count.fetch_sub(1, std::memory_order_release);
      node = child;
    }
  } catch (...) {
    registry.ReleaseNode(node);
    throw;
  }
  return node;
}

// The node `steps` parents up; null when that is the root.
TPathNode* Ancestor(TPathNode* node, std::uint32_t steps) noexcept {
  for (; steps != 0; --steps) node = node->parent;
  return node->parent == nullptr ? nullptr : node;
}

// Position of the last '.' of a view, or -1.
std::int32_t LastDot(const TOrvSubString<char>& view) noexcept {
  for (std::uint32_t i = view.GetLength(); i > 0; --i) {
    if (view[i - 1] == '.') return static_cast<std::int32_t>(i - 1);
  }
  return -1;
}

void ReportEmptyName(const char* file, std::uint32_t line, const char* message) {
  ReportAssertionFailure(file, line, "!IsEmpty()", message);
}

// Drops each ".." together with the component before it unless that one is ".." too; a ".." in
// the last position stays.
void RemoveDotDotPairs(TComponentList& components, std::uint32_t dotDot) {
  const std::uint32_t size = components.GetSize();
  std::uint32_t kept = 0;
  for (std::uint32_t i = 0; i < size; ++i) {
    const std::uint32_t id = components[i];
    if (id == dotDot && i + 1 != size && kept != 0 && components[kept - 1] != dotDot) {
      --kept;
      continue;
    }
    components[kept++] = id;
  }
  while (components.GetSize() > kept) components.PopBack();
}

void AppendRange(TComponentList& list, const std::uint32_t* first, const std::uint32_t* last) {
  for (const std::uint32_t* id = first; id != last; ++id) list.PushBack(*id);
}

// Parses one piece between separators into the list.
void AddParsedComponent(TFileNameRegistry& registry, TComponentList& components, const char* begin, const char* end) {
  if (begin == end) return;
  CheckFileNameComponent({begin, end});
  const std::size_t length = static_cast<std::size_t>(end - begin);
  if (length == 1 && begin[0] == '.') return;
  if (length == 2 && begin[0] == '.' && begin[1] == '.') {
    const std::uint32_t dotDot = registry.GetDotDotId();
    if (!components.IsEmpty() && components.Back() != dotDot) {
      components.PopBack();
    } else {
      components.PushBack(dotDot);
    }
    return;
  }
  components.PushBack(registry.InternComponentName(TCharRange<char>{begin, end}));
}

// The text before the first ':' and the path after it; without one, no mounting point.
struct TSplitText {
  TCharRange<char> mountingPoint;
  TCharRange<char> path;
  bool hasMountingPoint;
};

TSplitText SplitAtMountingPoint(const char* begin, const char* end) {
  for (const char* c = begin; c != end; ++c) {
    if (*c == ':') return {{begin, c}, {c + 1, end}, true};
  }
  return {{}, {begin, end}, false};
}

std::uint16_t InternMountingPoint(TCharRange<char> name) {
  if (name.begin == nullptr || name.begin == name.end) return 0;
  return TMountingPointToken(name).GetId();
}

}  // namespace

// ---- Mounting points and parsing

std::uint16_t ParseMountingPoint(const char* text) {
  if (text == nullptr) return 0;
  const char* end = text + std::strlen(text);
  const TSplitText split = SplitAtMountingPoint(text, end);
  return InternMountingPoint(split.hasMountingPoint ? split.mountingPoint : split.path);
}

std::uint16_t ParseMountingPoint(const TOrvString<char>& text) {
  return ParseMountingPoint(text.GetData());
}

TPathNode* TFileName::ParsePath(TCharRange<char> path) {
  if (path.begin == nullptr || path.begin >= path.end) return nullptr;
  TFileNameRegistry& registry = Registry();
  TComponentList components;
  const char* piece = path.begin;
  for (const char* c = path.begin;; ++c) {
    if (c == path.end || *c == '/' || *c == '\\') {
      AddParsedComponent(registry, components, piece, c);
      if (c == path.end) break;
      piece = c + 1;
    }
  }
  if (components.IsEmpty()) return nullptr;
  return WalkDown(registry, registry.GetRoot(), components.begin(), components.end());
}

TPathNode* TFileName::ParsePath(const TOrvSubString<char>& path) {
  if (path.IsEmpty()) return nullptr;
  return ParsePath(TCharRange<char>{path.GetData(), path.GetDataEnd()});
}

TFileName TFileName::Adopt(TPathNode* node, std::uint16_t mountingPoint) noexcept {
  TFileName name;
  name.node_ = node;
  name.mountingPoint_ = mountingPoint;
  return name;
}

TFileName TFileName::Parse(const char* begin, const char* end) {
  const TSplitText split = SplitAtMountingPoint(begin, end);
  // The path first: the mounting-point table's lock is taken only once the tree's is released. A
  // failure there gives the node back through the name's destructor.
  TFileName name = Adopt(ParsePath(split.path), 0);
  if (split.hasMountingPoint) name.mountingPoint_ = InternMountingPoint(split.mountingPoint);
  return name;
}

TFileName::TFileName(const char* text) {
  if (text != nullptr) *this = Parse(text, text + std::strlen(text));
}

TFileName::TFileName(const TOrvString<char>& text) {
  if (!text.IsEmpty()) *this = Parse(text.GetData(), text.GetData() + text.GetLength());
}

TFileName::TFileName(const TOrvSubString<char>& text) {
  if (!text.IsEmpty()) *this = Parse(text.GetData(), text.GetDataEnd());
}

TFileName::TFileName(const TFileName& head, const TFileName& tail) : TFileName(head) { Append(tail); }

void TFileName::AssignNode(const TFileName& other) noexcept {
  if (this == &other || node_ == other.node_) return;
  TFileNameRegistry::AddReference(other.node_);
  TPathNode* previous = node_;
  node_ = other.node_;
  if (previous != nullptr) Registry().ReleaseNode(previous);
}

// ---- Components

std::uint32_t TFileName::GetComponentCount() const noexcept {
  std::uint32_t count = 0;
  for (const TPathNode* node = node_; node != nullptr && node->parent != nullptr; node = node->parent) ++count;
  return count;
}

void TFileName::GetComponents(TComponentList& components) const {
  for (const TPathNode* node = node_; node != nullptr && node->parent != nullptr; node = node->parent) {
    components.PushBack(node->componentId);
  }
  const std::uint32_t size = components.GetSize();
  for (std::uint32_t i = 0; i < size / 2; ++i) std::swap(components[i], components[size - 1 - i]);
}

std::uint32_t TFileName::GetComponentId(std::uint32_t depth) const noexcept {
  const TPathNode* node = node_;
  for (std::uint32_t steps = GetComponentCount() - 1 - depth; steps != 0; --steps) node = node->parent;
  return node->componentId;
}

std::uint32_t TFileName::GetLastComponent() const {
  if (node_ == nullptr) {
    ReportEmptyName(__FILE__, __LINE__, "the empty file name has no last component");
    return kNoComponentId;
  }
  return node_->componentId;
}

bool TFileName::ContainsComponent(std::uint32_t id) const noexcept {
  for (const TPathNode* node = node_; node != nullptr && node->parent != nullptr; node = node->parent) {
    if (node->componentId == id) return true;
  }
  return false;
}

TOrvString<char> TFileName::GetComponent(std::uint32_t index) const {
  if (index >= GetComponentCount()) return TOrvString<char>();
  return Registry().GetComponentName(GetComponentId(index));
}

bool TFileName::ContainsComponentName(const TOrvString<char>& name) const {
  TFileNameRegistry& registry = Registry();
  if (!registry.ContainsComponentName(name)) return false;
  return ContainsComponent(registry.FindComponentId(name));
}

bool TFileName::IsStrictAncestorOf(const TFileName& other) const noexcept {
  const std::uint32_t count = GetComponentCount();
  const std::uint32_t otherCount = other.GetComponentCount();
  if (count >= otherCount) return false;
  if (count == 0) return true;
  return Ancestor(other.node_, otherCount - count) == node_;
}

bool TFileName::IsSameOrDescendantOf(const TFileName& other) const noexcept {
  const std::uint32_t count = GetComponentCount();
  const std::uint32_t otherCount = other.GetComponentCount();
  if (otherCount > count) return false;
  if (otherCount == 0) return true;
  return Ancestor(node_, count - otherCount) == other.node_;
}

// ---- Building paths

void TFileName::SetComponents(const TComponentList& components) {
  TPathNode* previous = node_;
  if (components.IsEmpty()) {
    node_ = nullptr;
  } else {
    TFileNameRegistry& registry = Registry();
    node_ = WalkDown(registry, registry.GetRoot(), components.begin(), components.end());
  }
  if (previous != nullptr) Registry().ReleaseNode(previous);
}

void TFileName::AppendComponents(const TComponentList& components) {
  if (components.IsEmpty()) return;
  TFileNameRegistry& registry = Registry();
  TPathNode* previous = node_;
  node_ = WalkDown(registry, previous != nullptr ? previous : registry.GetRoot(), components.begin(), components.end());
  if (previous != nullptr) registry.ReleaseNode(previous);
}

void TFileName::Append(const TFileName& tail) {
  if (tail.IsEmpty()) return;
  if (IsEmpty()) {
    AssignNode(tail);
    return;
  }
  TComponentList tailComponents;
  tail.GetComponents(tailComponents);
  const std::uint32_t dotDot = Registry().GetDotDotId();
  if (!tail.ContainsComponent(dotDot) && !ContainsComponent(dotDot)) {
    AppendComponents(tailComponents);
    return;
  }
  TComponentList components;
  GetComponents(components);
  AppendRange(components, tailComponents.begin(), tailComponents.end());
  RemoveDotDotPairs(components, dotDot);
  SetComponents(components);
}

void TFileName::Prepend(const TFileName& head) {
  if (head.IsEmpty()) return;
  const TFileName former(0, node_);
  AssignNode(head);
  Append(former);
}

void TFileName::AppendToLastComponent(const char* suffix, std::uint32_t count) {
  if (node_ == nullptr) {
    ReportEmptyName(__FILE__, __LINE__, "the empty file name has no last component to rename");
    return;
  }
  TFileNameRegistry& registry = Registry();
  std::uint32_t id;
  {
    TMutexLocker lock(registry.GetMutex());
    const TOrvSubString<char> name = registry.GetComponentView(node_->componentId);
    const std::uint32_t length = name.GetLength() + count;
    if (length <= kAppendBufferChars) {
      char buffer[kAppendBufferChars];
      if (name.GetLength() != 0) std::memcpy(buffer, name.GetData(), name.GetLength());
      if (count != 0) std::memcpy(buffer + name.GetLength(), suffix, count);
      id = registry.InternComponentName(TCharRange<char>{buffer, buffer + length});
    } else {
      TEngineStdString<char> text;
      text.reserve(length);
      text.append(name.GetData(), name.GetLength()).append(suffix, count);
      id = registry.InternComponentName(TCharRange<char>{text.data(), text.data() + length});
    }
  }
  TPathNode* sibling = registry.FindOrCreateChild(node_->parent, id);
  registry.ReleaseNode(node_);
  node_ = sibling;
}

void TFileName::AppendToLastComponent(const char* suffix) {
  AppendToLastComponent(suffix, static_cast<std::uint32_t>(std::strlen(suffix)));
}

TFileName TFileName::AppendText(const TFileName& name, const TOrvString<char>& text) {
  if (text.IsEmpty()) return name;
  if (text.Find('/') < 0 && text.Find('\\') < 0) {
    if (name.IsEmpty()) return TFileName(text);
    TFileName result(name);
    result.AppendToLastComponent(text.GetData(), text.GetLength());
    return result;
  }
  return TFileName(name.ToString() + text);
}

TFileName TFileName::WithoutLastComponents(const TFileName& name, std::uint32_t n) {
  const std::uint32_t count = name.GetComponentCount();
  if (n > count) {
    ReportAssertionFailure(__FILE__, __LINE__, "n <= GetComponentCount()", "more components removed than there are");
    n = count;
  }
  if (n == count) return TFileName(name.mountingPoint_, static_cast<TPathNode*>(nullptr));
  return TFileName(name.mountingPoint_, Ancestor(name.node_, n));
}

TFileName TFileName::WithoutFirstComponents(const TFileName& name, std::uint16_t mountingPoint, std::uint32_t n) {
  TComponentList components;
  name.GetComponents(components);
  if (n > components.GetSize()) {
    ReportAssertionFailure(__FILE__, __LINE__, "n <= GetComponentCount()", "more components removed than there are");
    n = components.GetSize();
  }
  TComponentList rest;
  AppendRange(rest, components.begin() + n, components.end());
  TFileName result;
  result.mountingPoint_ = mountingPoint;
  result.SetComponents(rest);
  return result;
}

TFileName TFileName::GetLeafName(const TFileName& name) {
  if (name.IsEmpty()) return TFileName();
  TFileNameRegistry& registry = Registry();
  return Adopt(registry.FindOrCreateChild(registry.GetRoot(), name.node_->componentId), 0);
}

TFileName TFileName::AppendToNode(TPathNode* node, const TFileName& tail) {
  TFileName result(0, node);
  result.Append(tail);
  return result;
}

bool TFileName::MatchesPrefix(const TFileName& pattern, const TFileName& name) {
  if (pattern.IsEmpty()) return true;
  if (name.IsEmpty()) return false;
  TComponentList patternComponents;
  TComponentList nameComponents;
  pattern.GetComponents(patternComponents);
  name.GetComponents(nameComponents);
  const std::uint32_t last = patternComponents.GetSize() - 1;
  if (nameComponents.GetSize() <= last) return false;
  for (std::uint32_t i = 0; i < last; ++i) {
    if (patternComponents[i] != nameComponents[i]) return false;
  }
  TFileNameRegistry& registry = Registry();
  TMutexLocker lock(registry.GetMutex());
  const TOrvSubString<char> prefix = registry.GetComponentView(patternComponents[last]);
  const TOrvSubString<char> component = registry.GetComponentView(nameComponents[last]);
  if (component.GetLength() < prefix.GetLength()) return false;
  return TOrvSubString<char>(component, 0, prefix.GetLength()).EqualsNoCase(prefix);
}

// ---- Extensions

bool TFileName::HasExtension() const {
  if (node_ == nullptr) return false;
  TFileNameRegistry& registry = Registry();
  TMutexLocker lock(registry.GetMutex());
  return LastDot(registry.GetComponentView(node_->componentId)) >= 0;
}

bool TFileName::HasExtension(TFileExtension extension) const {
  if (node_ == nullptr) return false;
  TFileNameRegistry& registry = Registry();
  TMutexLocker lock(registry.GetMutex());
  const TOrvSubString<char> text = ExtractExtension(registry.GetComponentView(node_->componentId));
  return extension.EqualsNoCase(TCharRange<char>{text.GetData(), text.GetDataEnd()});
}

TOrvString<char> TFileName::GetNameWithoutExtension() const {
  if (node_ == nullptr) return TOrvString<char>();
  TFileNameRegistry& registry = Registry();
  TMutexLocker lock(registry.GetMutex());
  const TOrvSubString<char> name = registry.GetComponentView(node_->componentId);
  const std::int32_t dot = LastDot(name);
  if (dot < 0) return name.ToString();
  return TOrvSubString<char>(name, 0, static_cast<std::uint32_t>(dot)).ToString();
}

TFileExtension TFileName::GetExtension() const {
  if (node_ == nullptr) return TFileExtension();
  TFileNameRegistry& registry = Registry();
  TMutexLocker lock(registry.GetMutex());
  return TFileExtension::Register(ExtractExtension(registry.GetComponentView(node_->componentId)));
}

void TFileName::SplitNameAndExtension(TOrvString<char>& name, TFileExtension& extension) const {
  if (node_ == nullptr) {
    name = TOrvString<char>();
    extension = TFileExtension();
    return;
  }
  TFileNameRegistry& registry = Registry();
  TMutexLocker lock(registry.GetMutex());
  const TOrvSubString<char> component = registry.GetComponentView(node_->componentId);
  const std::int32_t dot = LastDot(component);
  if (dot < 0) {
    name = component.ToString();
    extension = TFileExtension();
    return;
  }
  const std::uint32_t at = static_cast<std::uint32_t>(dot);
  name = TOrvSubString<char>(component, 0, at).ToString();
  extension = TFileExtension::Register(TOrvSubString<char>(component, at + 1, component.GetLength()));
}

TFileName TFileName::AddExtension(const TFileName& name, TFileExtension extension) {
  if (name.IsEmpty()) return TFileName(extension.ToString());
  TFileName result(name);
  if (!extension.IsNone()) {
    const TOrvString<char> text = extension.ToString();
    result.AppendToLastComponent(text.GetData(), text.GetLength());
  }
  return result;
}

TFileName TFileName::ChangeExtension(const TFileName& name, TFileExtension extension) {
  if (name.IsEmpty()) return TFileName();
  if (name.GetExtension() == extension) return name;
  // The stem goes through AddExtension on its own: an empty stem then gives the leaf ".ext"
  // instead of renaming the parent.
  const TFileName stem(name.GetNameWithoutExtension());
  return TFileName(name.GetParent(), AddExtension(stem, extension));
}

TFileName TFileName::ReplaceName(const TFileName& name, const TOrvString<char>& newName) {
  if (name.IsEmpty()) return TFileName();
  const TFileName leaf(newName + name.GetExtension().ToString());
  return TFileName(name.GetParent(), leaf);
}

}  // namespace Orvan
