#include "core/tasks/completion_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/tasks/command_buffer_evaluator.h"
#include "core/tasks/command_buffer_system_data.h"
#include "core/threads/thread_id.h"
#include "support/pool_checks.h"

namespace {

using namespace Orvan;

struct TImmediateEvaluator {
  static std::unique_ptr<TSoftwareCommandBufferEvaluator> Make() {
    return std::make_unique<TSoftwareCommandBufferEvaluator>("IMM", true, 0, 2);
  }
  static constexpr bool kImmediate = true;
};
struct TFourWorkerEvaluator {
  static std::unique_ptr<TSoftwareCommandBufferEvaluator> Make() {
    return std::make_unique<TSoftwareCommandBufferEvaluator>("PORTS", false, 4, 2);
  }
  static constexpr bool kImmediate = false;
};

// A log of the calls that ran, in order, and the threads they ran on.
class TRecorder {
 public:
  explicit TRecorder(TSoftwareCommandBufferEvaluator* evaluator) : evaluator_(evaluator) {}

  void Note(std::uint32_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(value);
    threads_.push_back(GetCurrentThreadId());
  }
  // Notes the value after the gate opens.
  void NoteAfterGate(std::uint32_t value) {
    gate.wait();
    Note(value);
  }
  // Notes the depth, then pushes `fanOut` calls one level shallower under the current handle.
  void Nest(std::uint32_t depth) {
    done.fetch_add(1);
    if (depth <= 1) return;
    for (std::uint32_t i = 0; i < 2; ++i) PushUnderCurrentHandle(MakeDeferredMemberCall(this, &TRecorder::Nest, depth - 1));
  }
  // Checks what the calls before it did.
  void CountDone(std::uint32_t) { seenWhenRun.store(done.load()); }
  // Posts a call holding the current handle to the port's owner.
  void PostToOwner(std::uint32_t value) {
    TDeferredCallHolder call = MakeDeferredMemberCall(this, &TRecorder::Note, value);
    AttachCall(call.get(), GetCurrentHandle());
    PushCallToOwner(GetCurrentHandle(), call);
  }

  void PushUnderCurrentHandle(TDeferredCallHolder call) {
    if (GetCurrentHandle().GetPort() != nullptr) {
      PushCallThroughHandle(GetCurrentHandle(), call, kPortLevel);
    } else {
      evaluator_->PushCall(call, 3);
    }
  }

  std::vector<std::uint32_t> Log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }
  std::vector<std::uint32_t> Threads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_;
  }

  std::latch gate{1};
  std::atomic<std::uint32_t> done{0};
  std::atomic<std::uint32_t> seenWhenRun{0};

 private:
  TSoftwareCommandBufferEvaluator* evaluator_;
  std::mutex mutex_;
  std::vector<std::uint32_t> log_;
  std::vector<std::uint32_t> threads_;
};

template <typename TKind>
class CompletionPortThreaded : public ::testing::Test {
 protected:
  CompletionPortThreaded() : evaluator_(TKind::Make()), recorder_(evaluator_.get()) {}

  TDeferredCallHolder Note(std::uint32_t value) { return MakeDeferredMemberCall(&recorder_, &TRecorder::Note, value); }

  std::unique_ptr<TSoftwareCommandBufferEvaluator> evaluator_;
  TRecorder recorder_;
};

using TEvaluatorKinds = ::testing::Types<TImmediateEvaluator, TFourWorkerEvaluator>;
class TEvaluatorKindNames {
 public:
  template <typename T>
  static std::string GetName(int) {
    return T::kImmediate ? "Immediate" : "FourWorkers";
  }
};
TYPED_TEST_SUITE(CompletionPortThreaded, TEvaluatorKinds, TEvaluatorKindNames);

TYPED_TEST(CompletionPortThreaded, AHandleReleasedWithNoCallCompletesAtOnce) {
  TSoftwareCommandBufferCompletionPort port(this->evaluator_.get(), GetCurrentThreadId(), "idle");
  TCompletionPortHandleRef handle = port.AttachHandle(3);
  EXPECT_EQ(port.GetState(), 11u);
  handle.Reset();
  EXPECT_EQ(port.GetState() & TSoftwareCommandBufferCompletionPort::kPending, 0u);
  port.WaitForCompletion(false);
  EXPECT_EQ(port.GetState(), 0u);
}

