// SHA-224 through OpenSSL's EVP interface (the SHA224_* calls are deprecated in OpenSSL 3): the
// running digest that seals a save-file container and with which its reader checks it record by
// record.
#pragma once

#include <cstddef>
#include <cstdint>

struct evp_md_ctx_st;

namespace Orvan::Network {

inline constexpr std::uint32_t kSha224Size = 28;

// Start, any number of Update, then Finish. Every call answers false when OpenSSL refuses it (in
// practice only when it has no memory); Update and Finish refuse until a Start succeeded, and
// Finish ends the run.
class TSha224 {
 public:
  TSha224() = default;
  ~TSha224();
  TSha224(const TSha224&) = delete;
  TSha224& operator=(const TSha224&) = delete;

  // Makes the context on first use.
  bool Start();
  bool Update(const void* data, std::size_t size);
  bool Finish(std::uint8_t (&digest)[kSha224Size]);

 private:
  evp_md_ctx_st* context_ = nullptr;
  bool started_ = false;
};

}  // namespace Orvan::Network
