// The game-mode replay singleton of the full engine start-up: the name of the replay the game mode
// plays, empty for none. It lives in one static block, so building it never allocates and
// deleting it frees nothing.
#pragma once

#include <cstddef>

#include "core/singletons/singleton.h"
#include "core/text/engine_string.h"

namespace Orvan {

class TGameModeReplay : public Meta::TSingleton<TGameModeReplay, false> {
 public:
  // Registers the instance; the name starts empty.
  TGameModeReplay() = default;
  ~TGameModeReplay() override = default;

  // The static block of the one instance; `new TGameModeReplay` builds in it.
  static void* AllocateSingletonStorage() noexcept;
  // The block is static: nothing to give back.
  static void FreeSingletonStorage(void* storage) noexcept;
  static void* operator new(std::size_t size);
  static void operator delete(void* storage) noexcept;

  bool HasReplayName() const { return !replayName_.IsEmpty(); }
  const TOrvString<char>& GetReplayName() const { return replayName_; }
  void SetReplayName(const TOrvString<char>& name) { replayName_ = name; }

 private:
  TOrvString<char> replayName_;
};

}  // namespace Orvan
