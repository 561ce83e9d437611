#include "core/filesystem/file_system_component_union.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/diagnostics/assertion.h"
#include "core/filesystem/mounting_points.h"
#include "core/filesystem/sorted_file_name_list.h"
#include "core/streams/memory_stream.h"
#include "support/debug_output_recorder.h"
#include "support/dialog_recorder.h"
#include "support/file_name_registries.h"
#include "support/file_system_components.h"
#include "support/process_allocator_seam.h"

namespace Orvan {
namespace {

using OrvTest::TComponentCall;
using OrvTest::TScriptedComponent;
using TStrings = std::vector<std::string>;

std::uint32_t ReferencesOf(const TWeakAndRefCountable& object) {
  return TWeakAndRefCountable::GetReferenceCount(object.GetCountWord());
}

// A member that writes its number into a log when it is destroyed.
class TLoggedMember final : public TFileSystemComponentUnion {
 public:
  TLoggedMember(int number, std::vector<int>& log) : number_(number), log_(log) {}
  ~TLoggedMember() noexcept override { log_.push_back(number_); }

 private:
  int number_;
  std::vector<int>& log_;
};

class FileSystemComponentUnion : public OrvTest::TFreshFileNameRegistries {
 protected:
  // Appends a scripted member holding the given paths.
  TScriptedComponent* Append(bool writable, TStrings existing = {}) {
    auto* member = new TScriptedComponent(writable);
    member->existing = std::move(existing);
    union_->AppendComponent(member);
    return member;
  }
  void TearDown() override {
    delete union_;
    TFreshFileNameRegistries::TearDown();
  }

