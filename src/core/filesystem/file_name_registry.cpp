// The file-name registry: interning component names, finding, creating and releasing path nodes,
// joining names into texts, and the teardown that copes with nodes still referenced.
#include "core/filesystem/file_name_registry.h"

#include <cstring>
#include <memory>
#include <new>
#include <thread>

namespace Orvan {

namespace {

bool RangesEqualNoCase(const char* a, const char* b, std::uint32_t length) noexcept {
  for (std::uint32_t i = 0; i < length; ++i) {
    if (FoldAsciiLower(a[i]) != FoldAsciiLower(b[i])) return false;
  }
  return true;
}

TCharRange<char> RangeOf(const TOrvSubString<char>& view) {
  if (view.IsEmpty()) return {};
  return {view.GetData(), view.GetDataEnd()};
}

TCharRange<char> RangeOf(const TOrvString<char>& text) {
  if (text.IsEmpty()) return {};
  return {text.GetData(), text.GetData() + text.GetLength()};
}

std::uint32_t RangeLength(TCharRange<char> range) {
  return range.begin == nullptr ? 0 : static_cast<std::uint32_t>(range.end - range.begin);
}

TPathNode* PointerOf(std::uintptr_t children) noexcept {
  return reinterpret_cast<TPathNode*>(children & ~TPathNode::kTagMask);
}

TPathNode::TSons* MapOf(std::uintptr_t children) noexcept {
  return reinterpret_cast<TPathNode::TSons*>(children & ~TPathNode::kTagMask);
}

}  // namespace

bool TComponentNameEqual::operator()(const TComponentNameRecord& record,
                                     const TComponentNameProbe& probe) const noexcept {
  const std::uint32_t length = record.end - record.begin;
  if (static_cast<std::uint32_t>(probe.end - probe.begin) != length) return false;
  return RangesEqualNoCase(probe.names + record.begin, probe.begin, length);
}

// ---- Creation and teardown

TFileNameRegistry::TFileNameRegistry()
    : nodePool_(sizeof(TPathNode), &Domain::AllDomain, "TPathNode", kElementsPerChunk),
      sonsPool_(sizeof(TPathNode::TSons), &Domain::AllDomain, "TPathNode::TSons", kElementsPerChunk) {
  void* element = nodePool_.Allocate();
  root_ = ::new (element) TPathNode{{1}, 0, nullptr, TPathNode::kNoChildren};
}

void TFileNameRegistry::Create() {
  auto* registry = new TFileNameRegistry;
  g_registry.store(registry, std::memory_order_release);
  try {
    static constexpr char kDotDot[] = "..";
    registry->dotDotId_ = registry->InternComponentName(TCharRange<char>{kDotDot, kDotDot + 2});
  } catch (...) {
    g_registry.store(nullptr, std::memory_order_release);
    delete registry;
    throw;
  }
}

void TFileNameRegistry::Destroy() noexcept {
  TFileNameRegistry* registry = g_registry.exchange(nullptr, std::memory_order_acq_rel);
  delete registry;
}

void TFileNameRegistry::ReleaseNodeChildrenCallback(void* node, void* registry) noexcept {
  static_cast<TFileNameRegistry*>(registry)->ReleaseNodeChildren(static_cast<TPathNode*>(node));
}

TFileNameRegistry::~TFileNameRegistry() {
  if (root_->count.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    nodePool_.Free(root_);
  } else {
    // Names outlive the registry: their nodes go with the chunks, after the maps' heap blocks.
    nodePool_.ForEachAllocatedElement(&ReleaseNodeChildrenCallback, this);
    nodePool_.FreeAllChunks();
  }
}

void TFileNameRegistry::ReleaseNodeChildren(TPathNode* node) noexcept {
  if ((node->children & TPathNode::kTagMask) != TPathNode::kChildMap) return;
  TPathNode::TSons* sons = MapOf(node->children);
  std::destroy_at(sons);
  sonsPool_.Free(sons);
  node->children = TPathNode::kNoChildren;
}

// ---- Names

const TComponentNameRecord* TFileNameRegistry::FindName(TCharRange<char> name) const noexcept {
  if (name.begin == nullptr) name = {"", ""};
  return nameMap_.Find(ProbeOf(name));
}

std::uint32_t TFileNameRegistry::InternComponentName(TCharRange<char> name) {
  if (name.begin == nullptr) name = {"", ""};
  TMutexLocker lock(mutex_);
  if (const TComponentNameRecord* record = FindName(name)) return record->id;

  const std::uint32_t id = nameRanges_.GetSize();
  const std::uint32_t begin = nameText_.GetLength();
  const std::uint32_t end = begin + RangeLength(name);
  // The name may lie in the name text itself; append copes with that.
  nameText_ += name;
  nameText_ += '/';
  nameRanges_.PushBack({begin, end});
  try {
    // The probe now reads the copy in the name text, which stays put until the next append.
    const TCharRange<char> stored{nameText_.GetData() + begin, nameText_.GetData() + end};
    TComponentNameRecord* record = nameMap_.AppendEntry(ProbeOf(stored));
    *record = {begin, end, id};
  } catch (...) {
    nameRanges_.PopBack();
    throw;
  }
  return id;
}

std::uint32_t TFileNameRegistry::InternComponentName(const TOrvSubString<char>& name) {
  return InternComponentName(RangeOf(name));
}

std::uint32_t TFileNameRegistry::InternComponentName(const TOrvString<char>& name) {
  return InternComponentName(RangeOf(name));
}

TOrvSubString<char> TFileNameRegistry::GetComponentView(std::uint32_t id) const {
  const TComponentNameRange& range = nameRanges_[id];
  return TOrvSubString<char>(&nameText_, range.begin, range.end);
}

TOrvString<char> TFileNameRegistry::GetComponentName(std::uint32_t id) {
  TMutexLocker lock(mutex_);
  return GetComponentView(id).ToString();
}

bool TFileNameRegistry::ContainsComponentName(const TOrvString<char>& name) {
  return FindComponentId(name) != kNoComponentId;
}

bool TFileNameRegistry::ContainsComponentName(const TOrvSubString<char>& name) {
  return FindComponentId(name) != kNoComponentId;
}

std::uint32_t TFileNameRegistry::FindComponentId(const TOrvString<char>& name) {
  TMutexLocker lock(mutex_);
  const TComponentNameRecord* record = FindName(RangeOf(name));
  return record != nullptr ? record->id : kNoComponentId;
}

std::uint32_t TFileNameRegistry::FindComponentId(const TOrvSubString<char>& name) {
  TMutexLocker lock(mutex_);
  const TComponentNameRecord* record = FindName(RangeOf(name));
  return record != nullptr ? record->id : kNoComponentId;
}

std::uint32_t TFileNameRegistry::JoinComponentsIntoBuffer(const std::uint32_t* first, const std::uint32_t* last,
                                                          char separator, char* buffer, std::uint32_t size) {
  if (size == 0) return 0;
  const std::uint32_t room = size - 1;
  std::uint32_t length = 0;
  TMutexLocker lock(mutex_);
  for (const std::uint32_t* id = first; id != last && length < room; ++id) {
    if (id != first) buffer[length++] = separator;
    const TOrvSubString<char> name = GetComponentView(*id);
    std::uint32_t count = name.GetLength();
    if (count > room - length) count = room - length;
    if (count != 0) std::memcpy(buffer + length, name.GetData(), count);
    length += count;
  }
  buffer[length] = '\0';
  return length;
}

TOrvString<char> TFileNameRegistry::JoinComponentRange(const std::uint32_t* first, const std::uint32_t* last,
                                                       char separator) {
  if (first == last) return TOrvString<char>();
  TEngineStdString<char> text;
  {
    TMutexLocker lock(mutex_);
    std::size_t length = static_cast<std::size_t>(last - first) - 1;
    for (const std::uint32_t* id = first; id != last; ++id) length += nameRanges_[*id].end - nameRanges_[*id].begin;
    text.reserve(length);
    for (const std::uint32_t* id = first; id != last; ++id) {
      if (id != first) text.push_back(separator);
      const TOrvSubString<char> name = GetComponentView(*id);
      text.append(name.GetData(), name.GetLength());
    }
  }
  return TOrvString<char>(std::move(text));
}

// ---- Nodes

TPathNode* TFileNameRegistry::FindChild(const TPathNode* parent, std::uint32_t id) noexcept {
  const std::uintptr_t children = parent->children;
  switch (children & TPathNode::kTagMask) {
    case TPathNode::kOneChild: {
      TPathNode* child = PointerOf(children);
      return child->componentId == id ? child : nullptr;
    }
    case TPathNode::kChildMap: {
      const TPathNode::TSons* sons = MapOf(children);
      const auto* entry = sons->Find(id);
      return entry != nullptr ? entry->value : nullptr;
    }
    default:
      return nullptr;
  }
}

void TFileNameRegistry::LinkChild(TPathNode* parent, TPathNode* child) {
  const std::uintptr_t children = parent->children;
  switch (children & TPathNode::kTagMask) {
    case TPathNode::kNoChildren:
      parent->children = reinterpret_cast<std::uintptr_t>(child) | TPathNode::kOneChild;
      return;
    case TPathNode::kOneChild: {
      TPathNode* only = PointerOf(children);
      // Two entries stay inside the map: nothing here can fail once the map is had.
      auto* sons = ::new (sonsPool_.Allocate()) TPathNode::TSons;
      sons->InsertNew(only->componentId, only);
      sons->InsertNew(child->componentId, child);
      parent->children = reinterpret_cast<std::uintptr_t>(sons) | TPathNode::kChildMap;
      return;
    }
    default:
      MapOf(children)->InsertNew(child->componentId, child);
      return;
  }
}

TPathNode* TFileNameRegistry::FindOrCreateChild(TPathNode* parent, std::uint32_t id) {
  for (;;) {
    {
      TMutexLocker lock(mutex_);
      TPathNode* child = FindChild(parent, id);
      if (child == nullptr) {
        void* element = nodePool_.Allocate();
        auto* node = ::new (element) TPathNode{{1}, id, parent, TPathNode::kNoChildren};
        try {
          LinkChild(parent, node);
        } catch (...) {
          nodePool_.Free(node);
          throw;
        }
        AddReference(parent);
        return node;
      }
      // A count of 0 means the last holder is on its way to unlink the node: it is never revived.
      std::uint32_t count = child->count.load(std::memory_order_relaxed);
      if (count != 0 &&
          child->count.compare_exchange_strong(count, count + 1, std::memory_order_acquire, std::memory_order_relaxed)) {
        return child;
      }
    }
    // Let the releasing thread take the lock and unlink the dying node.
    std::this_thread::yield();
  }
}

bool TFileNameRegistry::UnlinkChild(TPathNode* parent, TPathNode* child) noexcept {
  const std::uintptr_t children = parent->children;
  switch (children & TPathNode::kTagMask) {
    case TPathNode::kOneChild:
      if (PointerOf(children) != child) return false;
      parent->children = TPathNode::kNoChildren;
      return true;
    case TPathNode::kChildMap: {
      TPathNode::TSons* sons = MapOf(children);
      TPathNode::TSons::TEntryType* entry;
      const std::uint32_t slot = sons->FindSlot(child->componentId, TIntegerHash()(child->componentId), &entry);
      if (entry == nullptr || entry->value != child) return false;
      sons->EraseAt(slot);
      if (sons->Count() == 1) {
        TPathNode* remaining = sons->Entries()[0].value;
        std::destroy_at(sons);
        sonsPool_.Free(sons);
        parent->children = reinterpret_cast<std::uintptr_t>(remaining) | TPathNode::kOneChild;
      }
      return true;
    }
    default:
      return false;
  }
}

void TFileNameRegistry::ReleaseNode(TPathNode* node) noexcept {
  while (node != nullptr) {
    TPathNode* parent = node->parent;
    if (node->count.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    // Only the registry's teardown takes the root to 0, and it frees the root itself.
    if (parent == nullptr) return;
    {
      TMutexLocker lock(mutex_);
      // A node its parent does not list is left where it is, with the parent's reference.
      if (!UnlinkChild(parent, node)) return;
      nodePool_.Free(node);
    }
    node = parent;
  }
}

}  // namespace Orvan
