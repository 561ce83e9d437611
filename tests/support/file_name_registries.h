// Fresh file-name and file-extension registries for a test: both are made again around it, so ids,
// first-interned letter cases and the pools' counts start from a known state. No file name may
// live across the swap.
#pragma once

#include <gtest/gtest.h>

#include "core/filesystem/file_extension.h"
#include "core/filesystem/file_name_registry.h"

namespace OrvTest {

// Destroys both registries (extensions first, as shutdown does) and makes them again.
inline void RecreateFileNameRegistries() {
  Orvan::DestroyFileExtensionRegistry();
  Orvan::TFileNameRegistry::Destroy();
  Orvan::TFileNameRegistry::Create();
  Orvan::TFileExtensionRegistry::Create();
}

class TFreshFileNameRegistries : public ::testing::Test {
 protected:
  void SetUp() override { RecreateFileNameRegistries(); }
  void TearDown() override { RecreateFileNameRegistries(); }
};

}  // namespace OrvTest
