#include "core/filesystem/file_system_component_link.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/diagnostics/engine_exception_kinds.h"
#include "core/filesystem/mounting_points.h"
#include "core/filesystem/sorted_file_name_list.h"
#include "core/filesystem/virtual_file_system.h"
#include "core/streams/memory_stream.h"
#include "support/dialog_recorder.h"
#include "support/file_name_registries.h"
#include "support/file_system_components.h"
#include "support/process_allocator_seam.h"
#include "support/temporary_folder.h"

namespace Orvan {
namespace {

using OrvTest::TComponentCall;
using OrvTest::TNativeFolderComponent;
using OrvTest::TScriptedComponent;

std::string LinkText(const TFileName& name) {
  const TOrvString<char> text = name.ToString();
  return std::string(text.c_str(), text.GetLength());
}

// A file system with a scripted component at "DataDir" and a link with the prefix Maps onto it.
class FileSystemComponentLink : public OrvTest::TFreshFileNameRegistries {
 protected:
  void SetUp() override {
    TFreshFileNameRegistries::SetUp();
    vfs_ = std::make_unique<TVirtualFileSystem>();
    target_ = new TScriptedComponent(true);
    vfs_->Mount(data_, target_);
    link_ = std::make_unique<TFileSystemComponentLink>(data_, TFileName("Maps"));
  }
  void TearDown() override {
    link_.reset();
    vfs_.reset();
    TFreshFileNameRegistries::TearDown();
  }

  // Every operation of the link answers as for a file that is not there.
  void ExpectAnswersAsMissing(TFileSystemComponentLink& link) {
    const TFileName name("x");
    std::uint32_t info = 0;
    EXPECT_FALSE(link.Exists(name));
    EXPECT_FALSE(link.QueryFileInfo(name, &info, &info));
    EXPECT_FALSE(link.Delete(name));
    EXPECT_FALSE(link.IsWritable());
    TFileStatus status = kFileStatusNotDefined;
    EXPECT_EQ(link.Open(name, status), 0u);
    EXPECT_EQ(status, kFileStatusFileNotFound);
    status = kFileStatusNotDefined;
    EXPECT_FALSE(link.OpenMemoryStream(temp_, name, kFileOpenRead, 0, 0, status));
    EXPECT_EQ(status, kFileStatusFileNotFound);
    status = kFileStatusNotDefined;
    EXPECT_FALSE(link.OpenStream(temp_, name, kFileOpenWrite, 0, 0, status));
    EXPECT_EQ(status, kFileStatusFileNotFound);
    TSortedFileNameList list(0);
    link.Enumerate(list, name, 0, false);
    EXPECT_EQ(list.GetSize(), 0u);
  }

