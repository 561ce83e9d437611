// TReaderWriterLock: readerCount_ is read and written only while guard_ is held.
#include "core/sync/reader_writer_lock.h"

namespace Orvan {

void TReaderWriterLock::ReadLock() {
  guard_.Wait();
  if (readerCount_ == 0) writeLock_.Wait();
  ++readerCount_;
  guard_.Post();
}

void TReaderWriterLock::ReadUnlock() {
  guard_.Wait();
  if (readerCount_ == 1) writeLock_.Post();
  --readerCount_;
  guard_.Post();
}

void TReaderWriterLock::WriteLock() { writeLock_.Wait(); }
void TReaderWriterLock::WriteUnlock() { writeLock_.Post(); }

}  // namespace Orvan
