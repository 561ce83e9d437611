#include "core/filesystem/virtual_file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/diagnostics/assertion.h"
#include "core/diagnostics/engine_exception.h"
#include "core/diagnostics/engine_exception_kinds.h"
#include "core/filesystem/mounting_points.h"
#include "core/streams/memory_stream.h"
#include "support/debug_output_recorder.h"
#include "support/dialog_recorder.h"
#include "support/fake_xmessage.h"
#include "support/native_file_calls.h"
#include "support/file_name_registries.h"
#include "support/file_system_components.h"
#include "support/temporary_folder.h"

namespace Orvan {
namespace {

using OrvTest::TComponentCall;
using OrvTest::TDialogRecorder;
using OrvTest::TNativeFolderComponent;
using OrvTest::TScriptedComponent;

const char kWriteWarningStart[] = "L'ouverture du fichier ";
const char kWriteWarningEnd[] =
    " en \xC3\xA9" "criture va se faire dans le 1er dossier mont\xC3\xA9 en \xC3\xA9" "criture trouv\xC3\xA9 ce qui "
    "est tr\xC3\xA8s mal. Il est indispensable de lui sp\xC3\xA9" "cifier un point de montage";
const char kDeleteWarningStart[] = "La suppression du fichier ";
const char kDeleteWarningEnd[] =
    " va se faire dans le 1er dossier mont\xC3\xA9 en \xC3\xA9" "criture trouv\xC3\xA9 ce qui est tr\xC3\xA8s mal. "
    "Il est indispensable de lui sp\xC3\xA9" "cifier un point de montage";

std::string CriticalErrorText(const std::string& name, const std::string& message) {
  return "*Virtual File System Critical Error*\n @ " + name + " :\n     " + message +
         "\n\nAucun gestionnaire de gestion d'erreur critique branch\xC3\xA9.";
}

std::string VfsText(const TFileName& name) {
  const TOrvString<char> text = name.ToString();
  return std::string(text.c_str(), text.GetLength());
}

// Whether the call throws EException with exactly this message.
template <typename TCall>
::testing::AssertionResult ThrowsEngineMessage(TCall&& call, const std::string& message) {
  try {
    call();
  } catch (const EException& failure) {
    if (failure.what() == message) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "message \"" << failure.what() << '"';
  }
  return ::testing::AssertionFailure() << "nothing thrown";
}

class TRecordingHandler final : public TFileSystemCriticalErrorHandler {
 public:
  void HandleCriticalError(const TFileName& name, const TOrvString<wchar_t>& message) override {
    calls.emplace_back(VfsText(name), std::wstring(message.c_str()));
  }
  std::vector<std::pair<std::string, std::wstring>> calls;
};

// A file system with no instance before it, and whatever the test mounts.
class VirtualFileSystem : public OrvTest::TFreshFileNameRegistries {
 protected:
  void SetUp() override {
    TFreshFileNameRegistries::SetUp();
    ASSERT_EQ(TVirtualFileSystem::GetInstancePointer(), nullptr);
    vfs_ = std::make_unique<TVirtualFileSystem>();
  }
  void TearDown() override {
    vfs_.reset();
    TFreshFileNameRegistries::TearDown();
  }

  TScriptedComponent* Mount(std::uint16_t mountingPoint, bool writable = true) {
    auto* component = new TScriptedComponent(writable);
    vfs_->Mount(mountingPoint, component);
    return component;
  }

