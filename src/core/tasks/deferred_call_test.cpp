#include "core/tasks/deferred_call.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/tasks/command_buffer_evaluator.h"
#include "core/tasks/command_buffer_system_data.h"
#include "core/tasks/completion_port.h"
#include "core/tasks/deferred_call_stack.h"
#include "core/tasks/software_command_buffer.h"
#include "core/text/engine_string.h"
#include "core/threads/thread_id.h"
#include "support/dialog_recorder.h"
#include "support/pool_checks.h"
#include "support/threads_together.h"

namespace {

using namespace Orvan;

std::uint32_t FunctionCallsLive() {
  const auto* pool = TDeferredFunctionCallPool::GetInstancePointer();
  return pool != nullptr ? pool->GetLiveCount() : 0;
}
std::uint32_t MemberCallsLive() {
  const auto* pool = TDeferredMemberCallPool::GetInstancePointer();
  return pool != nullptr ? pool->GetLiveCount() : 0;
}

std::string g_functionLog;
void LogFunction() { g_functionLog += "function;"; }
void DoNothing() {}

class TTarget {
 public:
  virtual ~TTarget() = default;
  virtual void Virtual() { log += "base;"; }
  void Zero() { log += "zero;"; }
  void OneInt(std::uint32_t a) { log += "int " + std::to_string(a) + ";"; }
  void OneString(const TOrvString<char>& a) { log += "string " + std::string(a) + ";"; }
  void TwoInts(std::uint32_t a, std::uint64_t b) { log += "ints " + std::to_string(a) + " " + std::to_string(b) + ";"; }
  void IntAndString(std::int32_t a, const TOrvString<char>& b) {
    log += "int+string " + std::to_string(a) + " " + std::string(b) + ";";
  }
  void Throw() { throw std::runtime_error("boom"); }
  void ThrowInt() { throw 42; }

  std::string log;
};

class TDerivedTarget final : public TTarget {
 public:
  void Virtual() override { log += "override;"; }
};

TEST(DeferredCall, EveryFormRunsWithItsStoredArgumentsAndGoesBackToItsPool) {
  TDerivedTarget target;
  struct TCase {
    const char* name;
    std::function<TDeferredCallHolder()> make;
    std::string expected;
  };
  const TOrvString<char> hello("hello");
  const std::vector<TCase> cases = {
      {"member, no argument", [&] { return MakeDeferredMemberCall<TTarget>(&target, &TTarget::Zero); }, "zero;"},
      {"member, one integer", [&] { return MakeDeferredMemberCall<TTarget>(&target, &TTarget::OneInt, 1u); }, "int 1;"},
      {"member, one string", [&] { return MakeDeferredMemberCall<TTarget>(&target, &TTarget::OneString, hello); },
       "string hello;"},
      {"member, a string made for the call",
       [&] { return MakeDeferredMemberCall<TTarget>(&target, &TTarget::OneString, TOrvString<char>("world")); },
       "string world;"},
      {"member, two integers",
       [&] { return MakeDeferredMemberCall<TTarget>(&target, &TTarget::TwoInts, 1u, std::uint64_t{5}); }, "ints 1 5;"},
      {"member, integer and string",
       [&] {
         return MakeDeferredMemberCall<TTarget>(&target, &TTarget::IntAndString, -3, TOrvString<char>("world"));
       },
       "int+string -3 world;"},
      {"virtual member runs the override",
       [&] { return MakeDeferredMemberCall<TTarget>(&target, &TTarget::Virtual); }, "override;"},
  };
  const std::uint32_t memberStart = MemberCallsLive();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    target.log.clear();
    TDeferredCallHolder call = c.make();
    EXPECT_EQ(MemberCallsLive(), memberStart + 1);
    call->EvalNow(nullptr);
    call.reset();
    EXPECT_EQ(target.log, c.expected);
    EXPECT_EQ(MemberCallsLive(), memberStart);
  }

