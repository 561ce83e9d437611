#include "core/startup/engine_flags.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "support/singleton_checks.h"

namespace Orvan {
namespace {

TEST(EngineFlagsTest, CFFlagsStartValuesInTheirStaticBlock) {
  TCFFlags* flags = new TCFFlags;
  EXPECT_EQ(static_cast<void*>(flags), TCFFlags::GetInstanceStorage());
  EXPECT_EQ(TCFFlags::GetInstancePointer(), flags);
  EXPECT_TRUE(OrvTest::IsRegisteredSingleton(flags));

  const TCFFlags::TFields& fields = flags->GetFields();
  EXPECT_EQ(fields.word0, 0u);
  EXPECT_EQ(fields.word1, 0u);
  EXPECT_EQ(fields.word2, 0u);
  const std::uint8_t bytes[6] = {0, 0, 0, 1, 0, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(fields.bytes[i], bytes[i]) << "byte " << i;
  EXPECT_EQ(fields.byte6, 0u);
  for (std::uint8_t byte : fields.moreBytes) EXPECT_EQ(byte, 0u);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(fields.frameSeconds), 0x3D088889u);
  EXPECT_EQ(fields.word3 | fields.word4 | fields.word5 | fields.word6 | fields.word7, 0u);

  EXPECT_FALSE(flags->IsFirstFlagPairSet());
  EXPECT_TRUE(flags->IsSecondWordClear());

  delete flags;
  EXPECT_EQ(TCFFlags::GetInstancePointer(), nullptr);
  EXPECT_FALSE(OrvTest::IsRegisteredSingleton(flags));
}

TEST(EngineFlagsTest, DatapackCheckSwitch) {
  TCheckDatapackIntegrity* check = new TCheckDatapackIntegrity;
  EXPECT_EQ(static_cast<void*>(check), TCheckDatapackIntegrity::GetInstanceStorage());
  EXPECT_EQ(check->IsEnabled(), 0);
  check->SetEnabled(1);
  EXPECT_EQ(check->IsEnabled(), 1);
  check->SetEnabled(0);
  EXPECT_EQ(check->IsEnabled(), 0);
  delete check;
  EXPECT_EQ(TCheckDatapackIntegrity::GetInstancePointer(), nullptr);
}

TEST(EngineFlagsTest, StoreFlagsAreSetOneByOne) {
  TStoreIntegration* store = new TStoreIntegration;
  EXPECT_TRUE(OrvTest::IsRegisteredSingleton(store));
  EXPECT_EQ(store->GetFirstFlag(), 0);
  EXPECT_EQ(store->GetSecondFlag(), 0);
  store->SetSecondFlag();
  EXPECT_EQ(store->GetFirstFlag(), 0);
  EXPECT_EQ(store->GetSecondFlag(), 1);
  store->SetFirstFlag();
  EXPECT_EQ(store->GetFirstFlag(), 1);
  delete store;
  EXPECT_EQ(TStoreIntegration::GetInstancePointer(), nullptr);
}

}  // namespace
}  // namespace Orvan
