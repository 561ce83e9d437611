#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

#include "core/filesystem/file_system_component_link.h"
#include "core/filesystem/mounting_points.h"
#include "core/filesystem/virtual_file_system.h"
#include "support/file_system_components.h"
#include "support/threads_together.h"

namespace Orvan {
namespace {

using OrvTest::TScriptedComponent;

TScriptedComponent* QuietComponent() { return OrvTest::NewQuietComponent({"Maps/x"}); }

// Readers go through a link, directly and mounted, while a writer unmounts the link's target
// (which deletes it) and mounts another at the same id. No request may reach the deleted target,
// and once a reader has seen the file missing it stays missing.
TEST(FileSystemComponentLinkThreaded, RequestsNeverReachATargetUnmountedMeanwhile) {
  constexpr int kReaders = 4;
  constexpr int kRounds = 3000;
  constexpr int kReadsBeforeUnmount = 1000;
  TVirtualFileSystem vfs;
  const std::uint16_t data = GetDataDirMountingPoint();
  const std::uint16_t temp = GetTempMountingPoint();
  vfs.Mount(data, QuietComponent());
  TFileSystemComponentLink link(data, TFileName("Maps"));
  vfs.Mount(temp, new TFileSystemComponentLink(data, TFileName("Maps")));
  const TFileName direct("x");
  const TFileName mounted("Temp:/x");
  std::atomic<int> reads{0};
  std::atomic<int> failures{0};

  OrvTest::RunOnThreadsTogether(kReaders + 1, [&](int index) {
    if (index == kReaders) {
      while (reads.load() < kReadsBeforeUnmount) std::this_thread::yield();
      vfs.Unmount(data);
      vfs.Mount(data, QuietComponent());
      return;
    }
    // Readers stop after their rounds, so the writer (whom overlapping readers keep waiting) gets
    // the lock at the latest then.
    bool sawMissing = false;
    for (int round = 0; round < kRounds; ++round) {
      const bool found = link.Exists(direct);
      const bool foundMounted = vfs.Exists(mounted);
      if ((found || foundMounted) && sawMissing) failures.fetch_add(1);
      if (!found || !foundMounted) sawMissing = true;
      reads.fetch_add(1);
      std::this_thread::yield();
    }
  });
  EXPECT_EQ(failures.load(), 0);
  EXPECT_FALSE(link.IsTargetStillMounted());
  EXPECT_FALSE(vfs.Exists(mounted));
}

}  // namespace
}  // namespace Orvan
