#include "core/sync/reader_writer_lock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "core/sync/event.h"
#include "support/threads_together.h"

namespace Orvan {
namespace {

TEST(ReaderWriterLockThreaded, WriterWaitsUntilBothReadersLetGo) {
  TReaderWriterLock lock;
  TEvent readerHolds[2] = {TEvent(TEvent::kManualReset), TEvent(TEvent::kManualReset)};
  TEvent readerRelease[2] = {TEvent(TEvent::kManualReset), TEvent(TEvent::kManualReset)};
  TEvent writerHolds(TEvent::kManualReset);
  std::vector<std::thread> readers;
  for (int i = 0; i < 2; ++i) {
    readers.emplace_back([&, i] {
      TScopedReadLock read(&lock);
      readerHolds[i].Set();
      readerRelease[i].Wait();
    });
  }
  // Both readers hold the lock at once.
  readerHolds[0].Wait();
  readerHolds[1].Wait();
  std::thread writer([&] {
    lock.WriteLock();
    writerHolds.Set();
    lock.WriteUnlock();
  });
  EXPECT_FALSE(writerHolds.TimedWait(30)) << "writer got in beside two readers";
  readerRelease[0].Set();
  readers[0].join();
  EXPECT_FALSE(writerHolds.TimedWait(30)) << "writer got in beside one reader";
  readerRelease[1].Set();
  readers[1].join();
  EXPECT_TRUE(writerHolds.TimedWait(10000));
  writer.join();
}

TEST(ReaderWriterLockThreaded, ReaderWaitsForTheWriter) {
  TReaderWriterLock lock;
  TEvent readerHolds(TEvent::kManualReset);
  lock.WriteLock();
  std::thread reader([&] {
    TScopedReadLock read(&lock);
    readerHolds.Set();
  });
  EXPECT_FALSE(readerHolds.TimedWait(30));
  lock.WriteUnlock();
  EXPECT_TRUE(readerHolds.TimedWait(10000));
  reader.join();
  lock.WriteLock();  // the last reader gave the write lock back
  lock.WriteUnlock();
}

// Writers keep two plain words equal; readers must never see them apart.
TEST(ReaderWriterLockThreaded, ReadersNeverSeeAHalfWrite) {
  constexpr int kReaders = 3;
  constexpr int kWriters = 2;
  constexpr int kRounds = 2000;
  TReaderWriterLock lock;
  std::uint64_t first = 0;
  std::uint64_t second = 0;
  std::atomic<int> tornReads{0};
  // Threads 0 to kWriters - 1 write, the others read.
  OrvTest::RunOnThreadsTogether(kWriters + kReaders, [&](int i) {
    for (int r = 0; r < kRounds; ++r) {
      if (i < kWriters) {
        lock.WriteLock();
        ++first;
        ++second;
        lock.WriteUnlock();
      } else {
        TScopedReadLock read(&lock);
        if (first != second) ++tornReads;
      }
    }
  });
  EXPECT_EQ(tornReads, 0);
  EXPECT_EQ(first, std::uint64_t{kWriters} * kRounds);
}

}  // namespace
}  // namespace Orvan