  TFileSystemComponentUnion* union_ = new TFileSystemComponentUnion();
  const std::uint16_t data_ = GetDataDirMountingPoint();
  OrvTest::TDialogRecorder dialogs_;
};

TEST_F(FileSystemComponentUnion, EmptyUnionAnswersAsForAFileThatIsNotThere) {
  const TFileName name("f");
  std::uint32_t first = 7;
  EXPECT_FALSE(union_->Exists(name));
  EXPECT_FALSE(union_->IsWritable());
  EXPECT_FALSE(union_->QueryFileInfo(name, &first, nullptr));
  EXPECT_EQ(first, 7u);
  TFileStatus status = kFileStatusSuccess;
  EXPECT_EQ(union_->Open(name, status), 0u);
  EXPECT_EQ(status, kFileStatusFileNotFound);
  EXPECT_FALSE(union_->OpenMemoryStream(data_, name, kFileOpenRead, 0, 0, status));
  EXPECT_EQ(status, kFileStatusFileNotFound);
  EXPECT_FALSE(union_->OpenMemoryStream(data_, name, kFileOpenRead | kFileOpenWrite, 0, 0, status));
  EXPECT_EQ(status, kFileStatusNotSupported);
  status = kFileStatusSuccess;
  EXPECT_FALSE(union_->OpenStream(data_, name, kFileOpenWrite, 0, 0, status));
  EXPECT_EQ(status, kFileStatusFileNotFound);
  EXPECT_FALSE(union_->Delete(name));
  TSortedFileNameList list(0);
  union_->Enumerate(list, name, 0, false);
  EXPECT_EQ(list.GetSize(), 0u);
  EXPECT_EQ(union_->GetRootName(), TFileName());
  EXPECT_EQ(union_->GetComponentCount(), 0u);
}

// One member of an open case: a hole, or a scripted member with its writability and its answer.
struct TMemberScript {
  bool hole;
  bool writable;
  TScriptedComponent::TOpenScript script;
};
constexpr TMemberScript kHole{true, false, {}};
TMemberScript ReadOnly(TScriptedComponent::TOpenScript script) { return {false, false, script}; }
TMemberScript Writable(TScriptedComponent::TOpenScript script) { return {false, true, script}; }
const TScriptedComponent::TOpenScript kUnwritten{0, 0, false};

struct TOpenCase {
  const char* title;
  bool memoryOpen;  // OpenMemoryStream, else OpenStream
  TFileOpenFlags flags;
  std::vector<TMemberScript> members;
  int answeredBy;  // the member whose handle comes back; -1 for none
  TFileStatus status;
  std::vector<TStrings> operations;  // what each member was asked, holes included
};

TEST_F(FileSystemComponentUnion, StreamOpensFollowTheMembersInOrderAndStopWhereTheStatusSays) {
  const TFileOpenFlags read = kFileOpenRead;
  const TFileOpenFlags write = kFileOpenWrite;
  const TFileOpenFlags quiet = kFileOpenRead | kFileOpenQuiet;
  const TStrings memory = {"OpenMemoryStream"};
  const TStrings stream = {"OpenStream"};
  const TStrings writableMemory = {"IsWritable", "OpenMemoryStream"};
  const TOpenCase cases[] = {
      {"a write in memory passes over the read-only member unasked",
       true, write, {ReadOnly({1, 0}), Writable({1, 0})}, 1, 0, {{"IsWritable"}, writableMemory}},
      {"a stream write asks the read-only member first and takes its handle",
       false, write, {ReadOnly({1, 0}), Writable({1, 0})}, 0, 0, {stream, {}}},
      {"a memory open answers success whatever the member wrote",
       true, read, {Writable({1, kFileStatusHasLatency})}, 0, 0, {memory}},
      {"a stream open answers the member's own status",
       false, read, {Writable({1, kFileStatusHasLatency})}, 0, kFileStatusHasLatency, {stream}},
      {"corruption stops the memory search before a member that has the file",
       true, quiet, {Writable({0, kFileStatusFileCorrupted}), Writable({1, 0})}, -1, 8, {memory, {}}},
      {"corruption stops the stream search",
       false, quiet, {Writable({0, kFileStatusFileCorrupted | 1}), Writable({1, 0})}, -1, 8, {stream, {}}},
      {"a status left unwritten carries the corruption bit",
       false, read, {Writable(kUnwritten), Writable({1, 0})}, -1, 8, {stream, {}}},
      {"a critical status stops a loud memory open with that status",
       true, read, {Writable({0, kFileStatusFileNotAvailable}), Writable({1, 0})}, -1, 260, {memory, {}}},
      {"a critical status stops a loud stream open with that status",
       false, read, {Writable({0, kFileStatusFileNotAvailable}), Writable({1, 0})}, -1, 260, {stream, {}}},
      {"a quiet memory open passes a critical status over",
       true, quiet, {Writable({0, kFileStatusFileNotAvailable}), Writable({1, 0})}, 1, 0, {memory, memory}},
      {"a quiet stream open passes a critical status over",
       false, quiet, {Writable({0, kFileStatusFileNotAvailable}), Writable({1, 2})}, 1, 2, {stream, stream}},
      {"nothing found in memory for reading: the last status is not reported",
       true, read, {Writable({0, 1}), Writable({0, kFileStatusFileTooSmall})}, -1, 1, {memory, memory}},
      {"nothing found in memory for writing", true, write, {Writable({0, 1})}, -1, 262, {writableMemory}},
      {"nothing found for a stream write", false, write, {Writable({0, 1})}, -1, 1, {stream}},
      {"holes are passed over by the memory open", true, read, {kHole, Writable({1, 0})}, 1, 0, {{}, memory}},
      {"holes are passed over by the stream open", false, read, {kHole, Writable({1, 0})}, 1, 0, {{}, stream}},
  };
  for (const TOpenCase& c : cases) {
    TFileSystemComponentUnion members;
    std::vector<TScriptedComponent*> scripted;
    for (const TMemberScript& script : c.members) {
      TScriptedComponent* member = nullptr;
      if (!script.hole) {
        member = new TScriptedComponent(script.writable);
        member->openStream = script.script;
        member->openMemoryStream = script.script;
        member->stream = new TMemoryStream(1);
        member->memoryStream = new TMemoryStream(1);
      }
      members.AppendComponent(member);
      scripted.push_back(member);
    }
    TFileStatus status = kFileStatusSuccess;
    const TFileName name("f");
    bool answered = false;
    bool rightHandle = true;
    if (c.memoryOpen) {
      const TCountedPtr<TAbstractMemoryStream> handle = members.OpenMemoryStream(data_, name, c.flags, 1, 2, status);
      answered = static_cast<bool>(handle);
      if (c.answeredBy >= 0) rightHandle = handle == scripted[c.answeredBy]->memoryStream;
    } else {
      const TCountedPtr<TStream> handle = members.OpenStream(data_, name, c.flags, 1, 2, status);
      answered = static_cast<bool>(handle);
      if (c.answeredBy >= 0) rightHandle = handle == scripted[c.answeredBy]->stream;
    }
    EXPECT_EQ(answered, c.answeredBy >= 0) << c.title;
    EXPECT_TRUE(rightHandle) << c.title;
    EXPECT_EQ(status, c.status) << c.title;
    for (std::size_t i = 0; i < scripted.size(); ++i) {
      if (scripted[i] == nullptr) continue;
      EXPECT_EQ(scripted[i]->Operations(), c.operations[i]) << c.title << ", member " << i;
      for (const TComponentCall& call : scripted[i]->Calls()) {
        if (call.operation == "IsWritable") continue;
        EXPECT_EQ(call, (TComponentCall{call.operation, "f", data_, c.flags})) << c.title;
      }
    }
  }
}

TEST_F(FileSystemComponentUnion, OpenTakesTheFirstResultAndStopsOnlyAtCorruption) {
  const struct {
    const char* title;
    std::vector<TScriptedComponent::TOpenScript> members;
    std::uint32_t result;
    TFileStatus status;
    std::size_t asked;
  } cases[] = {
      {"a critical status is passed over", {{0, kFileStatusNotSupported}, {5, kFileStatusHasLatency}}, 5, 0, 2},
      {"corruption ends the search", {{0, kFileStatusFileCorrupted}, {5, 0}}, 0, 8, 1},
      {"a status left unwritten ends it too", {kUnwritten, {5, 0}}, 0, 8, 1},
      {"nothing found", {{0, 1}, {0, kFileStatusFileNotAvailable}}, 0, 1, 2},
  };
  for (const auto& c : cases) {
    TFileSystemComponentUnion members;
    std::vector<TScriptedComponent*> scripted;
    for (const TScriptedComponent::TOpenScript& script : c.members) {
      scripted.push_back(new TScriptedComponent());
      scripted.back()->open = script;
      members.AppendComponent(scripted.back());
    }
    TFileStatus status = kFileStatusSuccess;
    EXPECT_EQ(members.Open(TFileName("f"), status), c.result) << c.title;
    EXPECT_EQ(status, c.status) << c.title;
    std::size_t asked = 0;
    for (TScriptedComponent* member : scripted) asked += member->Calls().size();
    EXPECT_EQ(asked, c.asked) << c.title;
  }
}

TEST_F(FileSystemComponentUnion, QueriesAndDeletionGoToTheFirstMemberThatHasTheFile) {
  TScriptedComponent* first = Append(false, {"a/f"});
  TScriptedComponent* second = Append(true, {"a/f", "a/g"});
  second->firstInfo = 42;
  second->secondInfo = 43;
  first->deleteResult = false;

  EXPECT_TRUE(union_->Exists(TFileName("a/g")));
  EXPECT_FALSE(union_->Exists(TFileName("a/h")));
  std::uint32_t info[2] = {0, 0};
  EXPECT_TRUE(union_->QueryFileInfo(TFileName("a/g"), &info[0], &info[1]));
  EXPECT_EQ(info[0], 42u);
  EXPECT_EQ(info[1], 43u);
  EXPECT_TRUE(union_->IsWritable());
  first->ClearCalls();
  second->ClearCalls();

  // Held by both: only the first is asked to delete, and its answer is the union's.
  EXPECT_FALSE(union_->Delete(TFileName("a/f")));
  EXPECT_EQ(first->Operations(), (TStrings{"Exists", "Delete"}));
  EXPECT_TRUE(second->Operations().empty());
  EXPECT_TRUE(union_->Delete(TFileName("a/g")));
  EXPECT_EQ(second->Operations(), (TStrings{"Exists", "Delete"}));
  EXPECT_FALSE(union_->Delete(TFileName("a/h")));
  EXPECT_EQ(first->Operations(), (TStrings{"Exists", "Delete", "Exists", "Exists"}));
  EXPECT_EQ(second->Operations(), (TStrings{"Exists", "Delete", "Exists"}));
}

TEST_F(FileSystemComponentUnion, EnumerateAsksEveryMemberInOrderWithTheSameCollector) {
  TScriptedComponent* first = Append(true);
  first->enumerated = {{"x", "from/first"}};
  TScriptedComponent* second = Append(true);
  second->enumerated = {{"x", "from/second"}, {"y", "from/second"}};
  TScriptedComponent* third = Append(true);
  third->enumerated = {{"y", "from/third"}, {"z", "from/third"}};
  TSortedFileNameList list(0);
  union_->Enumerate(list, TFileName("folder"), -3, true);
  // The list keeps the first entry of a text: the one of the member asked first.
  ASSERT_EQ(list.GetSize(), 3u);
  EXPECT_EQ(list.GetFileName(0), TFileName("from/first"));
  EXPECT_EQ(list.GetFileName(1), TFileName("from/second"));
  EXPECT_EQ(list.GetFileName(2), TFileName("from/third"));
  for (TScriptedComponent* member : {first, second, third}) {
    EXPECT_EQ(member->Calls(), (std::vector<TComponentCall>{{"Enumerate", "folder", 0, 0xFFFFFFFDu}}));
  }
}

TEST_F(FileSystemComponentUnion, AHoleIsPassedOverByEveryOperation) {
  int destroyed = 0;
  union_->AppendComponent(new TScriptedComponent(true, &destroyed));
  TScriptedComponent* member = Append(false, {"f"});
  member->rootName = TFileName("DataDir:/root");
  member->open = {9, 0};
  member->enumerated = {{"e", ""}};
  union_->SetComponent(0, nullptr);
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(union_->GetComponent(0), nullptr);
  EXPECT_EQ(union_->GetComponentCount(), 2u);

  const TFileName name("f");
  std::uint32_t info = 0;
  TFileStatus status = kFileStatusSuccess;
  EXPECT_TRUE(union_->Exists(name));
  EXPECT_TRUE(union_->QueryFileInfo(name, &info, nullptr));
  EXPECT_EQ(union_->Open(name, status), 9u);
  EXPECT_FALSE(union_->OpenMemoryStream(data_, name, kFileOpenRead, 0, 0, status));
  EXPECT_EQ(status, kFileStatusFileNotFound);
  EXPECT_FALSE(union_->OpenStream(data_, name, kFileOpenRead, 0, 0, status));
  EXPECT_TRUE(union_->Delete(name));
  EXPECT_FALSE(union_->IsWritable());
  TSortedFileNameList list(0);
  union_->Enumerate(list, name, 0, false);
  EXPECT_EQ(list.GetSize(), 1u);
  // The root name is the first entry's: a hole has none.
  EXPECT_EQ(union_->GetRootName(), TFileName());
  // Removing the hole brings the member first.
  union_->RemoveComponent(nullptr);
  ASSERT_EQ(union_->GetComponentCount(), 1u);
  EXPECT_EQ(union_->GetRootName(), TFileName("DataDir:/root"));
}

TEST_F(FileSystemComponentUnion, RemoveComponentHandsTheMemberBackAndKeepsTheOthersInOrder) {
  int destroyed = 0;
  auto* first = new TScriptedComponent(true, &destroyed);
  auto* second = new TScriptedComponent(true, &destroyed);
  auto* third = new TScriptedComponent(true, &destroyed);
  for (TScriptedComponent* member : {first, second, third}) union_->AppendComponent(member);
  union_->RemoveComponent(second);
  ASSERT_EQ(union_->GetComponentCount(), 2u);
  EXPECT_EQ(union_->GetComponent(0), first);
  EXPECT_EQ(union_->GetComponent(1), third);
  second->existing = {"f"};
  EXPECT_TRUE(second->Exists(TFileName("f")));
  EXPECT_FALSE(union_->Exists(TFileName("f")));
  delete union_;
  union_ = nullptr;
  EXPECT_EQ(destroyed, 2);
  delete second;
}

TEST_F(FileSystemComponentUnion, MisuseIsReportedAndChangesNothing) {
  TScriptedComponent* only = Append(true);
  int destroyed = 0;
  auto* stranger = new TScriptedComponent(true, &destroyed);
  OrvTest::TDebugOutputRecorder output;
  EXPECT_EQ(union_->GetComponent(1), nullptr);
  union_->SetComponent(1, stranger);
  union_->RemoveComponent(stranger);
  EXPECT_EQ(output.CountLinesContaining("ASSERTION FAILED"), 3u);
  EXPECT_EQ(output.CountLinesContaining("a union member index at or past the count"), 2u);
  EXPECT_EQ(output.CountLinesContaining("a component removed from a union that does not hold it"), 1u);
  ASSERT_FALSE(dialogs_.Dialogs().empty());
  EXPECT_EQ(dialogs_.Dialogs()[0].idHigh, kAssertionDialogId);
  EXPECT_EQ(union_->GetComponentCount(), 1u);
  EXPECT_EQ(union_->GetComponent(0), only);
  EXPECT_EQ(destroyed, 0);
  delete stranger;
}

TEST_F(FileSystemComponentUnion, DestroyingTheUnionDeletesEveryMemberOnceFirstToLast) {
  std::vector<int> log;
  for (int i = 1; i <= 3; ++i) union_->AppendComponent(new TLoggedMember(i, log));
  union_->AppendComponent(nullptr);
  union_->SetComponent(0, new TLoggedMember(4, log));
  EXPECT_EQ(log, (std::vector<int>{1}));
  delete union_;
  union_ = nullptr;
  EXPECT_EQ(log, (std::vector<int>{1, 4, 2, 3}));

  // Without its members, none of them goes.
  int destroyed = 0;
  auto* kept = new TScriptedComponent(true, &destroyed);
  auto* members = new TFileSystemComponentUnion();
  members->AppendComponent(kept);
  members->AppendComponent(new TLoggedMember(5, log));
  TAbstractFileSystemComponent* logged = members->GetComponent(1);
  members->DeleteWithoutComponents();
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(log.size(), 4u);
  delete kept;
  delete logged;
  EXPECT_EQ(log.back(), 5);
}

TEST_F(FileSystemComponentUnion, ExactlyOneReferenceOfAnOpenedStreamReachesTheCaller) {
  TScriptedComponent* member = Append(true);
  member->openStream = {1, 0};
  member->openMemoryStream = {1, 0};
  auto* stream = new TMemoryStream(1);
  auto* memoryStream = new TMemoryStream(1);
  member->stream = stream;
  member->memoryStream = memoryStream;
  TFileStatus status = kFileStatusNotDefined;
  TCountedPtr<TStream> opened = union_->OpenStream(data_, TFileName("f"), kFileOpenRead, 0, 0, status);
  TCountedPtr<TAbstractMemoryStream> openedMemory =
      union_->OpenMemoryStream(data_, TFileName("f"), kFileOpenRead, 0, 0, status);
  member->stream.Reset();
  member->memoryStream.Reset();
  EXPECT_EQ(ReferencesOf(*stream), 1u);
  EXPECT_EQ(ReferencesOf(*memoryStream), 1u);
}

TEST_F(FileSystemComponentUnion, ForwardingAllocatesNothing) {
  TScriptedComponent* first = Append(false);
  TScriptedComponent* second = Append(true);
  for (TScriptedComponent* member : {first, second}) {
    member->SetRecording(false);
    member->open = {0, 1};
    member->openStream = {0, 1};
    member->openMemoryStream = {0, 1};
  }
  second->openStream = {1, 0};
  second->openMemoryStream = {1, 0};
  second->stream = new TMemoryStream(1);
  second->memoryStream = new TMemoryStream(1);
  const TFileName name("f");
  TSortedFileNameList list(0);
  TFileStatus status = kFileStatusNotDefined;
  bool answered = true;

  OrvTest::InstallSeam();
  answered &= union_->Open(name, status) == 0;
  answered &= static_cast<bool>(union_->OpenStream(data_, name, kFileOpenRead, 0, 0, status));
  answered &= static_cast<bool>(union_->OpenMemoryStream(data_, name, kFileOpenWrite, 0, 0, status));
  answered &= union_->IsWritable();
  union_->Enumerate(list, name, 0, false);
  answered &= union_->GetRootName().IsEmpty();
  OrvTest::RestoreSeam();

  EXPECT_TRUE(answered);
  EXPECT_EQ(OrvTest::g_seam.allocations, 0);
}

}  // namespace
}  // namespace Orvan