  const std::uint16_t data_ = GetDataDirMountingPoint();
  const std::uint16_t temp_ = GetTempMountingPoint();
  std::unique_ptr<TVirtualFileSystem> vfs_;
  TDialogRecorder dialogs_;
};

TEST_F(VirtualFileSystem, MakesItselfTheSingletonAndOwnsItsComponents) {
  EXPECT_EQ(TVirtualFileSystem::GetInstancePointer(), vfs_.get());
  int destroyed = 0;
  vfs_->Mount(data_, new TScriptedComponent(true, &destroyed));
  vfs_->Mount(temp_, new TScriptedComponent(true, &destroyed));
  vfs_->Mount(data_, new TScriptedComponent(true, &destroyed));
  vfs_->Unmount(data_);
  EXPECT_EQ(destroyed, 1);
  vfs_->Unmount(ParseMountingPoint("logs"));  // nothing mounted there
  EXPECT_EQ(destroyed, 1);
  vfs_.reset();
  EXPECT_EQ(destroyed, 3);
  EXPECT_EQ(TVirtualFileSystem::GetInstancePointer(), nullptr);

  // The counter belongs to the owner.
  TVirtualFileSystem again;
  again.RaiseCounter();
  again.RaiseCounter();
  again.LowerCounter();
  EXPECT_EQ(again.GetCounter(), 1u);
}

// The routing of the Part's edge cases, each on a file system of its own.
TEST_F(VirtualFileSystem, RoutingEdgeCases) {
  vfs_.reset();
  struct TCase {
    const char* name;
    bool withInstance;
    std::function<void(TVirtualFileSystem*, TDialogRecorder&)> check;
  };
  const std::uint16_t data = data_;
  const std::uint16_t temp = temp_;
  const TFileName bare("vfs/file.txt");
  const TFileName inData("DataDir:/vfs/file.txt");
  const TCase cases[] = {
      {"nothing mounted", true,
       [&](TVirtualFileSystem* vfs, TDialogRecorder& dialogs) {
         const std::string none = "No filesystem mounted";
         EXPECT_TRUE(ThrowsEngineMessage([&] { vfs->Exists(bare); }, none));
         EXPECT_EQ(vfs->Open(bare), 0u);
         EXPECT_TRUE(ThrowsEngineMessage([&] { vfs->OpenStream(bare, kFileOpenWrite, 0, 0); }, none));
         EXPECT_TRUE(ThrowsEngineMessage([&] { vfs->OpenMemoryStream(bare, kFileOpenRead, 0, 0); }, none));
         EXPECT_TRUE(ThrowsEngineMessage([&] { vfs->DeleteFile(bare); }, none));
         EXPECT_TRUE(ThrowsEngineMessage([&] { vfs->QueryFirstFileInfo(bare, nullptr); }, none));
         EXPECT_TRUE(ThrowsEngineMessage([&] { vfs->ListFiles(bare, 0, false); }, none));
         EXPECT_TRUE(ThrowsEngineMessage([&] { vfs->FindOwningComponent(bare); }, none));
         EXPECT_TRUE(ThrowsEngineMessage([&] { vfs->GetFirstWritableComponent(); }, none));
         // The check comes before the write warning.
         EXPECT_TRUE(dialogs.Dialogs().empty());
         EXPECT_FALSE(vfs->Exists(inData));
       }},
      {"mounting point not mounted", true,
       [&](TVirtualFileSystem* vfs, TDialogRecorder& dialogs) {
         TScriptedComponent* other = new TScriptedComponent;
         other->existing = {"vfs/file.txt"};
         vfs->Mount(temp, other);
         EXPECT_FALSE(vfs->Exists(inData));
         EXPECT_EQ(vfs->FindOwningComponent(inData), nullptr);
         EXPECT_EQ(vfs->Open(inData), 0u);
         EXPECT_FALSE(vfs->OpenStream(inData, kFileOpenWrite, 0, 0));
         EXPECT_FALSE(vfs->OpenMemoryStream(inData, kFileOpenWrite, 0, 0));
         TFileStatus status = 77;
         EXPECT_FALSE(vfs->OpenStream(data, bare, kFileOpenRead, 0, 0, status));
         EXPECT_EQ(status, 77u);
         for (const auto& call : std::vector<std::function<void()>>{
                  [&] { vfs->DeleteFile(inData); }, [&] { vfs->QueryFirstFileInfo(inData, nullptr); },
                  [&] { vfs->ListFiles(inData, 0, false); }, [&] { vfs->GetComponentOrThrow(data); }}) {
           try {
             call();
             ADD_FAILURE() << "nothing thrown";
           } catch (const EMountingPointNotFound& failure) {
             EXPECT_STREQ(failure.what(), "Mouting point not found! : DataDir");
             EXPECT_EQ(failure.GetMountingPointId(), data);
           }
         }
         EXPECT_TRUE(other->Calls().empty());
         EXPECT_TRUE(dialogs.Dialogs().empty());
       }},
      {"write opens without a mounting point", true,
       [&](TVirtualFileSystem* vfs, TDialogRecorder& dialogs) {
         auto* readOnly = new TScriptedComponent(false);
         auto* writable = new TScriptedComponent(true);
         vfs->Mount(data, readOnly);
         vfs->Mount(temp, writable);
         EXPECT_FALSE(vfs->OpenStream(bare, kFileOpenWrite, 0, 0));
         ASSERT_EQ(dialogs.Dialogs().size(), 1u);
         const OrvTest::TRecordedDialog& warning = dialogs.Dialogs()[0];
         EXPECT_EQ(warning.text, std::string(kWriteWarningStart) + "vfs/file.txt" + kWriteWarningEnd);
         EXPECT_EQ(warning.caption, "Erreur");
         EXPECT_EQ(warning.buttonSet, kDialogButtonsOk);
         EXPECT_EQ(warning.callStackRequest, 1);
         EXPECT_EQ(warning.fatal, 0);
         EXPECT_EQ(readOnly->Operations(), std::vector<std::string>{"IsWritable"});
         EXPECT_EQ(writable->Operations(), (std::vector<std::string>{"IsWritable", "OpenStream"}));
         EXPECT_EQ(writable->Calls()[1], (TComponentCall{"OpenStream", "vfs/file.txt", 0, kFileOpenWrite}));

         readOnly->ClearCalls();
         writable->ClearCalls();
         EXPECT_FALSE(vfs->OpenMemoryStream(bare, kFileOpenWrite | kFileOpenRead, 0, 0));
         EXPECT_EQ(dialogs.Dialogs().size(), 2u);
         EXPECT_EQ(readOnly->Operations(), std::vector<std::string>{"OpenMemoryStream"});
         EXPECT_EQ(writable->Operations(), std::vector<std::string>{"OpenMemoryStream"});

         // Reads draw no warning.
         EXPECT_FALSE(vfs->OpenStream(bare, kFileOpenRead, 0, 0));
         EXPECT_EQ(dialogs.Dialogs().size(), 2u);
       }},
      {"two entries under one id", true,
       [&](TVirtualFileSystem* vfs, TDialogRecorder&) {
         auto* first = new TScriptedComponent;
         auto* second = new TScriptedComponent;
         second->existing = {"vfs/file.txt"};
         vfs->Mount(data, first);
         vfs->Mount(data, second);
         EXPECT_EQ(vfs->FindComponent(data), first);
         EXPECT_EQ(vfs->FindOwningComponent(inData), first);
         EXPECT_FALSE(vfs->Exists(inData));
         EXPECT_TRUE(second->Calls().empty());

         auto* replacement = new TScriptedComponent;
         EXPECT_EQ(vfs->ReplaceComponent(data, replacement), first);
         delete first;
         EXPECT_EQ(vfs->FindComponent(data), replacement);
         vfs->Unmount(data);
         EXPECT_EQ(vfs->FindComponent(data), second);
         EXPECT_TRUE(vfs->Exists(inData));

         // Replacing under an id that is not mounted stores nothing.
         TScriptedComponent stranger;
         EXPECT_EQ(vfs->ReplaceComponent(temp, &stranger), nullptr);
         EXPECT_EQ(vfs->FindComponent(temp), nullptr);
       }},
      {"root text without an instance", false,
       [&](TVirtualFileSystem*, TDialogRecorder&) {
         EXPECT_TRUE(TVirtualFileSystem::GetMountingPointRootText(TOrvString<char>("DataDir")).IsEmpty());
         // The static forms answer as a file system with nothing mounted.
         EXPECT_FALSE(TVirtualFileSystem::StaticExists(inData));
         EXPECT_TRUE(ThrowsEngineMessage([&] { TVirtualFileSystem::StaticExists(bare); }, "No filesystem mounted"));
         TMemoryStream source;
         EXPECT_TRUE(ThrowsEngineMessage([&] { TVirtualFileSystem::StaticSaveFile(source, inData); },
                                         "Unable to save file : DataDir:/vfs/file.txt"));
       }},
      {"root text with an instance", true,
       [&](TVirtualFileSystem* vfs, TDialogRecorder&) {
         TScriptedComponent* component = new TScriptedComponent;
         component->rootName = TFileName("ProgDir:/game/data");
         vfs->Mount(data, component);
         EXPECT_STREQ(TVirtualFileSystem::GetMountingPointRootText(TOrvString<char>("datadir")).c_str(),
                      "ProgDir:/game/data");
         EXPECT_TRUE(TVirtualFileSystem::GetMountingPointRootText(TOrvString<char>("Temp")).IsEmpty());
         EXPECT_FALSE(TVirtualFileSystem::StaticExists(TFileName("DataDir:/x")));
       }},
      {"an entry without a component is passed over", true,
       [&](TVirtualFileSystem* vfs, TDialogRecorder& dialogs) {
         auto* emptied = new TScriptedComponent;
         auto* next = new TScriptedComponent(true);
         next->existing = {"vfs/file.txt"};
         next->open = {5, kFileStatusSuccess, true};
         next->enumerated = {{"listed", ""}};
         vfs->Mount(data, emptied);
         vfs->Mount(temp, next);
         EXPECT_EQ(vfs->ReplaceComponent(data, nullptr), emptied);
         delete emptied;
         EXPECT_EQ(vfs->FindComponent(data), nullptr);
         EXPECT_THROW(vfs->GetComponentOrThrow(data), EMountingPointNotFound);
         EXPECT_FALSE(vfs->Exists(inData));
         EXPECT_EQ(vfs->Open(inData), 0u);
         EXPECT_THROW(vfs->DeleteFile(inData), EMountingPointNotFound);
         EXPECT_TRUE(vfs->Exists(bare));
         EXPECT_EQ(vfs->FindOwningComponent(bare), next);
         EXPECT_EQ(vfs->Open(bare), 5u);
         EXPECT_TRUE(vfs->QueryFirstFileInfo(bare, nullptr));
         EXPECT_EQ(vfs->GetFirstWritableComponent(), next);
         EXPECT_TRUE(vfs->DeleteFile(bare));
         EXPECT_EQ(vfs->ListFiles(bare, 0, false).GetSize(), 1u);
         EXPECT_FALSE(vfs->OpenStream(bare, kFileOpenWrite, 0, 0));
         EXPECT_FALSE(vfs->OpenMemoryStream(bare, kFileOpenRead, 0, 0));
         EXPECT_EQ(dialogs.Dialogs().size(), 2u);  // the delete and the write open
         vfs->Unmount(data);
         EXPECT_EQ(vfs->FindComponent(temp), next);
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TDialogRecorder dialogs;
    std::unique_ptr<TVirtualFileSystem> vfs;
    if (c.withInstance) vfs = std::make_unique<TVirtualFileSystem>();
    c.check(vfs.get(), dialogs);
  }
}

TEST_F(VirtualFileSystem, DeletionWithoutMountingPointGoesToTheFirstWritableComponent) {
  TScriptedComponent* readOnly = Mount(data_, false);
  readOnly->existing = {"vfs/gone.txt"};
  TScriptedComponent* writable = Mount(temp_);
  writable->deleteResult = false;
  EXPECT_FALSE(vfs_->DeleteFile(TFileName("vfs/gone.txt")));
  EXPECT_EQ(writable->Operations(), (std::vector<std::string>{"IsWritable", "Delete"}));
  EXPECT_EQ(readOnly->Operations(), std::vector<std::string>{"IsWritable"});
  ASSERT_EQ(dialogs_.Dialogs().size(), 1u);
  EXPECT_EQ(dialogs_.Dialogs()[0].text, std::string(kDeleteWarningStart) + "vfs/gone.txt" + kDeleteWarningEnd);
  EXPECT_EQ(dialogs_.Dialogs()[0].caption, "Erreur");

  // With a mounting point, the component answers, warning-free.
  writable->deleteResult = true;
  EXPECT_TRUE(vfs_->DeleteFile(TFileName("Temp:/vfs/gone.txt")));
  EXPECT_EQ(dialogs_.Dialogs().size(), 1u);

  vfs_->Unmount(temp_);
  EXPECT_TRUE(ThrowsEngineMessage([&] { vfs_->DeleteFile(TFileName("vfs/gone.txt")); },
                                  "No writable filesystem mounted"));
}

TEST_F(VirtualFileSystem, QueriesAndOpensStopAtTheFirstAnswer) {
  TScriptedComponent* first = Mount(data_);
  TScriptedComponent* second = Mount(temp_);
  second->existing = {"vfs/info"};
  second->firstInfo = 11;
  second->secondInfo = 22;
  TScriptedComponent* third = Mount(temp_);
  third->existing = {"vfs/info"};
  const TFileName name("vfs/info");

  EXPECT_EQ(vfs_->GetFirstFileInfo(name), 11u);
  EXPECT_EQ(vfs_->GetSecondFileInfo(name), 22u);
  std::uint32_t a = 0, b = 0;
  EXPECT_TRUE(vfs_->QueryFileInfo(name, &a, &b));
  EXPECT_EQ(a + b, 33u);
  EXPECT_TRUE(third->Calls().empty());
  EXPECT_EQ(first->Operations().size(), 3u);

  // Open takes the first result that is not 0.
  second->open = {9, kFileStatusSuccess, true};
  third->open = {10, kFileStatusSuccess, true};
  EXPECT_EQ(vfs_->Open(name), 9u);

  // A query nobody answers: the missing-file dialog, then EFileNotFound.
  EXPECT_THROW(vfs_->GetFirstFileInfo(TFileName("vfs/missing")), EFileNotFound);
  ASSERT_EQ(dialogs_.Dialogs().size(), 1u);
  EXPECT_EQ(dialogs_.Dialogs()[0].idHigh, kFileNotFoundDialogId);
  EXPECT_THROW(vfs_->OpenStreamOrThrow(TFileName("vfs/missing"), kFileOpenRead, 0, 0), EFileNotFound);
  EXPECT_THROW(vfs_->OpenMemoryStreamOrThrow(TFileName("Temp:/vfs/missing"), kFileOpenRead, 0, 0), EFileNotFound);
}

TEST_F(VirtualFileSystem, OpensPassTheRoutingMountingPointAndTheirArguments) {
  TScriptedComponent* data = Mount(data_);
  TScriptedComponent* temp = Mount(temp_);
  TCountedPtr<TMemoryStream> memory(new TMemoryStream(4));
  temp->memoryStream = memory;
  temp->stream = memory;
  temp->openMemoryStream.result = 1;
  temp->openStream.result = 1;

  EXPECT_EQ(vfs_->OpenMemoryStream(TFileName("Temp:/vfs/m"), kFileOpenRead, 3, 4), memory);
  EXPECT_EQ(temp->Calls().back(), (TComponentCall{"OpenMemoryStream", "vfs/m", temp_, kFileOpenRead}));
  EXPECT_EQ(vfs_->OpenStream(TFileName("vfs/s"), kFileOpenRead | kFileOpenQuiet, 0, 0), memory);
  EXPECT_EQ(data->Calls().back(), (TComponentCall{"OpenStream", "vfs/s", 0, kFileOpenRead | kFileOpenQuiet}));

  // The split form hands over its own mounting point and the path, whatever the path carries.
  TFileStatus status = kFileStatusNotDefined;
  EXPECT_EQ(vfs_->OpenStream(temp_, TFileName("DataDir:/vfs/split"), kFileOpenRead, 0, 0, status), memory);
  EXPECT_EQ(temp->Calls().back(), (TComponentCall{"OpenStream", "vfs/split", temp_, kFileOpenRead}));
  EXPECT_EQ(status, kFileStatusSuccess);
  EXPECT_EQ(data->Calls().size(), 1u);
  // With 0 it goes through the components in mount order, the status being the last one's.
  data->openStream.status = kFileStatusFileNotFound;
  temp->openStream.status = kFileStatusHasLatency;
  EXPECT_EQ(vfs_->OpenStream(0, TFileName("Temp:/vfs/split"), kFileOpenRead, 0, 0, status), memory);
  EXPECT_EQ(data->Calls().back(), (TComponentCall{"OpenStream", "vfs/split", 0, kFileOpenRead}));
  EXPECT_EQ(status, kFileStatusHasLatency);
}

TEST_F(VirtualFileSystem, CriticalFailuresGoToTheNewestHandlerThenTheOlder) {
  TScriptedComponent* component = Mount(data_);
  component->openStream = {0, kFileStatusFileNotAvailable, true};
  const TFileName name("DataDir:/vfs/c.txt");
  TRecordingHandler older;
  TRecordingHandler newer;
  vfs_->PushCriticalErrorHandler(older);
  vfs_->PushCriticalErrorHandler(newer);
  EXPECT_TRUE(older.IsInstalled());

  EXPECT_FALSE(vfs_->OpenStream(name, kFileOpenRead, 0, 0));
  ASSERT_EQ(newer.calls.size(), 1u);
  EXPECT_EQ(newer.calls[0], std::make_pair(std::string("DataDir:/vfs/c.txt"), std::wstring(L"File not available")));
  EXPECT_TRUE(older.calls.empty());

  vfs_->PopCriticalErrorHandler(newer);
  EXPECT_FALSE(newer.IsInstalled());
  component->open = {0, kFileStatusNotSupported, true};
  EXPECT_EQ(vfs_->Open(name), 0u);
  ASSERT_EQ(older.calls.size(), 1u);
  EXPECT_EQ(older.calls[0].second, L"Not supported");
  EXPECT_EQ(newer.calls.size(), 1u);

  vfs_->PopCriticalErrorHandler(older);
  EXPECT_EQ(vfs_->GetCriticalErrorHandlerCount(), 0u);
  EXPECT_TRUE(dialogs_.Dialogs().empty());

  // A pop with nothing installed is reported and changes nothing.
  vfs_->PushCriticalErrorHandler(older);
  vfs_->PopCriticalErrorHandler(older);
  older.calls.clear();
  OrvTest::TDebugOutputRecorder output;
  vfs_->PopCriticalErrorHandler(newer);
  ASSERT_EQ(dialogs_.Dialogs().size(), 1u);
  EXPECT_EQ(dialogs_.Dialogs()[0].idHigh, kAssertionDialogId);
  EXPECT_EQ(vfs_->GetCriticalErrorHandlerCount(), 0u);
  // The next critical failure finds no handler and shows its dialog, reading nothing outside the
  // list.
  EXPECT_FALSE(vfs_->OpenStream(name, kFileOpenRead, 0, 0));
  EXPECT_EQ(dialogs_.Dialogs().size(), 2u);
  EXPECT_TRUE(older.calls.empty());
}

TEST_F(VirtualFileSystem, WithoutAHandlerTheCriticalDialogShowsOnceThenItsSiteIsSuppressed) {
  TScriptedComponent* component = Mount(data_);
  component->openMemoryStream = {0, kFileStatusFileNotWritable, true};
  const TFileName name("DataDir:/vfs/locked.txt");
  EXPECT_FALSE(vfs_->OpenMemoryStream(name, kFileOpenWrite, 0, 0));
  ASSERT_EQ(dialogs_.Dialogs().size(), 1u);
  EXPECT_TRUE(OrvTest::IsQuitGameWarning(dialogs_.Dialogs()[0], kCriticalErrorDialogId));
  EXPECT_EQ(dialogs_.Dialogs()[0].text, CriticalErrorText("DataDir:/vfs/locked.txt", "File not writable"));

  // The headless back end answers "ignore always": the site stays silent from then on.
  EXPECT_FALSE(vfs_->OpenMemoryStream(name, kFileOpenWrite, 0, 0));
  vfs_->ReportCriticalError(name, TOrvString<wchar_t>(L"other"));
  EXPECT_EQ(dialogs_.Dialogs().size(), 1u);
}

TEST_F(VirtualFileSystem, QuietOpensReportNothingAndKeepTheirResult) {
  TScriptedComponent* component = Mount(data_);
  TCountedPtr<TMemoryStream> memory(new TMemoryStream(1));
  component->stream = memory;
  component->openStream = {1, kFileStatusFileNotAvailable, true};
  TRecordingHandler handler;
  vfs_->PushCriticalErrorHandler(handler);
  EXPECT_EQ(vfs_->OpenStream(TFileName("DataDir:/vfs/q"), kFileOpenRead | kFileOpenQuiet, 0, 0), memory);
  EXPECT_TRUE(handler.calls.empty());
  // Loud, the same open is reported and still answers the stream.
  EXPECT_EQ(vfs_->OpenStream(TFileName("DataDir:/vfs/q"), kFileOpenRead, 0, 0), memory);
  EXPECT_EQ(handler.calls.size(), 1u);
  vfs_->PopCriticalErrorHandler(handler);
}

TEST_F(VirtualFileSystem, SplitFormLeavesTheCallersStatusToTheComponents) {
  TScriptedComponent* component = Mount(data_);
  component->openStream = {0, 0, false};
  TFileStatus status = kFileStatusSuccess;
  EXPECT_FALSE(vfs_->OpenStream(data_, TFileName("vfs/s"), kFileOpenRead, 0, 0, status));
  EXPECT_EQ(status, kFileStatusSuccess);
  // A critical status the caller brought in is checked like any other.
  TRecordingHandler handler;
  vfs_->PushCriticalErrorHandler(handler);
  status = kFileStatusNotSupported;
  EXPECT_FALSE(vfs_->OpenStream(0, TFileName("vfs/s"), kFileOpenRead, 0, 0, status));
  EXPECT_EQ(status, kFileStatusNotSupported);
  ASSERT_EQ(handler.calls.size(), 1u);
  EXPECT_EQ(handler.calls[0].first, "vfs/s");
  vfs_->PopCriticalErrorHandler(handler);
}

using VirtualFileSystemDeathTest = VirtualFileSystem;

TEST_F(VirtualFileSystemDeathTest, CorruptionEndsTheProcessAfterTheFatalErrorBox) {
  const struct {
    const char* name;
    TScriptedComponent::TOpenScript script;
  } cases[] = {
      {"corrupted", {1, kFileStatusFileCorrupted, true}},
      {"status never written", {1, 0, false}},
  };
  TScriptedComponent* component = Mount(data_);
  TCountedPtr<TMemoryStream> memory(new TMemoryStream(1));
  component->stream = memory;
  for (const auto& c : cases) {
    OrvTest::TFakeXmessage xmessage;
    component->openStream = c.script;
    EXPECT_EXIT(vfs_->OpenStream(TFileName("DataDir:/vfs/bad"), kFileOpenRead | kFileOpenQuiet, 0, 0),
                ::testing::ExitedWithCode(1), "")
        << c.name;
    const std::vector<std::string> arguments = xmessage.RecordedArguments();
    ASSERT_EQ(arguments.size(), 3u) << c.name;
    EXPECT_EQ(arguments[1], "ok:1");
    EXPECT_EQ(arguments[2],
              "--- Fatal Error\n\nCorrupted installation detected. Please verify the game cache integrity or "
              "reinstall.");
  }
}

TEST_F(VirtualFileSystem, EveryMountHasASerialOfItsOwn) {
  EXPECT_EQ(vfs_->FindMountSerial(data_), 0u);
  TScriptedComponent* first = Mount(data_);
  const std::uint32_t mounted = vfs_->FindMountSerial(data_);
  EXPECT_NE(mounted, 0u);
  Mount(data_);  // a second entry under the id does not change the first's
  EXPECT_EQ(vfs_->FindMountSerial(data_), mounted);
  auto* other = new TScriptedComponent();
  EXPECT_EQ(vfs_->ReplaceComponent(data_, other), first);
  const std::uint32_t replaced = vfs_->FindMountSerial(data_);
  EXPECT_NE(replaced, mounted);
  // The same component put back is another mount.
  EXPECT_EQ(vfs_->ReplaceComponent(data_, first), other);
  delete other;
  EXPECT_NE(vfs_->FindMountSerial(data_), replaced);
  EXPECT_NE(vfs_->FindMountSerial(data_), mounted);
  // Serials are not given again by a later file system either.
  const std::uint32_t last = vfs_->FindMountSerial(data_);
  vfs_.reset();
  vfs_ = std::make_unique<TVirtualFileSystem>();
  Mount(data_);
  EXPECT_GT(vfs_->FindMountSerial(data_), last);
}

TEST_F(VirtualFileSystem, GetAccessModeTextNamesTheAccessPart) {
  const char* expected[] = {"?", "RO", "WO", "RW", "?"};
  for (std::uint32_t mode = 0; mode <= 4; ++mode) EXPECT_STREQ(GetAccessModeText(mode), expected[mode]) << mode;
}

// ---- Real files, through a component over a temporary folder.

class VirtualFileSystemFiles : public VirtualFileSystem {
 protected:
  TCountedPtr<TMemoryStream> Source(const std::string& bytes) {
    TCountedPtr<TMemoryStream> source(new TMemoryStream(0));
    source->Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    return source;
  }

  OrvTest::TTemporaryFolder folder_{"orv_vfs"};
};

TEST_F(VirtualFileSystemFiles, SavedBytesReachTheFileWithoutAStaleTail) {
  vfs_->Mount(data_, new TNativeFolderComponent(folder_.Path()));
  const TFileName name("DataDir:/saved.bin");
  vfs_->SaveFile(*Source("first version, long"), name);
  EXPECT_EQ(OrvTest::ReadFileBytes(folder_.Path("saved.bin")), "first version, long");
  EXPECT_TRUE(TVirtualFileSystem::StaticSaveFile(*Source("short"), name));
  EXPECT_EQ(OrvTest::ReadFileBytes(folder_.Path("saved.bin")), "short");

  // And back through the file system.
  TCountedPtr<TAbstractMemoryStream> image = vfs_->OpenMemoryStreamOrThrow(name, kFileOpenRead, 0, 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image->GetData()), image->GetSize()), "short");
  EXPECT_EQ(vfs_->GetFirstFileInfo(name), 5u);
  EXPECT_TRUE(TVirtualFileSystem::StaticExists(name));
  EXPECT_TRUE(dialogs_.Dialogs().empty());
}

TEST_F(VirtualFileSystemFiles, WriteBackOntoAFullDeviceFailsTheSave) {
  ASSERT_EQ(::symlink("/dev/full", folder_.Path("full").c_str()), 0);
  vfs_->Mount(data_, new TNativeFolderComponent(folder_.Path()));
  const TFileName name("DataDir:/full");
  OrvTest::TDebugOutputRecorder output;
  EXPECT_FALSE(vfs_->TrySaveFile(*Source("bytes the device will not take"), name));
  EXPECT_TRUE(ThrowsEngineMessage([&] { vfs_->SaveFile(*Source("again"), name); }, "Unable to save file : DataDir:/full"));
  EXPECT_THROW(TVirtualFileSystem::StaticSaveFile(*Source("again"), name), EFileException);

  // A volume that cannot take the new length says so itself; the read lock is given back.
  {
    const OrvTest::TFailingTruncate failing(ENOSPC);
    EXPECT_THROW(vfs_->TrySaveFile(*Source("bytes"), TFileName("DataDir:/plain")), EVolumeFull);
  }
  vfs_->Unmount(data_);
  EXPECT_EQ(vfs_->FindComponent(data_), nullptr);
}

TEST_F(VirtualFileSystemFiles, StreamsThatAreNoFileImageAreSavedAsThePartSays) {
  // A plain memory stream that the component keeps: the bytes stay in it, and the save succeeds.
  TScriptedComponent* component = Mount(data_);
  TCountedPtr<TMemoryStream> kept(new TMemoryStream(0));
  component->memoryStream = kept;
  component->openMemoryStream.result = 1;
  EXPECT_TRUE(vfs_->TrySaveFile(*Source("kept bytes"), TFileName("DataDir:/kept")));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(kept->GetData()), kept->GetSize()), "kept bytes");
  EXPECT_EQ(component->Calls().back(), (TComponentCall{"OpenMemoryStream", "kept", data_, kFileOpenWrite}));
  component->openMemoryStream.result = 0;
  EXPECT_FALSE(vfs_->TrySaveFile(*Source("x"), TFileName("DataDir:/kept")));
}

