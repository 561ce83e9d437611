// Fuzz target of the text codecs: base64 decoding in both alphabets, GUID texts and MD5 digest hex
// texts, over any bytes at any length. Every text lies in a buffer of exactly its size (plus the
// NUL where the reader needs one), so a read past it is seen. Decoding never grows its output past
// the first sizing, and decoding the encoding of the input gives the input back.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "core/numbers/guid.h"
#include "core/numbers/md5.h"
#include "core/text/base64.h"
#include "support/engine_test_environment.h"
#include "support/fuzz_check.h"

namespace {

using namespace Orvan;
using TNarrow = TOrvString<char>;
using OrvTest::FuzzCheck;

std::string Text(const TNarrow& text) { return std::string(text.GetData(), text.GetLength()); }

void CheckDecoder(bool (*decode)(const char*, const char*, TNarrow&),
                  TNarrow (*encode)(const std::uint8_t*, const std::uint8_t*), const std::uint8_t* data,
                  std::size_t size) {
  const auto* first = reinterpret_cast<const char*>(data);
  TNarrow out("former text");
  const bool ok = decode(first, first + size, out);
  FuzzCheck(out.GetLength() <= size / 4 * 3, "decoded past the first sizing");
  if (!ok) FuzzCheck(out.GetLength() == size / 4 * 3, "a failed decode changed the first sizing");

  const TNarrow encoded = encode(data, data + size);
  FuzzCheck(encoded.GetLength() == (size + 2) / 3 * 4, "encoded length");
  TNarrow back;
  FuzzCheck(decode(encoded.GetData(), encoded.GetData() + encoded.GetLength(), back), "own encoding refused");
  FuzzCheck(Text(back) == std::string(first, size), "round trip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool started = (OrvTest::StartEngineForTests(), true);
  static_cast<void>(started);
  if (size > 65536) return 0;

  CheckDecoder(Base64Decode, Base64Encode, data, size);
  CheckDecoder(Base64UrlDecode, Base64UrlEncode, data, size);

  // Exact-size copies: one without a terminator, one with it.
  const std::unique_ptr<char[]> exact(new char[size == 0 ? 1 : size]);
  if (size != 0) std::memcpy(exact.get(), data, size);
  const std::unique_ptr<char[]> terminated(new char[size + 1]);
  if (size != 0) std::memcpy(terminated.get(), data, size);
  terminated[size] = '\0';

  const TGuid sentinel(1, 2, 3, 4);
  TGuid guid = sentinel;
  if (guid.FromString(terminated.get())) {
    FuzzCheck(size >= 38 && data[0] == '{' && data[37] == '}', "GUID text accepted without its form");
  } else {
    FuzzCheck(guid == sentinel, "a refused GUID text changed the target");
  }

  const std::uint32_t size32 = static_cast<std::uint32_t>(size);
  const TMD5Digest sized = TMD5Digest::FromHexText(exact.get(), size32);
  const TMD5Digest untilNul = TMD5Digest::FromHexText(terminated.get());
  const TNarrow string(exact.get(), size32);
  const TMD5Digest fromString = TMD5Digest::FromHexString(string);
  const TMD5Digest fromView = TMD5Digest::FromHexString(TOrvSubString<char>(string));
  FuzzCheck(fromString == sized && fromView == sized, "hex string forms disagree");
  if (size < TMD5Digest::kHexLength) FuzzCheck(sized.IsZero() && untilNul.IsZero(), "a short hex text was read");
  if (std::strlen(terminated.get()) >= TMD5Digest::kHexLength) FuzzCheck(untilNul == sized, "hex text forms disagree");
  FuzzCheck(TMD5Digest::FromHexString(sized.ToString()) == sized, "hex round trip");
  return 0;
}
