// The game-mode replay singleton's static storage.
#include "core/filesystem/game_mode_replay.h"

namespace Orvan {

namespace {
alignas(TGameModeReplay) unsigned char g_gameModeReplayStorage[sizeof(TGameModeReplay)];
}  // namespace

void* TGameModeReplay::AllocateSingletonStorage() noexcept { return g_gameModeReplayStorage; }

void TGameModeReplay::FreeSingletonStorage(void* /*storage*/) noexcept {}

void* TGameModeReplay::operator new(std::size_t /*size*/) { return AllocateSingletonStorage(); }

void TGameModeReplay::operator delete(void* storage) noexcept { FreeSingletonStorage(storage); }

}  // namespace Orvan
