// Fresh file-name and file-extension registries for a test: both are made again around it, so ids,
// first-interned letter cases and the pools' counts start from a known state. The well-known names
// hold file names and seed both registries: a test runs without them, and the start-up state (both
// registries seeded by them) comes back after it. No file name may live across the swap.
#pragma once

#include <gtest/gtest.h>

#include "core/filesystem/file_extension.h"
#include "core/filesystem/file_name_registry.h"
#include "core/filesystem/well_known_names.h"

namespace OrvTest {

// Destroys the well-known names and both registries (in shutdown order) and makes the registries
// again, empty.
inline void RecreateFileNameRegistries() {
  Orvan::TWellKnownNames::Destroy();
  Orvan::DestroyFileExtensionRegistry();
  Orvan::TFileNameRegistry::Destroy();
  Orvan::TFileNameRegistry::Create();
  Orvan::TFileExtensionRegistry::Create();
}

// Fresh registries seeded by fresh well-known names, as after the engine's start-up.
inline void RestoreStartupFileNameRegistries() {
  RecreateFileNameRegistries();
  Orvan::TWellKnownNames::Create();
}

class TFreshFileNameRegistries : public ::testing::Test {
 protected:
  void SetUp() override { RecreateFileNameRegistries(); }
  void TearDown() override { RestoreStartupFileNameRegistries(); }
};

}  // namespace OrvTest