TYPED_TEST(CompletionPortThreaded, AWaitWithRaiseLevelLowersTheLevelNumberToOne) {
  TSoftwareCommandBufferCompletionPort port(this->evaluator_.get(), GetCurrentThreadId(), "raised");
  port.AttachHandle(5).Reset();
  port.WaitForCompletion(true);
  EXPECT_EQ(port.GetLevel(), 1u);
}

TYPED_TEST(CompletionPortThreaded, AParallelBufferOfOneCallRunsNextOnTheSameThread) {
  TSoftwareCommandBufferRef inner = TSoftwareCommandBufferRef::Create(true);
  TDeferredCallHolder call = this->Note(2);
  inner->AddCall(call);
  TSoftwareCommandBufferRef outer = TSoftwareCommandBufferRef::Create(false);
  call = this->Note(1);
  outer->AddCall(call);
  outer->AddPushCommandBuffer(inner);
  call = this->Note(3);
  outer->AddCall(call);
  this->evaluator_->PushCommandBufferWaitForCompletion(outer, 3);
  EXPECT_FALSE(outer);
  EXPECT_EQ(this->recorder_.Log(), (std::vector<std::uint32_t>{1, 2, 3}));
  const std::vector<std::uint32_t> threads = this->recorder_.Threads();
  EXPECT_EQ(threads[1], threads[0]);
}

TYPED_TEST(CompletionPortThreaded, OrderedCompletionCallsRunFromTheEndOfTheAscendingOrder) {
  TSoftwareCommandBufferCompletionPort port(this->evaluator_.get(), GetCurrentThreadId(), "ordered",
                                            kPortConditionValue, false, true);
  TCompletionPortHandleRef handle = port.AttachHandle(3);
  const std::vector<std::vector<std::uint32_t>> ids = {{1}, {1, 0}, {2}};
  for (std::uint32_t i = 0; i < ids.size(); ++i) {
    TDeferredCallHolder call = this->Note(i);
    for (std::uint32_t id : ids[i]) call->GetOrderingIds().PushBack(id);
    port.PushCompletionCall(call);
  }
  handle.Reset();
  port.WaitForCompletion(false);
  EXPECT_EQ(this->recorder_.Log(), (std::vector<std::uint32_t>{2, 1, 0}));
}

TYPED_TEST(CompletionPortThreaded, UnorderedCompletionCallsRunInPushOrder) {
  TSoftwareCommandBufferCompletionPort port(this->evaluator_.get(), GetCurrentThreadId(), "unordered");
  TCompletionPortHandleRef handle = port.AttachHandle(3);
  for (std::uint32_t i = 0; i < 3; ++i) {
    TDeferredCallHolder call = this->Note(i);
    port.PushCompletionCall(call);
  }
  handle.Reset();
  port.WaitForCompletion(false);
  EXPECT_EQ(this->recorder_.Log(), (std::vector<std::uint32_t>{0, 1, 2}));
}

TYPED_TEST(CompletionPortThreaded, AParkedCallRunsOnlyAfterTheCallsThatHeldTheHandle) {
  if (TypeParam::kImmediate) this->recorder_.gate.count_down();
  TSoftwareCommandBufferCompletionPort port(this->evaluator_.get(), GetCurrentThreadId(), "parking");
  TCompletionPortHandleRef handle = port.AttachHandle(3);
  TSoftwareCommandBufferRef parked = TSoftwareCommandBufferRef::Create(false);
  TDeferredCallHolder call = this->Note(99);
  parked->AddCall(call);
  DeferPushCommandBuffer(handle.Get()->GetParkedCalls(), parked);
  for (std::uint32_t i = 1; i <= 2; ++i) {
    TDeferredCallHolder gated = MakeDeferredMemberCall(&this->recorder_, &TRecorder::NoteAfterGate, i);
    PushCallThroughHandle(handle, gated, kPortLevel);
  }
  EXPECT_EQ(this->recorder_.Log().size(), TypeParam::kImmediate ? 2u : 0u);
  if (!TypeParam::kImmediate) this->recorder_.gate.count_down();
  handle.Reset();
  port.WaitForCompletion(false);
  const std::vector<std::uint32_t> log = this->recorder_.Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log.back(), 99u);
}

TYPED_TEST(CompletionPortThreaded, PushesNestedThreeDeepAreAllDoneWhenTheWaitReturns) {
  TDeferredCallHolder call = MakeDeferredMemberCall(&this->recorder_, &TRecorder::Nest, 3u);
  this->evaluator_->PushCallWaitForCompletion(call, 3);
  EXPECT_EQ(this->recorder_.done.load(), 7u);
}

