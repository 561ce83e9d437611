// Named callbacks: registration in the managers, the managers' lookups and the references.
#include "core/objects/named_callback.h"

namespace Orvan {

// ---- Callbacks

template <typename... TArgs>
TNamedCallbackOf<TArgs...>::TNamedCallbackOf(const TOrvString<char>& name) : name_(name) {
  if (TManager* manager = TManager::GetInstancePointer()) manager->Register(this);
}

template <typename... TArgs>
TNamedCallbackOf<TArgs...>::~TNamedCallbackOf() {
  if (TManager* manager = TManager::GetInstancePointer()) manager->Unregister(this);
  if (references_ == nullptr) return;
  for (TReference* reference : *references_) reference->cached_ = nullptr;
  TReferenceSet::Destroy(references_);
}

// ---- Managers

template <typename... TArgs>
typename TNamedCallbackManagerOf<TArgs...>::TCallback* TNamedCallbackManagerOf<TArgs...>::FindCallback(
    const TOrvString<char>& name) const noexcept {
  const auto* entry = map_.Find(name);
  return entry != nullptr ? entry->value : nullptr;
}

template <typename... TArgs>
bool TNamedCallbackManagerOf<TArgs...>::CallByName(const TOrvString<char>& name, TArgs... args) {
  TCallback* callback = FindCallback(name);
  if (callback == nullptr) return false;
  callback->Call(args...);
  return true;
}

template <typename... TArgs>
void TNamedCallbackManagerOf<TArgs...>::Register(TCallback* callback) {
  typename decltype(map_)::TEntryType* entry;
  if (map_.FindOrInsert(callback->GetName(), &entry)) {
    ::new (static_cast<void*>(entry)) typename decltype(map_)::TEntryType{callback->GetName(), callback};
  } else {
    entry->value = callback;
  }
}

template <typename... TArgs>
void TNamedCallbackManagerOf<TArgs...>::Unregister(TCallback* callback) noexcept {
  if (map_.IsEmpty()) return;
  typename decltype(map_)::TEntryType* entry;
  const std::uint32_t slot = map_.FindSlot(callback->GetName(), TStringHash()(callback->GetName()), &entry);
  // A later callback may have taken the name: its entry stays.
  if (entry != nullptr && entry->value == callback) map_.EraseAt(slot);
}

// ---- References

template <typename... TArgs>
TNamedCallbackReferenceOf<TArgs...>& TNamedCallbackReferenceOf<TArgs...>::operator=(
    const TNamedCallbackReferenceOf& other) {
  if (&other != this) {
    Forget();
    name_ = other.name_;
  }
  return *this;
}

template <typename... TArgs>
bool TNamedCallbackReferenceOf<TArgs...>::Call(TArgs... args) {
  if (cached_ == nullptr) {
    auto* manager = TNamedCallbackManagerOf<TArgs...>::GetInstancePointer();
    TCallback* found = manager != nullptr ? manager->FindCallback(name_) : nullptr;
    if (found == nullptr) return false;
    // Recorded before it is cached: a reference the callback does not know of would dangle.
    if (found->references_ == nullptr) found->references_ = TCallback::TReferenceSet::Create();
    found->references_->InsertNew(this);
    cached_ = found;
  }
  cached_->Call(args...);
  return true;
}

template <typename... TArgs>
void TNamedCallbackReferenceOf<TArgs...>::Forget() noexcept {
  if (cached_ == nullptr) return;
  typename TCallback::TReferenceSet* set = cached_->references_;
  if (set != nullptr && !set->IsEmpty()) {
    TNamedCallbackReferenceOf** entry;
    const std::uint32_t slot = set->FindSlot(this, TPointerHash()(this), &entry);
    if (entry != nullptr) set->EraseAt(slot);
  }
  cached_ = nullptr;
}

template class TNamedCallbackOf<>;
template class TNamedCallbackOf<float>;
template class TNamedCallbackOf<int>;
template class TNamedCallbackOf<const TFileName&>;
template class TNamedCallbackManagerOf<>;
template class TNamedCallbackManagerOf<float>;
template class TNamedCallbackManagerOf<int>;
template class TNamedCallbackManagerOf<const TFileName&>;
template class TNamedCallbackReferenceOf<>;
template class TNamedCallbackReferenceOf<float>;
template class TNamedCallbackReferenceOf<int>;
template class TNamedCallbackReferenceOf<const TFileName&>;

}  // namespace Orvan
