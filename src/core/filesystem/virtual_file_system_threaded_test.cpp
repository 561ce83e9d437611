#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

#include "core/filesystem/mounting_points.h"
#include "core/filesystem/virtual_file_system.h"
#include "support/file_system_components.h"
#include "support/threads_together.h"

namespace Orvan {
namespace {

using OrvTest::TScriptedComponent;

TScriptedComponent* QuietVfsComponent() { return OrvTest::NewQuietComponent({"shared/file"}); }

// Four readers route by mounting point and in mount order, nesting lookups inside a read lock of
// their own, while a writer mounts, replaces and unmounts a second component. Under one read lock
// the mount list must not change; the component that stays mounted answers throughout.
TEST(VirtualFileSystemThreaded, ReadersRouteWhileAWriterChangesTheMountList) {
  constexpr int kReaders = 4;
  constexpr int kRounds = 300;
  TVirtualFileSystem vfs;
  const std::uint16_t data = GetDataDirMountingPoint();
  const std::uint16_t temp = GetTempMountingPoint();
  TScriptedComponent* stays = QuietVfsComponent();
  vfs.Mount(data, stays);
  const TFileName inData("DataDir:/shared/file");
  const TFileName inTemp("Temp:/shared/file");
  const TFileName bare("shared/file");
  std::atomic<int> failures{0};

  OrvTest::RunOnThreadsTogether(kReaders + 1, [&](int index) {
    if (index == kReaders) {
      for (int round = 0; round < kRounds; ++round) {
        vfs.Mount(temp, QuietVfsComponent());
        delete vfs.ReplaceComponent(temp, QuietVfsComponent());
        vfs.Unmount(temp);
      }
      return;
    }
    for (int round = 0; round < kRounds; ++round) {
      const TScopedReadLock reading(&vfs.GetLock());
      TAbstractFileSystemComponent* mounted = vfs.FindComponent(temp);
      bool ok = vfs.GetComponentOrThrow(data) == stays && vfs.Exists(inData) && vfs.Exists(bare) &&
                vfs.FindOwningComponent(bare) == stays && vfs.Open(bare) == 1;
      ok = ok && vfs.Exists(inTemp) == (mounted != nullptr) && vfs.FindComponent(temp) == mounted;
      if (!ok) failures.fetch_add(1);
    }
  });
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(vfs.FindComponent(temp), nullptr);
}

}  // namespace
}  // namespace Orvan
