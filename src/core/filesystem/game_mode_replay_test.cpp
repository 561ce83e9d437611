// The game-mode replay singleton: registered while it lives in its static block.
#include "core/filesystem/game_mode_replay.h"

#include <gtest/gtest.h>

#include "support/singleton_checks.h"

namespace Orvan {
namespace {

using OrvTest::IsRegisteredSingleton;

TEST(GameModeReplay, RegisteredInItsStorageAndDestroyedWithoutFreeing) {
  ASSERT_EQ(TGameModeReplay::GetInstancePointer(), nullptr);
  void* storage = TGameModeReplay::AllocateSingletonStorage();
  EXPECT_EQ(TGameModeReplay::AllocateSingletonStorage(), storage);
  auto* replay = ::new (storage) TGameModeReplay;
  EXPECT_EQ(TGameModeReplay::GetInstancePointer(), replay);
  EXPECT_TRUE(IsRegisteredSingleton(replay));
  EXPECT_EQ(replay->destroyedByRegistry, 0u);
  EXPECT_FALSE(replay->HasReplayName());
  replay->SetReplayName(TOrvString<char>("Replays/lastreplay"));
  EXPECT_TRUE(replay->HasReplayName());
  EXPECT_STREQ(replay->GetReplayName().c_str(), "Replays/lastreplay");

  // The deleting destructor: under ASan, freeing the static block would be reported.
  Meta::TSingletonBase* base = replay;
  delete base;
  EXPECT_EQ(TGameModeReplay::GetInstancePointer(), nullptr);
  EXPECT_FALSE(IsRegisteredSingleton(static_cast<const Meta::TSingletonBase*>(storage)));

  // new builds in the same block.
  TGameModeReplay* again = new TGameModeReplay;
  EXPECT_EQ(static_cast<void*>(again), storage);
  EXPECT_FALSE(again->HasReplayName());
  delete again;
  TGameModeReplay::FreeSingletonStorage(storage);
}

}  // namespace
}  // namespace Orvan
