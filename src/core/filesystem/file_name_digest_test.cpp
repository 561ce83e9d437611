// Digests of file names: the id stream fed to MD5 and the case-blind digests of path texts.
#include <gtest/gtest.h>

#include <string>

#include "core/filesystem/file_name.h"
#include "core/numbers/crc.h"
#include "core/numbers/md5.h"
#include "support/file_name_registries.h"

namespace Orvan {
namespace {

using FileNameDigest = OrvTest::TFreshFileNameRegistries;

TMD5Digest DigestOf(const std::string& bytes) {
  TMD5Digest digest;
  ComputeMD5(digest, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  return digest;
}

TMD5Digest IdDigest(const TFileName& name, bool withMountingPoint) {
  TMD5 context;
  if (withMountingPoint) {
    name.AddToDigestWithMountingPoint(context);
  } else {
    name.AddToDigest(context);
  }
  TMD5Digest digest;
  context.Final(digest);
  return digest;
}

std::string LittleEndian(std::uint32_t value, int bytes) {
  std::string text;
  for (int i = 0; i < bytes; ++i) text.push_back(static_cast<char>(value >> (8 * i)));
  return text;
}

TEST_F(FileNameDigest, ComponentIdsFromTheLeafUpAfterTheMarker) {
  EXPECT_EQ(IdDigest(TFileName(), false), DigestOf("\xB0\xB0\xCA\xFA"));
  const TFileName name("Maps:a/b");
  const std::uint32_t a = name.GetComponentId(0);
  const std::uint32_t b = name.GetComponentId(1);
  const std::string ids = std::string("\xB0\xB0\xCA\xFA") + LittleEndian(b, 4) + LittleEndian(a, 4);
  EXPECT_EQ(IdDigest(name, false), DigestOf(ids));
  EXPECT_EQ(IdDigest(name, true), DigestOf(LittleEndian(name.GetMountingPoint(), 2) + ids));
  EXPECT_EQ(IdDigest(TFileName(), true), DigestOf(std::string(2, '\0') + "\xB0\xB0\xCA\xFA"));
}

TEST_F(FileNameDigest, TextDigestsIgnoreCase) {
  const std::string lowered = "data\\textures\xC3\x89";
  TMD5Digest digest;
  std::uint64_t crc;
  {
    TFileName name("Mount:Data/TEXTURES");
    name.AppendToLastComponent("\xC3\x89");  // bytes above 0x7F are kept as they are
    digest = name.ComputeTextDigest();
    crc = Crc64OfLowerCasePath(name);
  }
  EXPECT_EQ(digest, DigestOf(lowered));
  EXPECT_EQ(crc, Crc64(reinterpret_cast<const std::uint8_t*>(lowered.data()), static_cast<std::uint32_t>(lowered.size())));

  // The same path first interned in other letter cases digests alike.
  OrvTest::RecreateFileNameRegistries();
  TFileName other("dATA/textures");
  other.AppendToLastComponent("\xC3\x89");
  EXPECT_EQ(other.ComputeTextDigest(), digest);
  EXPECT_EQ(Crc64OfLowerCasePath(other), crc);

  EXPECT_EQ(Crc64OfLowerCasePath(TFileName()), 0u);
  EXPECT_EQ(TFileName().ComputeTextDigest(), DigestOf(""));
}

TEST_F(FileNameDigest, PathsLongerThanAnyBufferDigestWhole) {
  std::string path;
  std::string lowered;
  for (int i = 0; i < 700; ++i) {
    path += "Part" + std::to_string(i) + "/";
    lowered += "part" + std::to_string(i) + "\\";
  }
  path.pop_back();
  lowered.pop_back();
  ASSERT_GT(lowered.size(), 4096u);
  EXPECT_EQ(TFileName(path.c_str()).ComputeTextDigest(), DigestOf(lowered));
}

}  // namespace
}  // namespace Orvan
