// The exceptions and argument adapters that carry file names: missing files, unmounted mounting
// points, and a file name as a formatting argument.
#include "core/filesystem/file_name_errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>
#include <string>

#include "core/diagnostics/engine_exception_kinds.h"
#include "core/filesystem/file_name.h"
#include "core/text/positional_format.h"
#include "support/dialog_recorder.h"

namespace Orvan {
namespace {

TEST(FileNameErrors, FileExceptionsCarryTheTextForm) {
  const TFileName name("DataDir:/a/b");
  EXPECT_STREQ(EFileNotFound(name).what(), "File not found : DataDir:/a/b");
  EXPECT_STREQ(EFileNotFound(2, TFileName("a\\b")).what(), "File not found : a/b");
  EXPECT_STREQ(EFileMappingFailed(name).what(), "File mapping failed : DataDir:/a/b");
  EXPECT_STREQ(EFileMappingFailed(12, TFileName()).what(), "File mapping failed : ");
  EXPECT_STREQ(EFileException(0, L"Prefix ", name).what(), "Prefix DataDir:/a/b");
  EXPECT_STREQ(EVolumeFull().what(), "The volume is full");
  try {
    throw EFileNotFound(name);
  } catch (const EFileException& failure) {
    EXPECT_STREQ(failure.what(), "File not found : DataDir:/a/b");
  }
}

TEST(FileNameErrors, ThrowFileNotFoundAsksOnceAndThrowsEveryTime) {
  OrvTest::TDialogRecorder dialogs;
  const TFileName name("DataDir:/a/b");
  for (int call = 0; call < 2; ++call) {
    errno = ENOENT;
    EXPECT_THROW(ThrowFileNotFound(name), EFileNotFound) << call;
  }
  // The first answer (yes) suppressed the site.
  ASSERT_EQ(dialogs.Dialogs().size(), 1u);
  const OrvTest::TRecordedDialog& dialog = dialogs.Dialogs()[0];
  EXPECT_TRUE(OrvTest::IsQuitGameWarning(dialog, kFileNotFoundDialogId));
  EXPECT_EQ(dialog.text, "\"DataDir:/a/b\" not found in non-tolerant code!");
  try {
    ThrowFileNotFound(name);
  } catch (const EFileNotFound& failure) {
    EXPECT_STREQ(failure.what(), "File not found : DataDir:/a/b");
  }
}

TEST(FileNameErrors, MountingPointNotFoundNamesTheMountingPoint) {
  const TFileName name("Missing:x/y");
  try {
    ThrowMountingPointNotFound(name);
  } catch (const EMountingPointNotFound& failure) {
    EXPECT_STREQ(failure.what(), "Mouting point not found! : Missing");
    EXPECT_EQ(failure.GetMountingPointId(), name.GetMountingPoint());
  }
}

TEST(FileNameErrors, OnlyComponentsWithForbiddenBytesThrow) {
  for (int byte = 0; byte < 256; ++byte) {
    const char text[1] = {static_cast<char>(byte)};
    const bool allowed = byte >= 0x01 && byte <= 0x7F && std::string("\"*/:<>?\\|").find(char(byte)) == std::string::npos;
    EXPECT_EQ(IsAllowedFileNameByte(static_cast<unsigned char>(byte)), allowed) << byte;
    if (allowed) {
      EXPECT_NO_THROW(CheckFileNameComponent({text, text + 1})) << byte;
    } else {
      EXPECT_THROW(CheckFileNameComponent({text, text + 1}), EInvalidFileName) << byte;
    }
  }
}

TEST(FileNameErrors, FileNamesAsFormattingArguments) {
  // Parsing refuses bytes above 0x7F; a suffix brings UTF-8 in.
  TFileName name("Maps:dir");
  name.AppendToLastComponent("\xC3\xA9");
  const TStringStreamableImpl<const TFileName> argument(name);
  const TStringStreamable* arguments[] = {&argument};
  EXPECT_TRUE(Format(L"[%1]", arguments, 1) == TOrvString<wchar_t>(L"[Maps:/dir\u00E9]"));
  char narrow[8];
  EXPECT_EQ(argument.PrintTo(narrow, sizeof(narrow)), 11);
  EXPECT_STREQ(narrow, "Maps:/d");
  wchar_t wide[32];
  EXPECT_GT(argument.PrintTo(wide, 32), 0);
  EXPECT_STREQ(wide, L"Maps:/dir\u00E9");

  // Narrow streams get at most 1023 characters; wide ones the whole text.
  const std::string component(2000, 'c');
  const TFileName longName(("M:" + component).c_str());
  const TStringStreamableImpl<const TFileName> longArgument(longName);
  std::ostringstream narrowStream;
  longArgument.StreamTo(narrowStream);
  EXPECT_EQ(narrowStream.str(), ("M:/" + component).substr(0, 1023));
  std::wostringstream wideStream;
  longArgument.StreamTo(wideStream);
  EXPECT_EQ(wideStream.str().size(), 2003u);
}

TEST(FileNameErrors, WideStreamsGetNothingOfAMalformedText) {
  TFileName name("ok/name");
  std::wostringstream good;
  WriteFileNameToWideStream(good, name) << L"|";
  EXPECT_EQ(good.str(), L"ok/name|");
  name.AppendToLastComponent("\xFF");
  std::wostringstream bad;
  WriteFileNameToWideStream(bad, name) << L"|";
  EXPECT_EQ(bad.str(), L"|");
  EXPECT_TRUE(bad.good());
  std::wostringstream empty;
  WriteFileNameToWideStream(empty, TFileName());
  EXPECT_TRUE(empty.good());
}

}  // namespace
}  // namespace Orvan