  const std::uint16_t data_ = GetDataDirMountingPoint();
  const std::uint16_t temp_ = GetTempMountingPoint();
  std::unique_ptr<TVirtualFileSystem> vfs_;
  TScriptedComponent* target_ = nullptr;
  std::unique_ptr<TFileSystemComponentLink> link_;
  OrvTest::TDialogRecorder dialogs_;
};

TEST_F(FileSystemComponentLink, EveryRequestReachesTheTargetBelowThePrefix) {
  target_->existing = {"Maps/Maps2/x.vdf", "x"};
  target_->firstInfo = 11;
  target_->open = {5, kFileStatusHasLatency};
  target_->openStream = {1, kFileStatusHasLatency};
  target_->openMemoryStream = {1, kFileStatusHasLatency};
  target_->stream = new TMemoryStream(1);
  target_->memoryStream = new TMemoryStream(1);
  target_->deleteResult = false;
  target_->enumerated = {{"listed", ""}};
  const TFileName name("Temp:/Maps2/x.vdf");
  const TFileOpenFlags flags = kFileOpenRead | kFileOpenQuiet;

  EXPECT_TRUE(link_->Exists(name));
  std::uint32_t first = 0;
  EXPECT_TRUE(link_->QueryFileInfo(name, &first, nullptr));
  EXPECT_EQ(first, 11u);
  TFileStatus status = kFileStatusNotDefined;
  EXPECT_EQ(link_->Open(name, status), 5u);
  EXPECT_EQ(status, kFileStatusHasLatency);
  status = kFileStatusNotDefined;
  EXPECT_EQ(link_->OpenStream(temp_, name, flags, 1, 2, status), target_->stream);
  EXPECT_EQ(status, kFileStatusHasLatency);
  status = kFileStatusNotDefined;
  EXPECT_EQ(link_->OpenMemoryStream(0, name, flags, 1, 2, status), target_->memoryStream);
  EXPECT_EQ(status, kFileStatusHasLatency);
  EXPECT_FALSE(link_->Delete(name));
  TSortedFileNameList list(temp_);
  link_->Enumerate(list, TFileName("sub"), 6, true);
  EXPECT_EQ(list.GetSize(), 1u);
  EXPECT_TRUE(link_->IsWritable());

  // Every path below the prefix, with the target's mounting point: the opens get it in place of
  // the one they were given.
  const std::string path = "Maps/Maps2/x.vdf";
  const std::vector<TComponentCall> expected = {
      {"Exists", path, data_, 0},
      {"QueryFileInfo", path, data_, 0},
      {"Open", path, data_, 0},
      {"OpenStream", path, data_, flags},
      {"OpenMemoryStream", path, data_, flags},
      {"Delete", path, data_, 0},
      {"Enumerate", "Maps/sub", data_, 6},
      {"IsWritable", "", 0, 0},
  };
  EXPECT_EQ(target_->Calls(), expected);
}

TEST_F(FileSystemComponentLink, DotDotOfTheNameClimbsIntoThePrefix) {
  const struct {
    const char* prefix;
    const char* name;
    const char* target;
  } cases[] = {
      {"Maps", "Maps2/x.vdf", "Maps/Maps2/x.vdf"},
      {"Maps", "../x", "x"},
      {"Maps", "../../x", "../x"},
      {"a/b", "c/d.txt", "a/b/c/d.txt"},
      {"a/b", "../x", "a/x"},
      {"", "c/d.txt", "c/d.txt"},
      {"Temp:/a", "", "a"},
  };
  for (const auto& c : cases) {
    const TFileSystemComponentLink link(data_, TFileName(c.prefix));
    const TFileName path = link.MakeTargetPath(TFileName(c.name));
    EXPECT_EQ(LinkText(path), std::string("DataDir:/") + c.target) << c.prefix << " + " << c.name;
  }
}

TEST_F(FileSystemComponentLink, RootNameIsEmptyEvenWhenTheTargetHasOne) {
  target_->rootName = TFileName("DataDir:/root");
  EXPECT_EQ(link_->GetRootName(), TFileName());
  EXPECT_EQ(link_->GetTargetMountingPoint(), data_);
}

TEST_F(FileSystemComponentLink, AnUnmountedTargetIsNeverCalledAgain) {
  EXPECT_TRUE(link_->IsTargetStillMounted());
  vfs_->Unmount(data_);
  target_ = nullptr;
  // Likely at the freed target's address.
  auto* successor = new TScriptedComponent(true);
  successor->existing = {"Maps/x"};
  EXPECT_FALSE(link_->IsTargetStillMounted());
  ExpectAnswersAsMissing(*link_);
  vfs_->Mount(data_, successor);
  EXPECT_FALSE(link_->IsTargetStillMounted());
  ExpectAnswersAsMissing(*link_);
  EXPECT_TRUE(successor->Calls().empty());
}

TEST_F(FileSystemComponentLink, AReplacedTargetGetsNoMoreRequests) {
  auto* successor = new TScriptedComponent(true);
  TAbstractFileSystemComponent* replaced = vfs_->ReplaceComponent(data_, successor);
  ASSERT_EQ(replaced, target_);
  EXPECT_FALSE(link_->IsTargetStillMounted());
  ExpectAnswersAsMissing(*link_);
  EXPECT_TRUE(target_->Calls().empty());
  EXPECT_TRUE(successor->Calls().empty());

  // Put back, it is a later mount: the link does not follow it.
  EXPECT_EQ(vfs_->ReplaceComponent(data_, target_), successor);
  EXPECT_FALSE(link_->IsTargetStillMounted());
  ExpectAnswersAsMissing(*link_);
  EXPECT_TRUE(target_->Calls().empty());
  delete successor;
}

TEST_F(FileSystemComponentLink, ALinkBuiltWithoutATargetAnswersAsMissing) {
  // Nothing mounted at the target yet: still "mounted" while nothing is, but never forwarded.
  TFileSystemComponentLink link(temp_, TFileName("Maps"));
  EXPECT_TRUE(link.IsTargetStillMounted());
  ExpectAnswersAsMissing(link);
  auto* later = new TScriptedComponent(true);
  vfs_->Mount(temp_, later);
  EXPECT_FALSE(link.IsTargetStillMounted());
  ExpectAnswersAsMissing(link);
  EXPECT_TRUE(later->Calls().empty());

  // Without a file system, nothing is mounted anywhere.
  link_.reset();
  vfs_.reset();
  target_ = nullptr;
  TFileSystemComponentLink orphan(data_, TFileName("Maps"));
  EXPECT_TRUE(orphan.IsTargetStillMounted());
  ExpectAnswersAsMissing(orphan);
}

TEST_F(FileSystemComponentLink, APrefixThatNoParseGivesThrowsAndKeepsNothing) {
  TFileName prefix("Maps");
  prefix.AppendToLastComponent(":bad");
  const std::uint32_t references = prefix.GetNode()->count.load();
  EXPECT_THROW(TFileSystemComponentLink link(data_, prefix), EInvalidFileName);
  EXPECT_EQ(prefix.GetNode()->count.load(), references);

  // A separator inside a component is split by the rebuilt prefix; the listing keeps the name as
  // it was given.
  TFileName split("Maps");
  split.AppendToLastComponent("/sub");
  ASSERT_EQ(split.GetComponentCount(), 1u);
  TFileSystemComponentLink link(data_, split);
  EXPECT_EQ(link.MakeTargetPath(TFileName("x")).GetComponentCount(), 3u);
}

TEST_F(FileSystemComponentLink, ForwardingAPathUsedBeforeAllocatesNothing) {
  target_->SetRecording(false);
  target_->openStream = {1, 0};
  target_->openMemoryStream = {1, 0};
  target_->open = {1, 0};
  target_->stream = new TMemoryStream(1);
  target_->memoryStream = new TMemoryStream(1);
  const TFileName name("Maps2/x.vdf");
  const TFileName folder("Maps2");
  TSortedFileNameList list(0);
  TFileStatus status = kFileStatusNotDefined;
  // The first requests make the paths' nodes.
  link_->Open(name, status);
  link_->Enumerate(list, folder, 0, false);
  bool answered = true;

  OrvTest::InstallSeam();
  answered &= link_->Open(name, status) == 1;
  answered &= static_cast<bool>(link_->OpenStream(temp_, name, kFileOpenRead, 0, 0, status));
  answered &= static_cast<bool>(link_->OpenMemoryStream(temp_, name, kFileOpenRead, 0, 0, status));
  answered &= link_->Delete(name);
  answered &= link_->IsWritable();
  answered &= link_->IsTargetStillMounted();
  link_->Enumerate(list, folder, 0, false);
  OrvTest::RestoreSeam();

  EXPECT_TRUE(answered);
  EXPECT_EQ(OrvTest::g_seam.allocations, 0);
}

// ---- Real files: the link mounted at "Temp" shows DataDir's folder Maps.

TEST_F(FileSystemComponentLink, MountedItShowsTheSubFolderOfANativeFolder) {
  OrvTest::TTemporaryFolder folder("orv_link");
  ASSERT_EQ(::mkdir(folder.Path("Maps").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(folder.Path("Maps/Maps2").c_str(), 0755), 0);
  OrvTest::WriteFileBytes(folder.Path("Maps/Maps2/x.vdf"), "map bytes");
  OrvTest::WriteFileBytes(folder.Path("top.txt"), "top");
  link_.reset();
  vfs_->Unmount(data_);
  vfs_->Mount(data_, new TNativeFolderComponent(folder.Path()));
  vfs_->Mount(temp_, new TFileSystemComponentLink(data_, TFileName("Maps")));

  EXPECT_TRUE(vfs_->Exists(TFileName("Temp:/Maps2/x.vdf")));
  EXPECT_TRUE(vfs_->Exists(TFileName("Temp:/../top.txt")));
  EXPECT_FALSE(vfs_->Exists(TFileName("Temp:/top.txt")));
  EXPECT_EQ(vfs_->GetFirstFileInfo(TFileName("Temp:/Maps2/x.vdf")), 9u);
  const TCountedPtr<TAbstractMemoryStream> image =
      vfs_->OpenMemoryStreamOrThrow(TFileName("Temp:/Maps2/x.vdf"), kFileOpenRead, 0, 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image->GetData()), image->GetSize()), "map bytes");
  const TVector<TFileName> names = vfs_->ListFiles(TFileName("Temp:/Maps2"), 0, false);
  ASSERT_EQ(names.GetSize(), 1u);
  EXPECT_EQ(LinkText(TFileName::GetLeafName(names[0])), "x.vdf");
  EXPECT_TRUE(vfs_->DeleteFile(TFileName("Temp:/Maps2/x.vdf")));
  EXPECT_FALSE(vfs_->Exists(TFileName("Temp:/Maps2/x.vdf")));

  // With DataDir gone, the link finds nothing (and reads no freed component).
  vfs_->Unmount(data_);
  EXPECT_FALSE(vfs_->Exists(TFileName("Temp:/../top.txt")));
  EXPECT_FALSE(vfs_->OpenMemoryStream(TFileName("Temp:/../top.txt"), kFileOpenRead | kFileOpenQuiet, 0, 0));
  target_ = nullptr;
}

}  // namespace
}  // namespace Orvan
