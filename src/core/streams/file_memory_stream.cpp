// Loading a file's image into memory, writing it back, and the binding to the file's stream.
#include "core/streams/file_memory_stream.h"

#include <exception>
#include <utility>

#include "core/diagnostics/debug_output.h"
#include "core/streams/memory_cursor.h"
#include "core/text/text_encoding.h"

namespace Orvan {

namespace {

// The memory family has no log of its own: a lost write-back is told on the debug output.
void ReportLostWriteBack(const char* reason) {
  OutputDebugString_ostream& output = GetDebugOutputStream();
  output << L"TFileMemoryStream: the content was not written back to its file: ";
  WriteUtf8AsWide(output, reason);
  output << L'\n';
  output.flush();
}

}  // namespace

TFileMemoryStream::TFileMemoryStream(std::uint32_t, std::uint32_t flags, std::uint32_t regionOffset,
                                     std::uint32_t regionLength)
    : regionFlag_(regionOffset != 0 || regionLength != 0 || (flags & kFileMemoryStreamRegion) != 0 ? 1 : 0),
      flags_(flags),
      regionOffset_(regionOffset),
      regionLength_(regionLength) {}

TFileMemoryStream::TFileMemoryStream(std::uint32_t opener, std::uint32_t flags)
    : TFileMemoryStream(opener, flags, 0, 0) {}

TFileMemoryStream::~TFileMemoryStream() {
  if (!file_) return;
  try {
    ReleaseContent();
  } catch (const std::exception& failure) {
    ReportLostWriteBack(failure.what());
  }
}

TOrvString<char> TFileMemoryStream::GetDescription() const { return TOrvString<char>("<Unavailable>"); }

std::int32_t TFileMemoryStream::Write(const void* source, std::uint32_t count) {
  return content_.WriteShownBy(*this, source, count);
}

void TFileMemoryStream::SetSize(std::uint32_t size) { content_.SetSizeShownBy(*this, size); }

bool TFileMemoryStream::LoadContent(const TCountedPtr<TStream>& file, TFileStatus* status) {
  const std::uint32_t length = regionFlag_ != 0 ? regionLength_ : file->GetSize();
  content_.SetPosition(0);
  content_.SetSizeShownBy(*this, length);
  file->SetPosition(regionOffset_);
  TFileStatus readStatus = kFileStatusSuccess;
  const std::uint32_t read = file->ReadWithStatus(content_.GetData(), length, readStatus);
  // Bytes the file did not give are not part of the image.
  if (read < length) content_.SetSizeShownBy(*this, read);
  if (status != nullptr) *status = readStatus;
  return readStatus == kFileStatusSuccess;
}

std::int32_t TFileMemoryStream::SaveContent(const TCountedPtr<TStream>& file) {
  const std::uint32_t size = content_.GetSize();
  if (regionFlag_ == 0) {
    file->SetSize(size);
    // The file keeps its length when it cannot be cut: writing the content over its start would
    // leave the old tail behind it and look like a good save.
    if (file->GetSize() > size) return -1;
  }
  file->SetPosition(regionOffset_);
  const std::int32_t written = file->Write(content_.GetData(), size);
  content_.SetPosition(0);
  return written;
}

bool TFileMemoryStream::AttachFile(const TCountedPtr<TStream>& file, TFileStatus& status) {
  status = kFileStatusSuccess;
  if ((flags_ & kFileMemoryStreamLoad) != 0 && !LoadContent(file, &status)) return false;
  if ((flags_ & kFileMemoryStreamWriteBack) != 0) file_ = file;
  return true;
}

bool TFileMemoryStream::ReleaseContent() {
  // Let go of the file on every way out, the last reference closing it.
  const TCountedPtr<TStream> file = std::move(file_);
  if (!file || (flags_ & kFileMemoryStreamWriteBack) == 0) return true;
  if (SaveContent(file) == MemoryCursor::CountAsResult(content_.GetSize())) return true;
  ReportLostWriteBack("the file could not be cut to the content's size or written");
  return false;
}

}  // namespace Orvan
