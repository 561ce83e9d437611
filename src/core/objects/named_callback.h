// Named callbacks: debug commands and tunables reachable by a text name. A callback registers
// under its name in the process-wide manager of its kind while it lives; code that knows the name
// calls it through the manager, or through a reference that caches what it found and is cleared
// when the callback dies. There are four kinds: without a parameter, and with a float, an int or
// a file name.
//
// Use:
//   auto* manager = new TNamedCallBackManager;          // its owner deletes it after the last callback
//   class TDumpPools : public TVirtualNamedCallback {
//    public:
//     TDumpPools() : TVirtualNamedCallback("DumpPools") {}
//     void Call() override { ... }
//   };
//   manager->CallByName("DumpPools");                   // true: found and called
//   TNamedCallbackReference dump("DumpPools");
//   dump.Call();                                         // looks up once, then calls directly
//
// A later callback under a name that is taken takes the name over; the earlier one stays alive but
// is no longer found by name. Managers, callbacks and references take no lock: they are used from
// one thread at a time.
#pragma once

#include <cstdint>

#include "core/singletons/singleton.h"
#include "core/text/engine_string.h"
#include "core/text/hash_functors.h"

namespace Orvan {

class TFileName;

template <typename... TArgs>
class TNamedCallbackManagerOf;
template <typename... TArgs>
class TNamedCallbackReferenceOf;

// A callback taking TArgs: registered under its name from construction to destruction. Without a
// manager of its kind it is not registered (nobody can call it by name).
template <typename... TArgs>
class TNamedCallbackOf {
 public:
  using TManager = TNamedCallbackManagerOf<TArgs...>;
  using TReference = TNamedCallbackReferenceOf<TArgs...>;
  // The references that cached this callback, made on the first one, from the general heap.
  using TReferenceSet = TGeneralHeapPointerSet<TReference>;

  // std::bad_alloc when the manager's map cannot grow; nothing is registered then.
  explicit TNamedCallbackOf(const TOrvString<char>& name);
  TNamedCallbackOf(const TNamedCallbackOf&) = delete;
  TNamedCallbackOf& operator=(const TNamedCallbackOf&) = delete;

  virtual void Call(TArgs... args) = 0;
  // Gives up the name (unless another callback took it since), and leaves every reference that
  // cached it unresolved.
  virtual ~TNamedCallbackOf();

  const TOrvString<char>& GetName() const noexcept { return name_; }
  // Null until a reference resolves to this callback.
  const TReferenceSet* GetReferenceSet() const noexcept { return references_; }

 private:
  friend TReference;

  TOrvString<char> name_;
  TReferenceSet* references_ = nullptr;
};

// The process-wide name map of one kind of callback: a singleton that its owner builds before the
// first callback and deletes after the last one. It owns neither the callbacks nor anything else
// than its keys.
template <typename... TArgs>
class TNamedCallbackManagerOf final : public Meta::TSingleton<TNamedCallbackManagerOf<TArgs...>, false> {
 public:
  using TCallback = TNamedCallbackOf<TArgs...>;

  TNamedCallbackManagerOf() = default;
  ~TNamedCallbackManagerOf() override = default;

  // The callback registered under the name, or null.
  TCallback* FindCallback(const TOrvString<char>& name) const noexcept;
  // Calls the callback registered under the name: true when there was one.
  bool CallByName(const TOrvString<char>& name, TArgs... args);
  std::uint32_t GetCount() const noexcept { return map_.Count(); }

 private:
  friend TCallback;
  // Finds or inserts: a callback registered under a taken name takes it over.
  void Register(TCallback* callback);
  // Erases the name's entry only while it still points to `callback`.
  void Unregister(TCallback* callback) noexcept;

  TGeneralHeapStringToPointerMap<TCallback> map_;
};

// A caller-side handle: calls by name, caching the callback it found until that callback dies. A
// copy takes only the name and resolves on its own.
template <typename... TArgs>
class TNamedCallbackReferenceOf {
 public:
  using TCallback = TNamedCallbackOf<TArgs...>;

  explicit TNamedCallbackReferenceOf(const TOrvString<char>& name) : name_(name) {}
  TNamedCallbackReferenceOf(const TNamedCallbackReferenceOf& other) : name_(other.name_) {}
  TNamedCallbackReferenceOf& operator=(const TNamedCallbackReferenceOf& other);
  ~TNamedCallbackReferenceOf() { Forget(); }

  // Resolves when needed (the callback then records this reference), and calls: true when a
  // callback was called, false when no callback holds the name. std::bad_alloc when the callback
  // cannot record the reference; it stays unresolved then.
  bool Call(TArgs... args);

  const TOrvString<char>& GetName() const noexcept { return name_; }
  // Null while unresolved.
  TCallback* GetCachedCallback() const noexcept { return cached_; }

 private:
  friend TCallback;
  // Leaves the cached callback's reference set and becomes unresolved.
  void Forget() noexcept;

  TOrvString<char> name_;
  TCallback* cached_ = nullptr;
};

using TVirtualNamedCallback = TNamedCallbackOf<>;
using TNamedCallBackManager = TNamedCallbackManagerOf<>;
using TNamedCallbackReference = TNamedCallbackReferenceOf<>;

// T is float, int or TFileName const&.
template <typename T>
using TVirtualNamedCallbackWithParameter = TNamedCallbackOf<T>;
template <typename T>
using TNamedCallBackWithParameterManager = TNamedCallbackManagerOf<T>;
template <typename T>
using TNamedCallbackReferenceWithParameter = TNamedCallbackReferenceOf<T>;

// The four kinds are built once, in named_callback.cpp.
extern template class TNamedCallbackOf<>;
extern template class TNamedCallbackOf<float>;
extern template class TNamedCallbackOf<int>;
extern template class TNamedCallbackOf<const TFileName&>;
extern template class TNamedCallbackManagerOf<>;
extern template class TNamedCallbackManagerOf<float>;
extern template class TNamedCallbackManagerOf<int>;
extern template class TNamedCallbackManagerOf<const TFileName&>;
extern template class TNamedCallbackReferenceOf<>;
extern template class TNamedCallbackReferenceOf<float>;
extern template class TNamedCallbackReferenceOf<int>;
extern template class TNamedCallbackReferenceOf<const TFileName&>;

}  // namespace Orvan
