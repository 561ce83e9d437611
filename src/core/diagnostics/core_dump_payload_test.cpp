#include "core/diagnostics/core_dump_payload.h"

#include <gtest/gtest.h>

#include "support/singleton_checks.h"

namespace Orvan {
namespace {

using OrvTest::IsRegisteredSingleton;

TEST(CoreDumpPayload, LivesInItsStaticBlockAndRegistersWhileAlive) {
  TCoreDumpPayload* payload = new TCoreDumpPayload;
  EXPECT_EQ(TCoreDumpPayload::GetInstancePointer(), payload);
  EXPECT_TRUE(IsRegisteredSingleton(payload));
  EXPECT_EQ(payload->destroyedByRegistry, 0u);
  for (std::size_t i = 0; i < TCoreDumpPayload::kPayloadBytes; ++i) EXPECT_EQ(payload->GetPayload()[i], 0u) << i;
  const void* block = payload;
  delete payload;
  EXPECT_EQ(TCoreDumpPayload::GetInstancePointer(), nullptr);
  EXPECT_FALSE(IsRegisteredSingleton(static_cast<const Meta::TSingletonBase*>(block)));

  // Built again, it takes the same block.
  TCoreDumpPayload* again = new TCoreDumpPayload;
  EXPECT_EQ(static_cast<const void*>(again), block);
  delete again;
}

}  // namespace
}  // namespace Orvan
