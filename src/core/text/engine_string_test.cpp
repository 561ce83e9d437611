#include "core/text/engine_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/filesystem/file_extension.h"
#include "core/filesystem/file_name_registry.h"
#include "core/filesystem/well_known_names.h"
#include "core/memory/thread_local_heap.h"
#include "core/text/text_hash.h"
#include "core/threads/thread_attachment.h"
#include "core/tokens/token_tables.h"
#include "support/fresh_token_tables.h"
#include "support/process_allocator_seam.h"

namespace Orvan {
namespace {

using TNarrow = TOrvString<char>;
using TWide = TOrvString<wchar_t>;

// Narrow ASCII test texts widened for the wide form.
template <typename CharT>
std::basic_string<CharT> Text(const char* ascii) {
  std::basic_string<CharT> out;
  for (const char* p = ascii; *p != '\0'; ++p) out.push_back(static_cast<CharT>(*p));
  return out;
}

template <typename CharT>
TOrvString<CharT> Make(const char* ascii) {
  return TOrvString<CharT>(Text<CharT>(ascii));
}

template <typename CharT>
std::string Narrow(const TOrvString<CharT>& s) {
  std::string out;
  for (std::uint32_t i = 0; i < s.GetLength(); ++i) out.push_back(static_cast<char>(s[i]));
  return out;
}

template <typename CharT>
void ExpectNull(const TOrvString<CharT>& s) {
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_EQ(s.GetLength(), 0u);
  EXPECT_EQ(s.c_str()[0], CharT());
  EXPECT_EQ(s.GetHash(), 0u);
  EXPECT_EQ(s.GetHashNoCase(), 0u);
  EXPECT_EQ(s.GetRefCount(), 0);
  EXPECT_TRUE(s.GetStdString().empty());
}

template <typename CharT>
class EngineStringTest : public ::testing::Test {
 protected:
  using S = TOrvString<CharT>;
  static S Of(const char* ascii) { return Make<CharT>(ascii); }
  static std::basic_string<CharT> T(const char* ascii) { return Text<CharT>(ascii); }
};

using CharTypes = ::testing::Types<char, wchar_t>;
TYPED_TEST_SUITE(EngineStringTest, CharTypes);

// ---------------------------------------------------------------- construction and ownership

TYPED_TEST(EngineStringTest, EveryEmptySourceGivesTheNullHandle) {
  using S = TOrvString<TypeParam>;
  using TStd = typename S::TStdString;
  const auto empty = this->T("");
  const auto abc = this->Of("abc");
  const std::vector<std::function<S()>> sources = {
      [] { return S(); },
      [&] { return S(empty.c_str()); },
      [] { return S(static_cast<const TypeParam*>(nullptr)); },
      [&] { return S(abc.GetData(), 0u); },
      [] { return S(static_cast<const TypeParam*>(nullptr), 5u); },
      [&] { return S(abc.GetData(), abc.GetData()); },
      [] { return S(typename S::TRange{nullptr, nullptr}); },
      [&] { return S(typename S::TRange{abc.GetData() + 2, abc.GetData() + 1}); },
      [] { return S(TStd()); },
      [] { return S(std::basic_string<TypeParam>()); },
      [&] { return S(abc, 1, 0); },
      [&] { return S(S(), kDeepCopy); },
      [&] { return abc.SubString(3); },
      [&] {
        S s = abc;
        s.Clear();
        return s;
      },
      [&] {
        S s = abc;
        s = empty.c_str();
        return s;
      },
      [&] {
        S s = abc;
        s.Resize(0);
        return s;
      },
  };
  for (std::size_t i = 0; i < sources.size(); ++i) {
    SCOPED_TRACE(i);
    ExpectNull(sources[i]());
  }
}

TYPED_TEST(EngineStringTest, ConstructionCopiesOrSharesAsEachSourceSays) {
  using S = TOrvString<TypeParam>;
  const S abcdef = this->Of("abcdef");
  const auto text = this->T("xyz");
  struct Case {
    const char* name;
    std::function<S()> make;
    const char* expected;
    bool sharesAbcdef;
  };
  const std::vector<Case> cases = {
      {"text", [&] { return S(text.c_str()); }, "xyz", false},
      {"pointer and length", [&] { return S(text.c_str(), 2u); }, "xy", false},
      {"pointer range", [&] { return S(text.c_str() + 1, text.c_str() + 3); }, "yz", false},
      {"char range", [&] { return S(typename S::TRange{text.c_str(), text.c_str() + 1}); }, "x", false},
      {"one character", [] { return S(TypeParam('q')); }, "q", false},
      {"std string", [&] { return S(text); }, "xyz", false},
      {"engine std string", [&] { return S(typename S::TStdString(text.c_str())); }, "xyz", false},
      {"copy", [&] { return S(abcdef); }, "abcdef", true},
      {"deep copy", [&] { return S(abcdef, kDeepCopy); }, "abcdef", false},
      {"substring middle", [&] { return S(abcdef, 2, 3); }, "cde", false},
      {"substring whole", [&] { return S(abcdef, 0, 6); }, "abcdef", true},
      {"substring clamped", [&] { return S(abcdef, 4, 100); }, "ef", false},
      {"view", [&] { return S(TOrvSubString<TypeParam>(&abcdef, 1, 3)); }, "bc", false},
      {"whole view", [&] { return TOrvSubString<TypeParam>(abcdef).ToString(); }, "abcdef", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const S s = c.make();
    EXPECT_EQ(Narrow(s), c.expected);
    EXPECT_EQ(s.GetContent() == abcdef.GetContent(), c.sharesAbcdef);
  }
}

// A null range start is refused as the standard string refuses it, text included; a null range
// that is empty is the null string.
TYPED_TEST(EngineStringTest, ANullRangeStartIsRefusedWithTheStandardText) {
  using S = TOrvString<TypeParam>;
  const auto text = this->T("abc");
  const TypeParam* const null = nullptr;
  const std::uint32_t liveBefore = GetStringContentLiveCount<TypeParam>();
  try {
    const S refused(null, text.c_str() + text.size());
    ADD_FAILURE() << "a null range start was taken";
  } catch (const std::logic_error& error) {
    EXPECT_STREQ(error.what(), "basic_string::_S_construct null not valid");
  }
  EXPECT_EQ(GetStringContentLiveCount<TypeParam>(), liveBefore);
  ExpectNull(S(null, null));
}

TYPED_TEST(EngineStringTest, NulCharactersCount) {
  using S = TOrvString<TypeParam>;
  S s(TypeParam(0));
  EXPECT_EQ(s.GetLength(), 1u);
  S t;
  t += TypeParam(0);
  EXPECT_EQ(t.GetLength(), 1u);
  EXPECT_EQ(t[0], TypeParam(0));
  S u = this->Of("ab");
  u += TypeParam(0);
  EXPECT_EQ(u.GetLength(), 3u);
}

TYPED_TEST(EngineStringTest, CopiesShareOneCountedBlockAndReleaseIt) {
  using S = TOrvString<TypeParam>;
  const std::uint32_t liveBefore = GetStringContentLiveCount<TypeParam>();
  {
    auto* first = new S(this->Of("shared text"));
    EXPECT_EQ(GetStringContentLiveCount<TypeParam>(), liveBefore + 1);
    std::vector<S> copies(5, *first);
    EXPECT_EQ(first->GetRefCount(), 6);
    delete first;
    EXPECT_EQ(copies[0].GetRefCount(), 5);
    for (const S& copy : copies) EXPECT_EQ(Narrow(copy), "shared text");
    S& self = copies[1];
    self = self;
    EXPECT_EQ(Narrow(self), "shared text");
    EXPECT_EQ(self.GetRefCount(), 5);
  }
  EXPECT_EQ(GetStringContentLiveCount<TypeParam>(), liveBefore);
}

// Detach gives a handle a block of its own with a copy of the characters, shared or not; the old
// block loses that one reference.
TYPED_TEST(EngineStringTest, DetachTakesAPrivateCopyAndReleasesTheOldBlock) {
  using S = TOrvString<TypeParam>;
  const std::uint32_t liveBefore = GetStringContentLiveCount<TypeParam>();
  {
    const S original = this->Of("a text longer than any inline buffer");
    const std::uint32_t hash = original.GetHash();
    S detached = original;
    detached.Detach();
    EXPECT_NE(detached.GetContent(), original.GetContent());
    EXPECT_NE(detached.c_str(), original.c_str());
    EXPECT_EQ(Narrow(detached), "a text longer than any inline buffer");
    EXPECT_EQ(original.GetRefCount(), 1);
    EXPECT_EQ(detached.GetRefCount(), 1);
    EXPECT_EQ(original.GetContent()->GetHashWord(), hash | 0x80000000u);
    EXPECT_EQ(GetStringContentLiveCount<TypeParam>(), liveBefore + 2);

    // A sole owner moves to a new block too, and the old one goes back to the pool.
    const auto* block = detached.GetContent();
    detached.Detach();
    EXPECT_NE(detached.GetContent(), block);
    EXPECT_EQ(Narrow(detached), "a text longer than any inline buffer");
    EXPECT_EQ(GetStringContentLiveCount<TypeParam>(), liveBefore + 2);

    S empty;
    empty.Detach();
    ExpectNull(empty);
  }
  EXPECT_EQ(GetStringContentLiveCount<TypeParam>(), liveBefore);
}

TYPED_TEST(EngineStringTest, WritesCopyASharedBlockAndKeepAPrivateOne) {
  using S = TOrvString<TypeParam>;
  struct Case {
    const char* name;
    std::function<void(S&)> write;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"append", [](S& s) { s += TypeParam('!'); }, "Hello!"},
      {"element", [](S& s) { s[0] = TypeParam('J'); }, "Jello"},
      {"resize", [](S& s) { s.Resize(2); }, "He"},
      {"lower", [](S& s) { s.ToLower(); }, "hello"},
      {"replace char", [](S& s) { s.ReplaceChar(TypeParam('l'), TypeParam('L')); }, "HeLLo"},
      {"replace all", [this](S& s) { s.ReplaceAll(this->Of("ll"), this->Of("y")); }, "Heyo"},
      {"reserve", [](S& s) { s.Reserve(200); }, "Hello"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    S original = this->Of("Hello");
    const std::uint32_t hash = original.GetHash();
    const std::uint32_t hashNoCase = original.GetHashNoCase();
    S written = original;
    c.write(written);
    EXPECT_EQ(Narrow(written), c.expected);
    EXPECT_EQ(Narrow(original), "Hello");
    EXPECT_NE(written.GetContent(), original.GetContent());
    EXPECT_EQ(original.GetRefCount(), 1);
    EXPECT_EQ(original.GetContent()->GetHashWord(), hash | 0x80000000u);
    EXPECT_EQ(original.GetContent()->GetHashNoCaseWord(), hashNoCase | 0x80000000u);
    EXPECT_EQ(written.GetContent()->GetHashWord(), 0u);
    EXPECT_EQ(written.GetContent()->GetHashNoCaseWord(), 0u);

    // The sole owner writes in place.
    const auto* block = written.GetContent();
    c.write(written);
    EXPECT_EQ(written.GetContent(), block);
  }
}

TYPED_TEST(EngineStringTest, ShareOnlyWhenNothingChanges) {
  using S = TOrvString<TypeParam>;
  S upper = this->Of("ABC 123");
  S copy = upper;
  copy.ToUpper();
  EXPECT_EQ(copy.GetContent(), upper.GetContent());
  EXPECT_EQ(upper.GetUpperCase().GetContent(), upper.GetContent());
  copy.ReplaceChar(TypeParam('z'), TypeParam('y'));  // copies even without an occurrence
  EXPECT_NE(copy.GetContent(), upper.GetContent());
}

TYPED_TEST(EngineStringTest, ReserveOnEmptyGivesABlockWithAnEmptyText) {
  using S = TOrvString<TypeParam>;
  S s;
  s.Reserve(32);
  EXPECT_FALSE(s.IsEmpty());
  EXPECT_EQ(s.GetLength(), 0u);
  EXPECT_GE(s.GetCapacity(), 32u);
  EXPECT_FALSE(s == S());
  EXPECT_FALSE(s == this->T("").c_str());
  EXPECT_TRUE(S() == this->T("").c_str());
  s += this->Of("ab");
  EXPECT_EQ(Narrow(s), "ab");
}

TYPED_TEST(EngineStringTest, AssignmentFromItsOwnTextBuildsTheNewBlockFirst) {
  using S = TOrvString<TypeParam>;
  S s = this->Of("abcdef");
  s = s.c_str() + 1;
  EXPECT_EQ(Narrow(s), "bcdef");
  s = s.GetStdString();
  EXPECT_EQ(Narrow(s), "bcdef");
  s += s;
  EXPECT_EQ(Narrow(s), "bcdefbcdef");
  s += s.c_str() + 5;
  EXPECT_EQ(Narrow(s), "bcdefbcdefbcdef");
  s.Reset(const_cast<TOrvStringContent<TypeParam>*>(s.GetContent()));
  EXPECT_EQ(s.GetRefCount(), 1);
}

// ---------------------------------------------------------------- appends and concatenation

TYPED_TEST(EngineStringTest, AppendsFollowTheEmptySideRules) {
  using S = TOrvString<TypeParam>;
  const S right = this->Of("cd");
  const auto rightText = this->T("cd");
  const auto emptyText = this->T("");
  struct Case {
    const char* name;
    std::function<void(S&)> append;
    const char* expectedOnAb;
    const char* expectedOnEmpty;
    bool emptySharesRight;
  };
  const std::vector<Case> cases = {
      {"string", [&](S& s) { s += right; }, "abcd", "cd", true},
      {"empty string", [](S& s) { s += S(); }, "ab", "", false},
      {"engine std string", [&](S& s) { s += typename S::TStdString(rightText.c_str()); }, "abcd", "cd", false},
      {"text", [&](S& s) { s += rightText.c_str(); }, "abcd", "cd", false},
      {"null text", [](S& s) { s += static_cast<const TypeParam*>(nullptr); }, "ab", "", false},
      {"empty text", [&](S& s) { s += emptyText.c_str(); }, "ab", "", false},
      {"range", [&](S& s) { s += typename S::TRange{rightText.c_str(), rightText.c_str() + 2}; }, "abcd", "cd",
       false},
      {"backward range", [&](S& s) { s += typename S::TRange{rightText.c_str() + 2, rightText.c_str()}; }, "ab", "",
       false},
      {"view", [&](S& s) { s += TOrvSubString<TypeParam>(&right, 1, 2); }, "abd", "d", false},
      {"character", [](S& s) { s += TypeParam('z'); }, "abz", "z", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    S ab = this->Of("ab");
    c.append(ab);
    EXPECT_EQ(Narrow(ab), c.expectedOnAb);
    S empty;
    c.append(empty);
    EXPECT_EQ(Narrow(empty), c.expectedOnEmpty);
    EXPECT_EQ(empty.IsEmpty(), std::string(c.expectedOnEmpty).empty());
    EXPECT_EQ(empty.GetContent() == right.GetContent(), c.emptySharesRight);
  }
}

TYPED_TEST(EngineStringTest, ConcatenationSharesAnEmptySidesPartner) {
  using S = TOrvString<TypeParam>;
  const S ab = this->Of("ab");
  const S cd = this->Of("cd");
  const auto cdText = this->T("cd");
  EXPECT_EQ(Narrow(ab + cd), "abcd");
  EXPECT_EQ((ab + S()).GetContent(), ab.GetContent());
  EXPECT_EQ((S() + cd).GetContent(), cd.GetContent());
  EXPECT_EQ(Narrow(ab + cdText.c_str()), "abcd");
  EXPECT_EQ(Narrow(cdText.c_str() + ab), "cdab");
  EXPECT_EQ((ab + static_cast<const TypeParam*>(nullptr)).GetContent(), ab.GetContent());
  EXPECT_EQ(Narrow(static_cast<const TypeParam*>(nullptr) + ab), "ab");
  EXPECT_EQ(Narrow(ab + TypeParam('!')), "ab!");
  EXPECT_EQ(Narrow(S() + TypeParam('!')), "!");
  EXPECT_EQ(Narrow(ab + cdText), "abcd");
  EXPECT_EQ(Narrow(cdText + ab), "cdab");
  EXPECT_EQ(Narrow(ab + typename S::TStdString(cdText.c_str())), "abcd");
  EXPECT_EQ((std::basic_string<TypeParam>() + ab).GetContent(), ab.GetContent());
}

// ---------------------------------------------------------------- substrings

TYPED_TEST(EngineStringTest, SubstringMembers) {
  using S = TOrvString<TypeParam>;
  const S s = this->Of("abcdef");
  struct Case {
    const char* name;
    S result;
    const char* expected;
    bool shares;
  };
  const std::vector<Case> cases = {
      {"SubString(2, -1)", s.SubString(2, -1), "cdef", false},
      {"SubString(1, 2)", s.SubString(1, 2), "bc", false},
      {"SubString(0, 6)", s.SubString(0, 6), "abcdef", true},
      {"SubString(3, 0)", s.SubString(3, 0), "", false},
      {"Left(-1)", s.Left(-1), "abcdef", true},
      {"Left(2)", s.Left(2), "ab", false},
      {"Right(2)", s.Right(2), "ef", false},
      {"Right(6)", s.Right(6), "abcdef", true},
      {"DropLeft(4)", s.DropLeft(4), "ef", false},
      {"DropRight(4)", s.DropRight(4), "ab", false},
      {"DropRight(6)", s.DropRight(6), "", false},
      {"SubStringFrom(5)", s.SubStringFrom(5), "f", false},
      {"SubStringFrom(9) clamps", s.SubString(9, -1), "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Narrow(c.result), c.expected);
    EXPECT_EQ(c.result.GetContent() == s.GetContent(), c.shares);
    EXPECT_EQ(c.result.IsEmpty(), std::string(c.expected).empty());
  }
}

// ---------------------------------------------------------------- comparisons

TYPED_TEST(EngineStringTest, EqualityAndOrder) {
  using S = TOrvString<TypeParam>;
  const S abc = this->Of("abc");
  const S abc2 = this->Of("abc");
  const S abd = this->Of("abd");
  const S ab = this->Of("ab");
  const S upper = this->Of("ABC");
  EXPECT_TRUE(abc == abc2);
  EXPECT_FALSE(abc == abd);
  EXPECT_FALSE(abc == ab);
  EXPECT_TRUE(S() == S());
  EXPECT_FALSE(S() == abc);
  EXPECT_TRUE(abc != abd);
  EXPECT_TRUE(abc == this->T("abc").c_str());
  EXPECT_TRUE(this->T("abc").c_str() == abc);
  EXPECT_FALSE(abc == static_cast<const TypeParam*>(nullptr));
  EXPECT_TRUE(S() == static_cast<const TypeParam*>(nullptr));
  EXPECT_TRUE(abc == typename S::TStdString(this->T("abc").c_str()));
  EXPECT_TRUE(S() == typename S::TStdString());
  EXPECT_TRUE(this->Of("a") == TypeParam('a'));
  EXPECT_FALSE(abc == TypeParam('a'));

  // Filled hash caches that differ answer at once; equal caches still compare the characters.
  abc.GetHash();
  abd.GetHash();
  EXPECT_FALSE(abc == abd);
  abc2.GetHash();
  EXPECT_TRUE(abc == abc2);

  EXPECT_TRUE(ab < abc);
  EXPECT_TRUE(abc < abd);
  EXPECT_FALSE(abc < abc2);
  EXPECT_TRUE(S() < ab);
  EXPECT_FALSE(ab < S());
  EXPECT_TRUE(upper < abc);
  EXPECT_TRUE(abc <= abc2);
  EXPECT_TRUE(abd > abc);
  EXPECT_TRUE(abc >= abc2);
  EXPECT_FALSE(ab >= abc);
}

TYPED_TEST(EngineStringTest, CaseInsensitiveEqualityAndPrefixes) {
  using S = TOrvString<TypeParam>;
  const S file = this->Of("File.INI");
  const auto t = [this](const char* ascii) { return this->T(ascii); };
  const TypeParam* null = nullptr;

  EXPECT_TRUE(file.EqualsNoCase(this->Of("file.ini")));
  EXPECT_FALSE(file.EqualsNoCase(this->Of("file.in")));
  EXPECT_TRUE(file.EqualsNoCase(t("FILE.ini").c_str()));
  EXPECT_FALSE(file.EqualsNoCase(null));
  EXPECT_TRUE(S().EqualsNoCase(null));

  struct Case {
    const char* affix;
    bool startsWith, startsWithNoCase, endsWith, endsWithNoCase;
  };
  const std::vector<Case> cases = {
      {"", true, true, true, true},
      {"File", true, true, false, false},
      {"file", false, true, false, false},
      {".INI", false, false, true, true},
      {".ini", false, false, false, true},
      {"File.INI", true, true, true, true},
      {"file.ini", false, true, false, true},
      {"File.INI!", false, false, false, false},
      {"x", false, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.affix);
    const S affix = this->Of(c.affix);
    const auto text = t(c.affix);
    EXPECT_EQ(file.StartsWith(affix), c.startsWith);
    EXPECT_EQ(file.StartsWith(text.c_str()), c.startsWith);
    EXPECT_EQ(file.StartsWithNoCase(affix), c.startsWithNoCase);
    EXPECT_EQ(file.StartsWithNoCase(text.c_str()), c.startsWithNoCase);
    EXPECT_EQ(file.EndsWith(affix), c.endsWith);
    EXPECT_EQ(file.EndsWith(text.c_str()), c.endsWith);
    EXPECT_EQ(file.EndsWithNoCase(affix), c.endsWithNoCase);
    EXPECT_EQ(file.EndsWithNoCase(text.c_str()), c.endsWithNoCase);
  }
  // Null texts read as "".
  EXPECT_TRUE(file.StartsWith(null));
  EXPECT_TRUE(file.StartsWithNoCase(null));
  EXPECT_TRUE(file.EndsWith(null));
  EXPECT_TRUE(file.EndsWithNoCase(null));
  EXPECT_EQ(file.FindNoCase(null), -1);
  EXPECT_EQ(file.FindLastNoCase(null), -1);
  EXPECT_EQ(file.Find(null, 2), 2);
  EXPECT_EQ(file.FindLast(null), 8);
  EXPECT_EQ(file.FindFirstOf(null), -1);
}

// ---------------------------------------------------------------- searches

TYPED_TEST(EngineStringTest, CharacterAndSetSearches) {
  using S = TOrvString<TypeParam>;
  const S s = this->Of("abcabc");
  const auto set = this->T("xc");
  EXPECT_EQ(s.Find(TypeParam('b')), 1);
  EXPECT_EQ(s.Find(TypeParam('b'), 2), 4);
  EXPECT_EQ(s.Find(TypeParam('b'), 6), -1);
  EXPECT_EQ(s.Find(TypeParam('z')), -1);
  EXPECT_EQ(S().Find(TypeParam('a')), -1);
  EXPECT_EQ(s.FindFirstOf(set.c_str()), 2);
  EXPECT_EQ(s.FindFirstOf(set.c_str(), 3), 5);
  EXPECT_EQ(s.FindFirstOf(this->Of("ba")), 0);
  EXPECT_EQ(s.FindFirstOf(set.c_str(), 0u, 0u), -1);
  EXPECT_EQ(s.FindFirstOf(set.c_str(), 6), -1);
  EXPECT_EQ(s.FindLast(TypeParam('a')), 3);
  EXPECT_EQ(s.FindLast(TypeParam('a'), 2), 0);
  EXPECT_EQ(s.FindLast(TypeParam('a'), 0), 0);
  EXPECT_EQ(s.FindLast(TypeParam('c'), 100), 5);
  EXPECT_EQ(s.FindLast(TypeParam('z')), -1);
  EXPECT_EQ(S().FindLast(TypeParam('a')), -1);
}

TYPED_TEST(EngineStringTest, NeedleSearches) {
  using S = TOrvString<TypeParam>;
  const S text = this->Of("abxABab");
  struct Case {
    const char* needle;
    std::uint32_t start;
    std::int32_t find, findLast, findNoCase, findLastNoCase;
  };
  // FindLast takes `start` as the last candidate; the no-case forms take it as the first.
  const std::vector<Case> cases = {
      {"ab", 0, 0, 0, 0, 5},
      {"ab", 1, 5, 0, 3, 5},
      {"ab", 6, -1, 5, -1, -1},
      {"AB", 0, 3, -1, 0, 5},
      {"abxABab", 0, 0, 0, 0, 0},
      {"abxABabX", 0, -1, -1, -1, -1},
      {"", 2, 2, 2, -1, -1},
      {"", 9, -1, 7, -1, -1},
      {"x", 2, 2, 2, 2, 2},
      {"b", 100, -1, 6, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.needle) + " from " + std::to_string(c.start));
    const auto needle = this->T(c.needle);
    const S needleString = this->Of(c.needle);
    const typename S::TStdString needleStd(needle.c_str());
    EXPECT_EQ(text.Find(needle.c_str(), c.start), c.find);
    EXPECT_EQ(text.Find(needleString, c.start), c.find);
    EXPECT_EQ(text.Find(needleStd, c.start), c.find);
    EXPECT_EQ(text.FindLast(needle.c_str(), c.start), c.findLast);
    EXPECT_EQ(text.FindLast(needleString, c.start), c.findLast);
    EXPECT_EQ(text.FindLast(needleStd, c.start), c.findLast);
    EXPECT_EQ(text.FindNoCase(needle.c_str(), c.start), c.findNoCase);
    EXPECT_EQ(text.FindNoCase(needleString, c.start), c.findNoCase);
    EXPECT_EQ(text.FindNoCase(needleStd, c.start), c.findNoCase);
    EXPECT_EQ(text.FindLastNoCase(needle.c_str(), c.start), c.findLastNoCase);
    EXPECT_EQ(text.FindLastNoCase(needleString, c.start), c.findLastNoCase);
    EXPECT_EQ(text.FindLastNoCase(needleStd, c.start), c.findLastNoCase);
  }
  EXPECT_EQ(this->Of("abc").FindLast(this->T("").c_str()), 3);
  EXPECT_EQ(this->Of("abxAB").FindLastNoCase(this->T("ab").c_str(), 0), 3);
  EXPECT_EQ(this->Of("abxAB").FindLastNoCase(this->T("B").c_str(), 4), 4);
}

// ---------------------------------------------------------------- case and replacing

TYPED_TEST(EngineStringTest, CaseChanges) {
  using S = TOrvString<TypeParam>;
  struct Case {
    const char* text;
    const char* upper;
    const char* lower;
    bool isLower, isUpper;
  };
  const std::vector<Case> cases = {
      {"", "", "", true, true},
      {"Hello, World 42", "HELLO, WORLD 42", "hello, world 42", false, false},
      {"abc_9", "ABC_9", "abc_9", true, false},
      {"ABC_9", "ABC_9", "abc_9", false, true},
      {"1 2 3", "1 2 3", "1 2 3", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const S s = this->Of(c.text);
    EXPECT_EQ(Narrow(s.GetUpperCase()), c.upper);
    EXPECT_EQ(Narrow(s.GetLowerCase()), c.lower);
    EXPECT_EQ(s.IsLowerCase(), c.isLower);
    EXPECT_EQ(s.IsUpperCase(), c.isUpper);
    EXPECT_EQ(Narrow(s), c.text);
  }
}

TYPED_TEST(EngineStringTest, ReplaceAll) {
  using S = TOrvString<TypeParam>;
  struct Case {
    const char* text;
    const char* search;
    const char* replacement;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"it's", "'", "\\'", "it\\'s"},
      {"abab", "ab", "abab", "abababab"},
      {"aaa", "a", "", ""},
      {"xaay", "a", "", "xy"},
      {"abc", "", "z", "abc"},
      {"abc", "d", "z", "abc"},
      {"", "a", "b", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + c.search);
    S s = this->Of(c.text);
    s.ReplaceAll(this->Of(c.search), this->Of(c.replacement));
    EXPECT_EQ(Narrow(s), c.expected);
    EXPECT_EQ(s.IsEmpty(), std::string(c.expected).empty());
  }
  S self = this->Of("abc");
  self.ReplaceAll(self, this->Of("x"));
  EXPECT_EQ(Narrow(self), "x");
}

// One pass: however many occurrences, the new text is laid out once at its final length, instead
// of growing and shifting its tail again at every occurrence.
TYPED_TEST(EngineStringTest, ReplaceAllLaysTheNewTextOutOnce) {
  using S = TOrvString<TypeParam>;
  struct Case {
    const char* what;
    std::string text;
    const char* search;
    std::string replacement;
  };
  const std::vector<Case> cases = {
      {"growing", std::string(64, 'a'), "a", std::string(1000, 'r')},
      {"shrinking", "x" + std::string(3000, 'a') + "x", "aa", "b"},
      {"between other text", std::string(200, '.') + "ab" + std::string(200, '.') + "abab", "ab", "abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string expected;
    for (std::size_t at = 0; at < c.text.size();) {
      if (c.text.compare(at, std::strlen(c.search), c.search) == 0) {
        expected += c.replacement;
        at += std::strlen(c.search);
      } else {
        expected += c.text[at++];
      }
    }
    const S search = this->Of(c.search);
    const S replacement = this->Of(c.replacement.c_str());
    // Everything the window allocates is freed in it.
    int layouts = 0;
    bool replaced = false;
    OrvTest::InstallSeam();
    {
      S s = this->Of(c.text.c_str());
      const int before = OrvTest::g_seam.allocations + OrvTest::g_seam.reallocations;
      s.ReplaceAll(search, replacement);
      layouts = OrvTest::g_seam.allocations + OrvTest::g_seam.reallocations - before;
      replaced = Narrow(s) == expected;
    }
    OrvTest::RestoreSeam();
    EXPECT_LE(layouts, 1);
    EXPECT_TRUE(replaced);
  }
}

// ---------------------------------------------------------------- substring views

TYPED_TEST(EngineStringTest, ViewsHashAndCompareLikeTheirText) {
  using S = TOrvString<TypeParam>;
  using V = TOrvSubString<TypeParam>;
  const S path = this->Of("data:Maps/Level.One.ini//");
  const S level = this->Of("LEVEL");
  const V whole(path);
  const V part(&path, 10, 15);  // "Level"
  EXPECT_EQ(whole.GetHash(), path.GetHash());
  EXPECT_EQ(whole.GetHashNoCase(), path.GetHashNoCase());
  EXPECT_EQ(part.GetHash(), this->Of("Level").GetHash());
  EXPECT_EQ(part.GetHashNoCase(), level.GetHashNoCase());
  EXPECT_EQ(V().GetHash(), 0u);
  EXPECT_TRUE(V().IsEmpty());

  // Equality reads characters only; views without a string or of no characters never read them.
  const S other = this->Of("xLevelx");
  struct EqualityCase {
    const char* name;
    V a;
    V b;
    bool equal;
    bool equalNoCase;
  };
  const std::vector<EqualityCase> equalities = {
      {"same view", part, V(part, 0, 5), true, true},
      {"same text in another string", part, V(&other, 1, 6), true, true},
      {"case differs", part, V(level), false, true},
      {"lengths differ", part, V(&level, 0, 4), false, false},
      {"same length, text differs", V(&path, 0, 4), V(&path, 5, 9), false, false},
      {"default and empty sub-view", V(), V(&path, 3, 3), true, true},
      {"empty views at different places", V(&path, 3, 3), V(&level, 5, 5), true, true},
      {"string-less and default", V(nullptr, 0, 0), V(), true, true},
      {"string-less and empty sub-view", V(nullptr, 0, 0), V(&path, 2, 2), true, true},
      {"two string-less", V(nullptr, 0, 0), V(nullptr, 0, 0), true, true},
      {"string-less and text", V(nullptr, 0, 0), part, false, false},
  };
  for (const EqualityCase& c : equalities) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.a == c.b, c.equal);
    EXPECT_EQ(c.b == c.a, c.equal);
    EXPECT_EQ(c.a != c.b, !c.equal);
    EXPECT_EQ(c.b != c.a, !c.equal);
    EXPECT_EQ(c.a.EqualsNoCase(c.b), c.equalNoCase);
    EXPECT_EQ(c.b.EqualsNoCase(c.a), c.equalNoCase);
  }

  EXPECT_TRUE(V(&path, 1, 2) < V(&path, 0, 1));  // "a" < "d"
  EXPECT_FALSE(V(&path, 0, 1) < V(&path, 1, 2));
  EXPECT_TRUE(V(&path, 1, 2) <= V(&path, 3, 4));
  EXPECT_EQ(part.GetRange().begin, path.GetData() + 10);
  EXPECT_EQ(V(nullptr, 0, 0).GetRange().begin, nullptr);
  EXPECT_EQ(part[1], TypeParam('e'));

  EXPECT_EQ(part.Find(TypeParam('e')), 1);
  EXPECT_EQ(part.Find(TypeParam('e'), 2), 3);
  EXPECT_EQ(part.Find(TypeParam('O')), -1);  // only after the view's end
  EXPECT_EQ(part.Find(TypeParam('#')), -1);
  EXPECT_EQ(V(nullptr, 0, 0).Find(TypeParam('a')), -1);

  EXPECT_EQ(Narrow(StripTrailingSeparators(whole).ToString()), "data:Maps/Level.One.ini");
  EXPECT_TRUE(StripTrailingSeparators(V(&path, 23, 25)).IsEmpty());
  EXPECT_EQ(Narrow(ExtractExtension(StripTrailingSeparators(whole)).ToString()), "ini");
  EXPECT_TRUE(ExtractExtension(part).IsEmpty());
  EXPECT_EQ(Narrow(SkipMountingPointPrefix(path).ToString()), "Maps/Level.One.ini//");
  EXPECT_EQ(SkipMountingPointPrefix(part), part);
}

// ---------------------------------------------------------------- hash caches

// A block's characters changed behind its caches show whether a hash is read from the cache or
// computed again: a recomputation would follow the new text.
template <typename CharT>
void ChangeBehindTheCaches(const TOrvString<CharT>& s, CharT c) {
  const_cast<CharT*>(s.c_str())[0] = c;
}

TYPED_TEST(EngineStringTest, HashesAreComputedOncePerBlock) {
  using S = TOrvString<TypeParam>;
  const S s = this->Of("Level");
  const S copy = s;
  ASSERT_EQ(s.GetContent()->GetHashWord(), 0u);
  ASSERT_EQ(s.GetContent()->GetHashNoCaseWord(), 0u);
  const std::uint32_t hash = s.GetHash();
  const std::uint32_t hashNoCase = s.GetHashNoCase();
  EXPECT_EQ(s.GetContent()->GetHashWord(), hash | 0x80000000u);
  EXPECT_EQ(s.GetContent()->GetHashNoCaseWord(), hashNoCase | 0x80000000u);

  ChangeBehindTheCaches(s, TypeParam('Z'));
  ASSERT_NE(this->Of("Zevel").GetHash(), hash);
  ASSERT_NE(this->Of("Zevel").GetHashNoCase(), hashNoCase);
  EXPECT_EQ(s.GetHash(), hash);
  EXPECT_EQ(s.GetHashNoCase(), hashNoCase);
  EXPECT_EQ(copy.GetHash(), hash);  // the copy reads the cache of the block it shares
  EXPECT_EQ(copy.GetHashNoCase(), hashNoCase);
}

TEST(EngineStringHashTest, AZeroHashIsCachedWithTheValidBit) {
  // This text's djb2 is 0x80000000: its masked hash 0 is cached as 0x80000000 and never computed
  // again, though the word's hash bits are all 0.
  const TNarrow zero("hxfWOqH6");
  ASSERT_EQ(zero.GetContent()->GetHashWord(), 0u);
  EXPECT_EQ(zero.GetHash(), 0u);
  EXPECT_EQ(zero.GetContent()->GetHashWord(), 0x80000000u);
  ChangeBehindTheCaches(zero, 'X');
  ASSERT_NE(TNarrow("XxfWOqH6").GetHash(), 0u);
  EXPECT_EQ(zero.GetHash(), 0u);
  EXPECT_EQ(zero.GetContent()->GetHashWord(), 0x80000000u);

  EXPECT_EQ(TNarrow("abc").GetHash(), 193485963u);
  EXPECT_EQ(TNarrow("ABC").GetHashNoCase(), 193485963u);
  EXPECT_EQ(TWide(L"a").GetHash(), 2089959494u);
  EXPECT_EQ(TWide(L"A").GetHashNoCase(), 84696446u);
  EXPECT_EQ(TWide(L"Level").GetHash(), HashWideStringDjb2(L"Level"));
}

// ---------------------------------------------------------------- form-specific behaviour

TEST(EngineStringFormTest, WideTrimAndUtf16Units) {
  EXPECT_TRUE(TWide(L"   ").Trim().IsEmpty());
  EXPECT_TRUE(TWide().Trim().IsEmpty());
  EXPECT_EQ(TWide(L"x").Trim(), L"x");
  EXPECT_EQ(TWide(L" \t a b \n").Trim(), L"a b");
  const TWide same(L"ab");
  EXPECT_EQ(same.Trim().GetContent(), same.GetContent());

  const std::uint16_t units[] = {0x41, 0xD83D, 0xDE00, 0xFFFF};
  const TWide wide(units, units + 4);
  ASSERT_EQ(wide.GetLength(), 4u);
  EXPECT_EQ(wide[1], 0xD83D);
  EXPECT_EQ(wide[3], 0xFFFF);

  // Wide case-insensitive equality compares through wcscasecmp only.
  EXPECT_TRUE(TWide(L"abc").EqualsNoCase(TWide(L"ABC")));
  EXPECT_TRUE(TWide(L"abc").EqualsNoCase(L"AbC"));
}

TEST(EngineStringFormTest, ToIntegerOfStringsAndViews) {
  EXPECT_EQ(ToInteger(TNarrow("-12")), -12);
  EXPECT_EQ(ToInteger(TNarrow()), 0);
  const TNarrow text("id=42;");
  EXPECT_EQ(ToInteger(TOrvSubString<char>(&text, 3, 5)), 42);
  EXPECT_EQ(ToInteger(TOrvSubString<char>()), 0);
}

TEST(EngineStringFormTest, StreamInsertionConvertsBetweenForms) {
  std::ostringstream narrow;
  narrow << TNarrow("caf\xC3\xA9") << TNarrow() << TWide(L"\u00E9\xD83D\xDE00");
  EXPECT_EQ(narrow.str(), "caf\xC3\xA9\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_TRUE(narrow.good());

  std::wostringstream wide;
  wide << TNarrow("caf\xC3\xA9") << TNarrow() << TWide(L"!");
  EXPECT_EQ(wide.str(), L"caf\u00E9!");
  EXPECT_TRUE(wide.good());

  // Up to the first NUL only.
  TNarrow withNul("ab");
  withNul += '\0';
  withNul += 'c';
  std::ostringstream cut;
  cut << withNul;
  EXPECT_EQ(cut.str(), "ab");

  EXPECT_EQ(static_cast<std::string>(TNarrow("x")), "x");
  EXPECT_EQ(static_cast<std::wstring>(TWide()), L"");
}

TEST(EngineStringFailureTest, FailedBlocksLeaveTheHandlesAsTheyWere) {
  const std::uint32_t liveBefore = GetStringContentLiveCount<char>();
  const char* end = "abc";
  EXPECT_THROW(TNarrow(static_cast<const char*>(nullptr), end), std::logic_error);
  EXPECT_EQ(GetStringContentLiveCount<char>(), liveBefore);

  // A pool element is free to take, but the copy's characters cannot be allocated.
  TNarrow spare("spare");
  spare.Clear();
  const TNarrow original("a text too long for the inline buffer");
  TNarrow shared = original;
  bool threw = false;
  OrvTest::InstallSeam();
  OrvTest::g_seam.failAllocate = true;
  try {
    shared += 'x';
  } catch (const std::bad_alloc&) {
    threw = true;
  }
  OrvTest::RestoreSeam();
  EXPECT_TRUE(threw);
  EXPECT_EQ(shared.GetContent(), original.GetContent());
  EXPECT_EQ(original.GetRefCount(), 2);
  EXPECT_EQ(shared, "a text too long for the inline buffer");
  EXPECT_EQ(GetStringContentLiveCount<char>(), liveBefore + 1);
}

// Takes the pools down and back up: only the strings it makes are alive meanwhile.
TEST(EngineStringLifecycleTest, StringsOutlivingTheirPoolDoNothingWhenDestroyed) {
  const OrvTest::TTokenTablesSnapshot tables;
  auto* narrow = new TNarrow("a text long enough to live on the string heap");
  auto* wide = new TWide(L"wide");
  // The thread-local storage keeps its slot names in engine strings, and the well-known names, the
  // file-name registries and the token tables theirs: they go first, as at shutdown.
  DetachThreadFromEngine();
  DestroyThreadLocalStorageManager();
  TWellKnownNames::Destroy();
  DestroyFileExtensionRegistry();
  TFileNameRegistry::Destroy();
  DestroyAllInternedTokenTables();
  ShutdownStringLibrary();
  EXPECT_EQ(GetStringContentPool<char>(), nullptr);
  EXPECT_EQ(GetStringContentLiveCount<char>(), 0u);
  delete narrow;
  delete wide;
  InitStringLibrary();
  ASSERT_NE(GetStringContentPool<char>(), nullptr);
  EXPECT_GE(GetHexFloatStreamFlagIndex(), 0);
  EXPECT_EQ(GetStringContentLiveCount<char>(), 0u);
  EXPECT_EQ(TNarrow("again"), "again");
  InitInternedTokenTables();
  tables.Restore();
  TFileNameRegistry::Create();
  TFileExtensionRegistry::Create();
  TWellKnownNames::Create();
  RegisterThreadLocalHeapSlot();
  AttachThreadToEngine();
}

}  // namespace
}  // namespace Orvan
