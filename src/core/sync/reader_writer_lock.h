// TReaderWriterLock: a readers-preferring lock over two semaphores. The first reader takes the
// write lock on behalf of all readers and the last one gives it back, so overlapping readers can
// keep a writer waiting.
#pragma once

#include <cstdint>

#include "core/sync/semaphore.h"

namespace Orvan {

class TReaderWriterLock {
 public:
  TReaderWriterLock() : guard_(1), writeLock_(1), readerCount_(0) {}
  TReaderWriterLock(const TReaderWriterLock&) = delete;
  TReaderWriterLock& operator=(const TReaderWriterLock&) = delete;

  void ReadLock();
  void ReadUnlock();
  void WriteLock();
  void WriteUnlock();

 private:
  // Declared so that writeLock_ is destroyed before guard_.
  TSemaphore guard_;      // protects readerCount_
  TSemaphore writeLock_;  // held by a writer or by the readers together
  std::uint32_t readerCount_;
};

// Holds a read lock for its lifetime.
class TScopedReadLock {
 public:
  explicit TScopedReadLock(TReaderWriterLock* lock) : lock_(lock) { lock_->ReadLock(); }
  ~TScopedReadLock() { lock_->ReadUnlock(); }
  TScopedReadLock(const TScopedReadLock&) = delete;
  TScopedReadLock& operator=(const TScopedReadLock&) = delete;

 private:
  TReaderWriterLock* lock_;
};

}  // namespace Orvan
