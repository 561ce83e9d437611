// A base fixture for tests of named callbacks: the four managers exist for every test (built
// before its callbacks, deleted after them, as their owner would), and every name and map key the
// test made is released by its end.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "core/objects/named_callback.h"
#include "core/text/engine_string.h"

namespace OrvTest {

class NamedCallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    liveStrings_ = Orvan::GetStringContentLiveCount<char>();
    new Orvan::TNamedCallBackManager;
    new Orvan::TNamedCallBackWithParameterManager<float>;
    new Orvan::TNamedCallBackWithParameterManager<int>;
    new Orvan::TNamedCallBackWithParameterManager<const Orvan::TFileName&>;
  }
  void TearDown() override {
    delete Orvan::TNamedCallBackManager::GetInstancePointer();
    delete Orvan::TNamedCallBackWithParameterManager<float>::GetInstancePointer();
    delete Orvan::TNamedCallBackWithParameterManager<int>::GetInstancePointer();
    delete Orvan::TNamedCallBackWithParameterManager<const Orvan::TFileName&>::GetInstancePointer();
    EXPECT_EQ(Orvan::GetStringContentLiveCount<char>(), liveStrings_) << "a name or a key was leaked or released twice";
  }

 private:
  std::uint32_t liveStrings_ = 0;
};

}  // namespace OrvTest
