// The keyed tables and lists of network ids the game session keeps: admins with their rights
// text, bans with their end time, the ban-file update's table and its list of ids. All live on
// the calling thread's heap; keys hash by their low word and compare all 64 bits.
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/containers/open_hash_map.h"
#include "core/memory/thread_local_heap.h"
#include "core/text/hash_functors.h"
#include "network/packets/network_id.h"

namespace Orvan::Network {

// Admin id to its rights text (InsertOrAssign from core/text/hash_functors.h stores it).
using TNetIdToShortStringMap = TOpenHashMap<TKeyValueEntry<OrvNetId, TShortByteString>, TNetIdHash, TWordEqual,
                                            thread_local_allocator<unsigned char>>;
// Banned id to the end of its ban.
using TNetIdToTimeMap =
    TOpenHashMap<TKeyValueEntry<OrvNetId, std::uint64_t>, TNetIdHash, TWordEqual, thread_local_allocator<unsigned char>>;
// Banned id to its line in the ban file, while the file is rewritten.
using TNetIdToU32Map =
    TOpenHashMap<TKeyValueEntry<OrvNetId, std::uint32_t>, TNetIdHash, TWordEqual, thread_local_allocator<unsigned char>>;

using TNetIdVector = TVector<OrvNetId, TThreadHeapStorage>;

}  // namespace Orvan::Network
