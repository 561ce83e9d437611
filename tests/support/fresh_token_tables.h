// Fresh engine token tables for a test: the twenty-nine are made again around it, so every table
// starts with the empty text alone. The well-known names seed six of them at start-up: a test runs
// without them, and the start-up state (the tables seeded by fresh well-known names) comes back
// after it.
#pragma once

#include <gtest/gtest.h>

#include "core/filesystem/well_known_names.h"
#include "core/tokens/token_tables.h"

namespace OrvTest {

inline void RecreateTokenTables() {
  Orvan::TWellKnownNames::Destroy();
  Orvan::DestroyAllInternedTokenTables();
  Orvan::InitInternedTokenTables();
}

inline void RestoreStartupTokenTables() {
  RecreateTokenTables();
  Orvan::TWellKnownNames::Create();
}

class TFreshTokenTables : public ::testing::Test {
 protected:
  void SetUp() override { RecreateTokenTables(); }
  void TearDown() override { RestoreStartupTokenTables(); }
};

}  // namespace OrvTest
