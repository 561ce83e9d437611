#include "core/diagnostics/engine_exception.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace Orvan {
namespace {

std::string AddressText(const void* address) {
  char text[32];
  std::snprintf(text, sizeof(text), "%p", address);
  return text;
}

TEST(EException, WhatIsUtf8AndNeverNull) {
  struct Case {
    const wchar_t* message;
    std::string utf8;
  };
  const Case cases[] = {
      {L"", ""},
      {L"Too many threads!", "Too many threads!"},
      {L"caf\u00e9 \u20ac", "caf\xc3\xa9 \xe2\x82\xac"},
      // U+1F600 as its surrogate pair.
      {L"smile \xd83d\xde00", "smile \xf0\x9f\x98\x80"},
      // A lone surrogate is not well-formed UTF-16: the message is dropped, not half kept.
      {L"broken \xd83d here", ""},
  };
  for (const Case& c : cases) {
    const EException exception{TOrvString<wchar_t>(c.message)};
    ASSERT_NE(exception.what(), nullptr);
    EXPECT_EQ(std::string(exception.what()), c.utf8);
  }
}

TEST(EException, WideMessageComesBackWithItsSurrogatePairs) {
  const TOrvString<wchar_t> message(L"pair \xd83d\xde00 and \u00e9");
  const EException exception(message);
  EXPECT_TRUE(exception.GetWideMessage() == message);
  EXPECT_TRUE(EException(TOrvString<wchar_t>()).GetWideMessage().IsEmpty());
}

TEST(EException, CaughtAsStdExceptionKeepsItsText) {
  try {
    throw EException(L"thrown by value");
  } catch (const std::exception& caught) {
    EXPECT_STREQ(caught.what(), "thrown by value");
    EXPECT_NE(dynamic_cast<const EException*>(&caught), nullptr);
  }
}

TEST(EException, DescriptionNamesTheDynamicTypeAndTheBaseAddress) {
  const EException exception(L"x");
  const RTTI::TClassWithVirtualDestructor& base = exception;
  const std::string expected = "Orvan::EException@" + AddressText(&base);
  EXPECT_EQ(std::string(base.GetDescription().c_str()), expected);
}

TEST(ObjectDescription, StoredNamesThatDoNotDemangleArePrintedAsStored) {
  const void* address = reinterpret_cast<const void*>(0x1234);
  const std::string at = "@" + AddressText(address);
  EXPECT_EQ(std::string(RTTI::FormatObjectDescription("*Bogus", address).c_str()), "Bogus" + at);
  EXPECT_EQ(std::string(RTTI::FormatObjectDescription("N5Orvan10EExceptionE", address).c_str()),
            "Orvan::EException" + at);
}

TEST(ObjectDescription, IsCutAt255Bytes) {
  const std::string longName(400, 'Q');
  const TOrvString<char> text = RTTI::FormatObjectDescription(longName.c_str(), nullptr);
  EXPECT_EQ(text.GetLength(), RTTI::kDescriptionBufferSize - 1);
  EXPECT_EQ(std::string(text.c_str()), std::string(255, 'Q'));
}

}  // namespace
}  // namespace Orvan
