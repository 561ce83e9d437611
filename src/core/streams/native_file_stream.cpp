// The stream over a POSIX file descriptor.
#include "core/streams/native_file_stream.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

#include "core/diagnostics/engine_exception_kinds.h"
#include "core/streams/memory_cursor.h"

namespace Orvan {

namespace {

TNativeWriteCall g_write = &::write;
TNativeTruncateCall g_truncate = &::ftruncate64;

}  // namespace

TNativeWriteCall SetNativeWriteCallForTests(TNativeWriteCall call) { return std::exchange(g_write, call); }

TNativeTruncateCall SetNativeTruncateCallForTests(TNativeTruncateCall call) { return std::exchange(g_truncate, call); }

TNativeFileStream::TNativeFileStream(std::int32_t descriptor, std::uint32_t, std::uint32_t value) noexcept
    : descriptor_(descriptor), value_(value) {}

TNativeFileStream::~TNativeFileStream() {
  if (descriptor_ != -1) ::close(descriptor_);
}

TOrvString<char> TNativeFileStream::GetDescription() const { return TOrvString<char>("<Unavailable>"); }

std::uint32_t TNativeFileStream::GetSize() const {
  const off64_t position = ::lseek64(descriptor_, 0, SEEK_CUR);
  ::lseek64(descriptor_, 0, SEEK_END);
  const off64_t size = ::lseek64(descriptor_, 0, SEEK_CUR);
  ::lseek64(descriptor_, position, SEEK_SET);
  return static_cast<std::uint32_t>(size);
}

std::uint32_t TNativeFileStream::GetPosition() const {
  return static_cast<std::uint32_t>(::lseek64(descriptor_, 0, SEEK_CUR));
}

void TNativeFileStream::SetPosition(std::uint32_t position) { ::lseek64(descriptor_, off64_t{position}, SEEK_SET); }

std::int32_t TNativeFileStream::Read(void* destination, std::uint32_t count) {
  return static_cast<std::int32_t>(::read(descriptor_, destination, count));
}

std::uint32_t TNativeFileStream::ReadWithStatus(void* destination, std::uint32_t count, std::uint32_t& status) {
  status = kStreamStatusDone;
  const ssize_t read = ::read(descriptor_, destination, count);
  if (read < 0) {
    status = kStreamStatusError;
    return 0;
  }
  if (static_cast<std::uint64_t>(read) < count) status = kStreamStatusShort;
  return static_cast<std::uint32_t>(read);
}

std::int32_t TNativeFileStream::Write(const void* source, std::uint32_t count) {
  const auto* bytes = static_cast<const std::uint8_t*>(source);
  std::uint64_t written = 0;
  while (written < count) {
    const ssize_t result = g_write(descriptor_, bytes + written, count - written);
    if (result < 0) {
      if (errno == EINTR) continue;
      if (written == 0) return -1;
      break;
    }
    // A write that takes nothing would take nothing again.
    if (result == 0) break;
    written += static_cast<std::uint64_t>(result);
  }
  return MemoryCursor::CountAsResult(written);
}

void TNativeFileStream::SetSize(std::uint32_t size) {
  if (g_truncate(descriptor_, off64_t{size}) == 0) return;
  if (errno == ENOSPC) throw EVolumeFull();
}

void TNativeFileStream::Seek(std::uint32_t offset, std::uint32_t origin) {
  std::uint64_t target;
  if (origin == kSeekFromStart) {
    target = offset;
  } else if (origin == kSeekFromEnd) {
    target = static_cast<std::uint32_t>(GetSize() - offset);
  } else {
    target = std::uint64_t{GetPosition()} + offset;
  }
  if (target <= GetSize()) SetPosition(static_cast<std::uint32_t>(target));
}

}  // namespace Orvan
