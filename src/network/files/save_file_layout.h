// The save-file container's layout, shared by its writer and its reader: a 40-byte header (magic,
// version, total size, SHA-224 of everything after the header), then records of a 16-byte head
// (tag, value, data size, 0) and the data. Every header and record-head word is big-endian.
#pragma once

#include <cstdint>

#include "network/files/sha224_digest.h"

namespace Orvan {

// The bytes "ESAV" read as one big-endian word.
inline constexpr std::uint32_t kSaveFileMagic = 0x45534156;
// The one version written; readers refuse a higher one.
inline constexpr std::uint32_t kSaveFileVersion = 1;
// Offsets of the header: the total size and the digest of bytes 40 to the end.
inline constexpr std::uint32_t kSaveFileSizeOffset = 8;
inline constexpr std::uint32_t kSaveFileDigestOffset = 12;
inline constexpr std::uint32_t kSaveFileDigestSize = Network::kSha224Size;
inline constexpr std::uint32_t kSaveFileHeaderSize = kSaveFileDigestOffset + kSaveFileDigestSize;
static_assert(kSaveFileHeaderSize == 40);
// A record's head: tag, value, data size and a zero word.
inline constexpr std::uint32_t kSaveFileRecordHeadSize = 16;
// The most a container may hold: its sizes are 32-bit.
inline constexpr std::uint64_t kSaveFileMaximumSize = 0xFFFFFFFFu;
// The size field and the digest, side by side in the header: what sealing fills in.
inline constexpr std::uint32_t kSaveFileSealSize = kSaveFileHeaderSize - kSaveFileSizeOffset;

inline void StoreBigEndian32(std::uint8_t* bytes, std::uint32_t value) {
  bytes[0] = static_cast<std::uint8_t>(value >> 24);
  bytes[1] = static_cast<std::uint8_t>(value >> 16);
  bytes[2] = static_cast<std::uint8_t>(value >> 8);
  bytes[3] = static_cast<std::uint8_t>(value);
}

inline std::uint32_t LoadBigEndian32(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
         std::uint32_t{bytes[3]};
}

// The header as a container begins: magic and version, then the size and the digest still zero.
inline void StoreSaveFileHeader(std::uint8_t (&header)[kSaveFileHeaderSize]) {
  for (std::uint8_t& byte : header) byte = 0;
  StoreBigEndian32(header, kSaveFileMagic);
  StoreBigEndian32(header + 4, kSaveFileVersion);
}

inline void StoreSaveFileRecordHead(std::uint8_t* head, std::uint32_t tag, std::uint32_t value, std::uint32_t size) {
  StoreBigEndian32(head, tag);
  StoreBigEndian32(head + 4, value);
  StoreBigEndian32(head + 8, size);
  StoreBigEndian32(head + 12, 0);
}

// The size field and the digest as sealing writes them, from the size field's offset on.
inline void StoreSaveFileSeal(std::uint8_t (&seal)[kSaveFileSealSize], std::uint32_t size,
                              const std::uint8_t (&digest)[kSaveFileDigestSize]) {
  StoreBigEndian32(seal, size);
  for (std::uint32_t i = 0; i < kSaveFileDigestSize; ++i) seal[4 + i] = digest[i];
}

}  // namespace Orvan