  const std::uint32_t functionStart = FunctionCallsLive();
  g_functionLog.clear();
  TDeferredCallHolder call = MakeDeferredCall(&LogFunction);
  EXPECT_EQ(FunctionCallsLive(), functionStart + 1);
  call->EvalNow(nullptr);
  call.reset();
  EXPECT_EQ(g_functionLog, "function;");
  EXPECT_EQ(FunctionCallsLive(), functionStart);
}

TEST(DeferredCall, AStoredStringKeepsItsTextAfterTheCallerLetsGo) {
  TTarget target;
  TDeferredCallHolder call;
  {
    TOrvString<char> text("kept");
    call = MakeDeferredMemberCall<TTarget>(&target, &TTarget::OneString, text);
  }
  call->EvalNow(nullptr);
  EXPECT_EQ(target.log, "string kept;");
}

TEST(DeferredCall, DeletingACallDeletesItsChain) {
  TTarget target;
  const std::uint32_t start = MemberCallsLive();
  TDeferredCallHolder first = MakeDeferredMemberCall<TTarget>(&target, &TTarget::Zero);
  TDeferredCallHolder second = MakeDeferredMemberCall<TTarget>(&target, &TTarget::Zero);
  second->SetOnAfterEval(MakeDeferredMemberCall<TTarget>(&target, &TTarget::Zero));
  first->SetOnAfterEval(std::move(second));
  EXPECT_EQ(MemberCallsLive(), start + 3);
  first.reset();
  EXPECT_EQ(MemberCallsLive(), start);
}

// ---- Stacks.

TEST(DeferredCallStack, PopOnAnEmptyStackAnswersFalseAndLeavesTheHolder) {
  TAbstractDeferredCallThreadSafeStack stack;
  TDeferredCallHolder holder = MakeDeferredCall(&DoNothing);
  TAbstractDeferredCall* held = holder.get();
  EXPECT_FALSE(stack.Pop(holder));
  EXPECT_EQ(holder.get(), held);
  EXPECT_FALSE(stack.PopSingleConsumer(holder));
  EXPECT_EQ(holder.get(), held);
}

TEST(DeferredCallStack, PushLeavesTheHolderNullAndPopsComeLastInFirstOut) {
  TTarget target;
  TAbstractDeferredCallThreadSafeStack stack;
  TDeferredCallHolder a = MakeDeferredMemberCall<TTarget>(&target, &TTarget::OneInt, 1u);
  TDeferredCallHolder b = MakeDeferredMemberCall<TTarget>(&target, &TTarget::OneInt, 2u);
  TAbstractDeferredCall* aPointer = a.get();
  EXPECT_EQ(stack.Push(a), nullptr);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(stack.Push(b), aPointer);
  TDeferredCallHolder popped;
  ASSERT_TRUE(stack.Pop(popped));
  popped->EvalNow(nullptr);
  ASSERT_TRUE(stack.Pop(popped));  // the first popped call is deleted here
  popped->EvalNow(nullptr);
  EXPECT_EQ(target.log, "int 2;int 1;");
  EXPECT_TRUE(stack.IsEmpty());
}

TEST(DeferredCallStack, DrainAndRunRunsInPushOrder) {
  TTarget target;
  TAbstractDeferredCallThreadSafeStack stack;
  for (std::uint32_t i = 0; i < 3; ++i) {
    TDeferredCallHolder call = MakeDeferredMemberCall<TTarget>(&target, &TTarget::OneInt, i);
    stack.Push(call);
  }
  stack.DrainAndRun();
  EXPECT_EQ(target.log, "int 0;int 1;int 2;");
  EXPECT_TRUE(stack.IsEmpty());
}

