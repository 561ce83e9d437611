// Digests of file names: their component ids fed to MD5, and the MD5 and CRC-64 of their path
// texts with ASCII letters lowered, so that names differing only in case digest alike.
#include <string>

#include "core/filesystem/file_name.h"
#include "core/numbers/crc.h"
#include "core/text/text_hash.h"

namespace Orvan {

namespace {

// Marks the start of a file name in a digest.
constexpr std::uint8_t kDigestMarker[4] = {0xB0, 0xB0, 0xCA, 0xFA};

void PutLittleEndian32(std::uint8_t* bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The path joined by '\' with ASCII letters lowered; the bytes above 0x7F pass unchanged.
TEngineStdString<char> LowerCasePathText(const TFileName& name) {
  const TOrvString<char> path = name.JoinComponents('\\');
  TEngineStdString<char> text(path.GetData(), path.GetLength());
  for (char& c : text) c = FoldAsciiLower(c);
  return text;
}

}  // namespace

void TFileName::AddToDigest(TMD5& digest) const {
  digest.Update(kDigestMarker, sizeof(kDigestMarker));
  for (const TPathNode* node = node_; node != nullptr && node->parent != nullptr; node = node->parent) {
    std::uint8_t id[4];
    PutLittleEndian32(id, node->componentId);
    digest.Update(id, sizeof(id));
  }
}

void TFileName::AddToDigestWithMountingPoint(TMD5& digest) const {
  const std::uint8_t mountingPoint[2] = {static_cast<std::uint8_t>(mountingPoint_),
                                         static_cast<std::uint8_t>(mountingPoint_ >> 8)};
  digest.Update(mountingPoint, sizeof(mountingPoint));
  AddToDigest(digest);
}

TMD5Digest TFileName::ComputeTextDigest() const {
  const TEngineStdString<char> text = LowerCasePathText(*this);
  TMD5Digest digest;
  ComputeMD5(digest, text.data(), static_cast<std::uint32_t>(text.size()));
  return digest;
}

std::uint64_t Crc64OfLowerCasePath(const TFileName& name) {
  const TEngineStdString<char> text = LowerCasePathText(name);
  return Crc64(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<std::uint32_t>(text.size()));
}

}  // namespace Orvan
