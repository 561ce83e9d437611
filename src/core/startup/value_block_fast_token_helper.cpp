// The pre-interned value-block field names, in their fixed order.
#include "core/startup/value_block_fast_token_helper.h"

namespace Orvan {

const char* const TValueBlockFastTokenHelper::kNames[kTokenCount] = {
    "BatchSize",         "dt",
    "Duration",          "DynamicMesh",
    "ElapsedTime",       "Index",
    "InstanceBiped",     "LifeRatio",
    "MobileDirection",   "MobilePosition",
    "MobileWithTextureEvolver", "VdfPositionInFile",
    "Particle",          "ParticleAsSpawner",
    "ParticleDescription", "ParticleAsSpawnerDescription",
    "Position",          "Size",
    "SpawnerInfo",       "SpawnerParameter",
    "Speed",             "TimeServerTime",
    "TrailIndex",        "UniqueIndex",
    "UpVector",          "MobileWrapper",
    "JobList",           "Scene",
    "Layer",             "CameraPos",
    "CameraDir",         "CameraUp",
    "CameraAxeX",        "CameraAxeZ",
    "CameraViewPortSize", "CameraDeltaPosition",
};

TValueBlockFastTokenHelper::TValueBlockFastTokenHelper() {
  for (std::uint32_t i = 0; i < kTokenCount; ++i) tokens_[i] = TToken2(kNames[i]);
}

}  // namespace Orvan