TEST(DeferredCallStack, DrainAndRunDeletesTheCallsLeftWhenOneThrowsAndTheirPortsComplete) {
  TSoftwareCommandBufferEvaluator immediate("IMM", true, 0, 2);
  TTarget target;
  const std::uint32_t start = MemberCallsLive();
  TAbstractDeferredCallThreadSafeStack stack;
  TDeferredCallHolder a = MakeDeferredMemberCall<TTarget>(&target, &TTarget::OneInt, 1u);
  TDeferredCallHolder b = MakeDeferredMemberCall<TTarget>(&target, &TTarget::Throw);
  TDeferredCallHolder c = MakeDeferredMemberCall<TTarget>(&target, &TTarget::OneInt, 3u);
  TSoftwareCommandBufferCompletionPort port(&immediate, GetCurrentThreadId(), "c's port");
  {
    TCompletionPortHandleRef handle = port.AttachHandle(3);
    AttachCall(c.get(), handle);
  }
  EXPECT_NE(port.GetState() & TSoftwareCommandBufferCompletionPort::kPending, 0u);
  stack.Push(a);
  stack.Push(b);
  stack.Push(c);
  EXPECT_THROW(stack.DrainAndRun(), std::runtime_error);
  EXPECT_EQ(target.log, "int 1;");
  EXPECT_EQ(MemberCallsLive(), start);
  EXPECT_EQ(port.GetState() & TSoftwareCommandBufferCompletionPort::kPending, 0u);
  EXPECT_TRUE(stack.IsEmpty());
}

TEST(DeferredCallStack, DrainAndRunSplicesAPushedBufferAndRunsItInOrder) {
  TTarget target;
  const std::uint32_t start = MemberCallsLive();
  TSoftwareCommandBufferRef parallel = TSoftwareCommandBufferRef::Create(true);
  for (std::uint32_t i = 1; i <= 2; ++i) {
    TDeferredCallHolder call = MakeDeferredMemberCall<TTarget>(&target, &TTarget::OneInt, i);
    parallel->AddCall(call);
  }
  TAbstractDeferredCallThreadSafeStack stack;
  DeferPushCommandBuffer(stack, parallel);
  EXPECT_FALSE(parallel);
  TDeferredCallHolder last = MakeDeferredMemberCall<TTarget>(&target, &TTarget::OneInt, 3u);
  stack.Push(last);
  TSoftwareCommandBufferRef empty = TSoftwareCommandBufferRef::Create(false);
  DeferPushCommandBuffer(stack, empty);
  stack.DrainAndRun();
  EXPECT_EQ(target.log, "int 1;int 2;int 3;");
  EXPECT_EQ(MemberCallsLive(), start);
  EXPECT_EQ(OrvTest::LivePoolObjects<TSoftwareCommandBuffer>(), 0u);
}

TEST(DeferredCallStack, TakeAllMovesTheWholeListAndDeleteAllRunsNothing) {
  TTarget target;
  const std::uint32_t start = MemberCallsLive();
  TAbstractDeferredCallThreadSafeStack source;
  for (std::uint32_t i = 0; i < 3; ++i) {
    TDeferredCallHolder call = MakeDeferredMemberCall<TTarget>(&target, &TTarget::OneInt, i);
    source.Push(call);
  }
  TAbstractDeferredCallThreadSafeStack taken;
  taken.TakeAll(source);
  EXPECT_TRUE(source.IsEmpty());
  EXPECT_FALSE(taken.IsEmpty());
  taken.DeleteAll();
  EXPECT_TRUE(taken.IsEmpty());
  EXPECT_EQ(target.log, "");
  EXPECT_EQ(MemberCallsLive(), start);
}

TEST(DeferredCallStackThreaded, EightThreadsPushingAndPoppingPopEachCallOnce) {
  constexpr std::uint32_t kThreads = 8;
  constexpr std::uint32_t kCallsPerThread = 2000;
  std::vector<std::vector<TAbstractDeferredCall*>> made(kThreads);
  for (auto& calls : made) {
    for (std::uint32_t i = 0; i < kCallsPerThread; ++i) calls.push_back(MakeDeferredCall(&DoNothing).release());
  }
  TAbstractDeferredCallThreadSafeStack stack;
  std::vector<std::vector<TAbstractDeferredCall*>> popped(kThreads);
  OrvTest::RunOnThreadsTogether(kThreads, [&](std::uint32_t index) {
    for (TAbstractDeferredCall* call : made[index]) {
      stack.PushPointer(call);
      if (TAbstractDeferredCall* taken = stack.PopPointer()) popped[index].push_back(taken);
    }
  });
  std::vector<TAbstractDeferredCall*> all;
  for (auto& calls : popped) all.insert(all.end(), calls.begin(), calls.end());
  while (TAbstractDeferredCall* call = stack.PopPointer()) all.push_back(call);
  ASSERT_EQ(all.size(), std::size_t{kThreads} * kCallsPerThread);
  std::sort(all.begin(), all.end());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
  for (TAbstractDeferredCall* call : all) delete call;
}

