#include "core/diagnostics/engine_exception_kinds.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "core/text/text_encoding.h"

namespace Orvan {
namespace {

// The file kinds are built from file names by the file layer; these stand in with a ready message.
struct TestFileNotFound : EFileNotFound {
  TestFileNotFound() : EFileNotFound(TOrvString<wchar_t>(L"File not found : data:/a.ini")) {}
};
struct TestFileMappingFailed : EFileMappingFailed {
  TestFileMappingFailed() : EFileMappingFailed(TOrvString<wchar_t>(L"File mapping failed : a.bin")) {}
};

enum class EHandler { kFileException, kEException, kStdException, kNone };

// Which of the handlers, tried in this order, catches what `thrower` throws.
EHandler CatchingHandler(const std::function<void()>& thrower, EHandler first) {
  try {
    try {
      thrower();
    } catch (const EFileException&) {
      if (first == EHandler::kFileException) return EHandler::kFileException;
      throw;
    }
  } catch (const EException& failure) {
    EXPECT_NE(failure.what(), nullptr);
    return EHandler::kEException;
  } catch (const std::exception&) {
    return EHandler::kStdException;
  }
  return EHandler::kNone;
}

TEST(EngineExceptionKinds, HandlersCatchTheirKinds) {
  const struct {
    const char* name;
    std::function<void()> thrower;
    EHandler handler;
  } cases[] = {
      {"EFileNotFound", [] { throw TestFileNotFound(); }, EHandler::kFileException},
      {"EFileMappingFailed", [] { throw TestFileMappingFailed(); }, EHandler::kFileException},
      {"EVolumeFull", [] { throw EVolumeFull(); }, EHandler::kFileException},
      {"EFileMappingViewFailed", [] { throw EFileMappingViewFailed(L"view"); }, EHandler::kEException},
      {"EMountingPointNotFound", [] { throw EMountingPointNotFound(3, L"data"); }, EHandler::kEException},
      {"EInvalidFileName", [] { throw EInvalidFileName("a?b"); }, EHandler::kEException},
      {"EIniParsingException", [] { throw EIniParsingException(L"bad"); }, EHandler::kEException},
      {"EIniWrongTypeValue", [] { throw EIniWrongTypeValue(); }, EHandler::kEException},
      {"EAssertionError", [] { throw EAssertionError("f.cpp", 1, "x", "m"); }, EHandler::kEException},
      {"std::bad_alloc", [] { throw std::bad_alloc(); }, EHandler::kStdException},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CatchingHandler(c.thrower, EHandler::kFileException), c.handler) << c.name;
  }
}

TEST(EngineExceptionKinds, MessagesOfEachKind) {
  const struct {
    const char* name;
    std::function<void()> thrower;
    const char* what;
  } cases[] = {
      {"EVolumeFull", [] { throw EVolumeFull(); }, "The volume is full"},
      {"EFileMappingViewFailed", [] { throw EFileMappingViewFailed(L"view \u00E9"); }, "view \xC3\xA9"},
      {"EMountingPointNotFound", [] { throw EMountingPointNotFound(3, L"maps"); }, "Mouting point not found! : maps"},
      {"EInvalidFileName", [] { throw EInvalidFileName("d\xC3\xA9j\xC3\xA0?.txt"); },
       "Invalid file name, forbidden characters. FileName = d\xC3\xA9j\xC3\xA0?.txt"},
      {"EIniParsingException", [] { throw EIniParsingException(12, L"missing ']'"); }, "missing ']'"},
      {"EIniWrongTypeValue", [] { throw EIniWrongTypeValue(); }, ""},
      {"EAssertionError", [] { throw EAssertionError("src/a.cpp", 4294967295u, "p != nullptr", "no pointer"); },
       "src/a.cpp(4294967295): ASSERT RELEASE FAILED: p != nullptr\nno pointer"},
  };
  for (const auto& c : cases) {
    try {
      c.thrower();
      ADD_FAILURE() << c.name << " did not throw";
    } catch (const EException& failure) {
      ASSERT_NE(failure.what(), nullptr) << c.name;
      EXPECT_STREQ(failure.what(), c.what) << c.name;
    }
  }
}

TEST(EngineExceptionKinds, FieldsBesideTheMessage) {
  EXPECT_EQ(EMountingPointNotFound(65535, L"x").GetMountingPointId(), 65535u);
  EXPECT_EQ(EIniParsingException(L"m").GetLine(), -1);
  EXPECT_EQ(EIniParsingException(7, L"m").GetLine(), 7);

  const std::string name(5000, 'n');
  const EInvalidFileName invalid(name.c_str());
  EXPECT_EQ(std::string(invalid.GetFileName()), name.substr(0, 4095));
  EXPECT_EQ(std::string(invalid.what()), "Invalid file name, forbidden characters. FileName = " + name);
}

TEST(EngineExceptionKinds, WideMessageSurvivesTheUtf8RoundTrip) {
  const TOrvString<wchar_t> message(L"smile \xD83D\xDE00 and \u00E9");
  const EFileMappingViewFailed failure(message);
  EXPECT_STREQ(failure.what(), "smile \xF0\x9F\x98\x80 and \xC3\xA9");
  EXPECT_TRUE(failure.GetWideMessage() == message);
  EXPECT_EQ(failure.GetWideMessage().GetLength(), message.GetLength());
}

TEST(EngineExceptionKinds, DescriptionNamesTheDynamicKindAndItsAddress) {
  const EFileMappingViewFailed failure(L"x");
  const EException& root = failure;
  const RTTI::TClassWithVirtualDestructor& base = root;
  char address[32];
  std::snprintf(address, sizeof(address), "%p", static_cast<const void*>(&base));
  EXPECT_EQ(std::string(base.GetDescription().c_str()), std::string("Orvan::EFileMappingViewFailed@") + address);

  const EVolumeFull full;
  const RTTI::TClassWithVirtualDestructor& fullBase = full;
  EXPECT_EQ(std::string(fullBase.GetDescription().c_str()).rfind("Orvan::EVolumeFull@", 0), 0u)
      << fullBase.GetDescription().c_str();
}

}  // namespace
}  // namespace Orvan
