// The engine's checksums, table-driven a byte a step: CRC-64/WE, the standard CRC-32 (ISO-HDLC)
// and CRC-16/ARC. They key caches and check stored data, so their values must never change.
#pragma once

#include <cstdint>

namespace Orvan {

// CRC-64/WE: polynomial 0x42F0E1EBA9EA3693, not reflected, initial value and final XOR all ones.
// 0 for no bytes (or a null pointer).
std::uint64_t Crc64(const std::uint8_t* data, std::uint32_t size);
// The register after the bytes, without the initial or the final inversion: Crc64 is
// ~Crc64Update(data, size, ~0).
std::uint64_t Crc64Update(const std::uint8_t* data, std::uint32_t size, std::uint64_t crc);

// The standard CRC-32 (polynomial 0x04C11DB7 reflected, initial value and final XOR all ones);
// 0 for a null pointer.
std::uint32_t Crc32(const std::uint8_t* data, std::uint32_t size);
// The same from the initial value `initial`, given unreflected as CRC catalogues give it (all
// ones gives Crc32); `initial` itself for a null pointer.
std::uint32_t Crc32WithInitial(std::uint32_t initial, const std::uint8_t* data, std::uint32_t size);

// CRC-16/ARC (polynomial 0x8005 reflected, initial value 0, no final XOR); 0 for a null pointer.
std::uint32_t Crc16(const std::uint8_t* data, std::uint32_t size);
// The same from the unreflected initial value `initial`; `initial` itself for a null pointer.
std::uint32_t Crc16WithInitial(std::uint16_t initial, const std::uint8_t* data, std::uint32_t size);

}  // namespace Orvan