// ---- Stamping and execution.

class TStamper {
 public:
  void StampThree() {
    for (TDeferredCallHolder& call : made) {
      call = MakeDeferredCall(&DoNothing);
      StampOrderingIds(call.get());
    }
  }
  TDeferredCallHolder made[3];
};

std::vector<std::uint32_t> IdsOf(const TAbstractDeferredCall* call) {
  const auto& ids = call->GetOrderingIds();
  return std::vector<std::uint32_t>(ids.begin(), ids.end());
}

TEST(DeferredCallStamping, CallsStampedWhileACallRunsTakeItsIdsAndTheirRank) {
  TStamper stamper;
  TDeferredCallHolder running = MakeDeferredMemberCall(&stamper, &TStamper::StampThree);
  running->GetOrderingIds().PushBack(7);
  ExecuteCall(nullptr, running.get(), GetCommandBufferSystemData());
  EXPECT_EQ(IdsOf(stamper.made[0].get()), (std::vector<std::uint32_t>{7, 0}));
  EXPECT_EQ(IdsOf(stamper.made[2].get()), (std::vector<std::uint32_t>{7, 2}));
  EXPECT_EQ(GetCommandBufferSystemData()->currentFrame, nullptr);
}

TEST(DeferredCallStamping, AStampedCallKeepsItsIdsAndCallsWithNoFrameTakeTheThreadsRootCounter) {
  TDeferredCallHolder stamped = MakeDeferredCall(&DoNothing);
  stamped->GetOrderingIds().PushBack(3);
  stamped->GetOrderingIds().PushBack(4);
  StampOrderingIds(stamped.get());
  EXPECT_EQ(IdsOf(stamped.get()), (std::vector<std::uint32_t>{3, 4}));

  TDeferredCallHolder first = MakeDeferredCall(&DoNothing);
  TDeferredCallHolder second = MakeDeferredCall(&DoNothing);
  StampOrderingIds(first.get());
  StampOrderingIds(second.get());
  ASSERT_EQ(first->GetOrderingIds().GetSize(), 1u);
  EXPECT_EQ(IdsOf(second.get()), (std::vector<std::uint32_t>{first->GetOrderingIds()[0] + 1}));
}

TEST(DeferredCallExecution, AnExceptionIsShownAndThrownOnUnchanged) {
  TTarget target;
  TThreadLocalSoftwareCommandBufferSystemData* data = GetCommandBufferSystemData();
  {
    OrvTest::TDialogRecorder recorder;
    TDeferredCallHolder call = MakeDeferredMemberCall(&target, &TTarget::Throw);
    try {
      ExecuteCall(nullptr, call.get(), data);
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& exception) {
      EXPECT_STREQ(exception.what(), "boom");
    }
    ASSERT_EQ(recorder.Dialogs().size(), 1u);
    EXPECT_TRUE(OrvTest::IsQuitGameWarning(recorder.Dialogs()[0], 58));
    EXPECT_EQ(recorder.Dialogs()[0].text,
              "Le EvalNow de la commande \"NoDebugNameInNoFrameProfiler\" a jet\u00e9 une exception!\nboom\n");
  }
  {
    OrvTest::TDialogRecorder recorder;
    TDeferredCallHolder call = MakeDeferredMemberCall(&target, &TTarget::ThrowInt);
    try {
      ExecuteCall(nullptr, call.get(), data);
      ADD_FAILURE() << "no exception";
    } catch (int value) {
      EXPECT_EQ(value, 42);
    }
    ASSERT_EQ(recorder.Dialogs().size(), 1u);
    EXPECT_EQ(recorder.Dialogs()[0].text,
              "Le EvalNow de la commande \"NoDebugNameInNoFrameProfiler\" a jet\u00e9 une exception!\n");
  }
  EXPECT_EQ(data->currentFrame, nullptr);
}

}  // namespace