TEST_F(VirtualFileSystemFiles, ListFilesMergesTwoComponentsIntoOneSortedList) {
  const std::string first = folder_.Path("first");
  const std::string second = folder_.Path("second");
  std::vector<std::string> expected;
  for (const std::string& root : {first, second}) {
    ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((root + "/lists").c_str(), 0755), 0);
  }
  ASSERT_EQ(::mkdir((first + "/lists/sub").c_str(), 0755), 0);  // folders are not listed
  char text[32];
  for (int i = 0; i < 100; ++i) {
    std::snprintf(text, sizeof text, "Entry%03d.dat", i);
    OrvTest::WriteFileBytes(first + "/lists/" + text, "1");
    expected.push_back(std::string("lists/") + text);
  }
  // Twenty of the second folder's files are case twins of the first's.
  for (int i = 80; i < 180; ++i) {
    std::snprintf(text, sizeof text, "ENTRY%03d.dat", i);
    OrvTest::WriteFileBytes(second + "/lists/" + text, "2");
    if (i >= 100) expected.push_back(std::string("lists/") + text);
  }
  vfs_->Mount(data_, new TNativeFolderComponent(first, false));
  vfs_->Mount(temp_, new TNativeFolderComponent(second));

  const TVector<TFileName> names = vfs_->ListFiles(TFileName("lists"), 0, false);
  ASSERT_EQ(names.GetSize(), 180u);
  for (std::uint32_t i = 0; i < names.GetSize(); ++i) EXPECT_EQ(VfsText(names[i]), expected[i]) << i;

  // With a mounting point, only that component lists, and the names carry it.
  const TVector<TFileName> secondOnly = vfs_->ListFiles(TFileName("Temp:/lists"), 0, false);
  ASSERT_EQ(secondOnly.GetSize(), 100u);
  EXPECT_EQ(VfsText(secondOnly[0]), "Temp:/lists/Entry080.dat");
}

TEST_F(VirtualFileSystem, ListFilesKeepsTheFirstComponentsEntryOfATextAndPassesTheFilterOn) {
  TScriptedComponent* first = Mount(data_);
  first->enumerated = {{"Twin", "from/first"}, {"b", ""}};
  TScriptedComponent* second = Mount(temp_);
  second->enumerated = {{"twin", "from/second"}, {"a", ""}};
  const TVector<TFileName> names = vfs_->ListFiles(TFileName("folder"), 0xFFFFFFFE, true);
  ASSERT_EQ(names.GetSize(), 3u);
  EXPECT_EQ(VfsText(names[0]), "a");
  EXPECT_EQ(VfsText(names[1]), "b");
  EXPECT_EQ(VfsText(names[2]), "from/first");
  // The filter reaches the components' selector bit for bit.
  EXPECT_EQ(first->Calls().back(), (TComponentCall{"Enumerate", "folder", 0, 0xFFFFFFFE}));

  // A component that throws leaves nothing behind.
  second->enumerated = {{"bad:name", ""}};
  EXPECT_THROW(vfs_->ListFiles(TFileName("folder"), 0, false), EInvalidFileName);
}

}  // namespace
}  // namespace Orvan
