#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "core/diagnostics/dialog.h"
#include "core/diagnostics/engine_exception.h"
#include "core/threads/thread.h"
#include "core/threads/thread_attachment.h"
#include "support/dialog_recorder.h"

namespace Orvan {
namespace {

class TBody final : public TRunnableObject {
 public:
  explicit TBody(std::function<void()> body) : body_(std::move(body)) {}
  void Run() override { body_(); }

 private:
  std::function<void()> body_;
};

// Escaping exceptions become one uncaught-exception dialog each, and the thread's run still ends.
TEST(RunCatchingExceptionsThreaded, EscapingExceptionsBecomeDialogs) {
  const struct {
    const char* name;
    std::function<void()> body;
    const char* text;
  } cases[] = {
      {"EException", [] { throw EException(TOrvString<wchar_t>(L"disk \u00E9 gone")); },
       "Uncatched EException : disk \xC3\xA9 gone\n"},
      {"std::bad_alloc", [] { throw std::bad_alloc(); }, "NOT ENOUGH MEMORY!"},
      {"std::exception", [] { throw std::runtime_error("boom"); }, "Uncatched std::exception : boom\n"},
      {"normal return", [] {}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OrvTest::TDialogRecorder dialogs;
    const std::uint32_t attachedBefore = GetAttachedThreadCount();
    TBody runnable(c.body);
    EXPECT_NE(runnable.Start(nullptr, 3, 65536, "catching"), 0u);
    runnable.Join();
    EXPECT_FALSE(runnable.IsRunning());
    EXPECT_EQ(GetAttachedThreadCount(), attachedBefore);
    if (c.text == nullptr) {
      EXPECT_TRUE(dialogs.Dialogs().empty());
      continue;
    }
    ASSERT_EQ(dialogs.Dialogs().size(), 1u);
    const OrvTest::TRecordedDialog& dialog = dialogs.Dialogs()[0];
    EXPECT_EQ(dialog.text, c.text);
    EXPECT_TRUE(OrvTest::IsQuitGameWarning(dialog, kUncaughtExceptionDialogId));
  }
}

TEST(RunCatchingExceptionsThreaded, AnswersZeroOrOneAndLetsOtherExceptionsPass) {
  OrvTest::TDialogRecorder dialogs;
  std::uint32_t normal = 99;
  std::uint32_t caught = 99;
  bool otherPassed = false;
  std::thread worker([&] {
    TBody quiet([] {});
    normal = RunCatchingExceptions(&quiet);
    TBody failing([] { throw std::logic_error("x"); });
    caught = RunCatchingExceptions(&failing);
    TBody odd([] { throw 42; });
    try {
      RunCatchingExceptions(&odd);
    } catch (int value) {
      otherPassed = value == 42 && !odd.IsRunning();
    }
  });
  worker.join();
  EXPECT_EQ(normal, 0u);
  EXPECT_EQ(caught, 1u);
  EXPECT_TRUE(otherPassed);
  EXPECT_EQ(dialogs.Dialogs().size(), 1u);
}

}  // namespace
}  // namespace Orvan