TYPED_TEST(CompletionPortThreaded, WhatFollowsAParallelBufferRunsAfterAllItsWork) {
  const std::uint32_t portsBefore = OrvTest::LivePoolObjects<TSoftwareCommandBufferCompletionPort>();
  TSoftwareCommandBufferRef parallel = TSoftwareCommandBufferRef::Create(true);
  for (std::uint32_t i = 0; i < 3; ++i) {
    TDeferredCallHolder call = MakeDeferredMemberCall(&this->recorder_, &TRecorder::Nest, 2u);
    parallel->AddCall(call);
  }
  TSoftwareCommandBufferRef outer = TSoftwareCommandBufferRef::Create(false);
  outer->AddPushCommandBuffer(parallel);
  TDeferredCallHolder after = MakeDeferredMemberCall(&this->recorder_, &TRecorder::CountDone, 0u);
  outer->AddCall(after);
  this->evaluator_->PushCommandBufferWaitForCompletion(outer, 3);
  EXPECT_EQ(this->recorder_.seenWhenRun.load(), 9u);
  EXPECT_EQ(this->recorder_.done.load(), 9u);
  EXPECT_EQ(OrvTest::LivePoolObjects<TSoftwareCommandBufferCompletionPort>(), portsBefore);
}

TYPED_TEST(CompletionPortThreaded, ReleaseAndWaitOnAnIdleSelfDeletingPortReturns) {
  const std::uint32_t portsBefore = OrvTest::LivePoolObjects<TSoftwareCommandBufferCompletionPort>();
  TCompletionPortHandleRef handle = CreateCompletionPort(this->evaluator_.get(), GetCurrentThreadId(), "idle self",
                                                         false, kPortConditionValue, 3, nullptr);
  EXPECT_TRUE(handle.GetPort()->IsAutoSuicide());
  EXPECT_EQ(OrvTest::LivePoolObjects<TSoftwareCommandBufferCompletionPort>(), portsBefore + 1);
  ReleaseAndWait(handle);
  EXPECT_FALSE(handle);
  EXPECT_EQ(OrvTest::LivePoolObjects<TSoftwareCommandBufferCompletionPort>(), portsBefore);
}

TYPED_TEST(CompletionPortThreaded, ACallPostedToTheWaitingOwnerRunsThereEveryRound) {
  constexpr std::uint32_t kRounds = 10000;
  const std::uint32_t owner = GetCurrentThreadId();
  for (std::uint32_t round = 0; round < kRounds; ++round) {
    TSoftwareCommandBufferCompletionPort port(this->evaluator_.get(), owner, "owner");
    TCompletionPortHandleRef handle = port.AttachHandle(3);
    TDeferredCallHolder call = MakeDeferredMemberCall(&this->recorder_, &TRecorder::PostToOwner, round);
    PushCallThroughHandle(handle, call, kPortLevel);
    handle.Reset();
    port.WaitForCompletion(false);
  }
  const std::vector<std::uint32_t> log = this->recorder_.Log();
  const std::vector<std::uint32_t> threads = this->recorder_.Threads();
  ASSERT_EQ(log.size(), kRounds);
  for (std::uint32_t round = 0; round < kRounds; ++round) {
    ASSERT_EQ(log[round], round);
    ASSERT_EQ(threads[round], owner);
  }
}

TYPED_TEST(CompletionPortThreaded, CompletionCallsGoToThePortTheContinuationReportsTo) {
  TSoftwareCommandBufferCompletionPort outer(this->evaluator_.get(), GetCurrentThreadId(), "outer");
  TCompletionPortHandleRef outerHandle = outer.AttachHandle(3);
  TDeferredCallHolder continuation = this->Note(1);
  AttachCall(continuation.get(), outerHandle);
  TCompletionPortHandleRef innerHandle = CreateCompletionPort(this->evaluator_.get(), GetCurrentThreadId(), "inner",
                                                              false, kPortConditionValue, 3, nullptr, &continuation);
  TDeferredCallHolder completion = this->Note(2);
  innerHandle.GetPort()->PushCompletionCall(completion);
  EXPECT_FALSE(outer.GetCompletionCalls().IsEmpty());
  innerHandle.Reset();
  outerHandle.Reset();
  outer.WaitForCompletion(false);
  EXPECT_EQ(this->recorder_.Log(), (std::vector<std::uint32_t>{1, 2}));
}

}  // namespace
