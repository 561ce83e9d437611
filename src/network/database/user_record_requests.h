// Requests on the user records of "userdb/": creating one, reading one's login information, and
// finding the highest user number through the "by_mms_id" view.
#pragma once

#include <cstdint>
#include <sstream>

#include "core/text/engine_string.h"
#include "network/database/database_accesser.h"

namespace Orvan::Network {

class TDbRequestCreateAccount : public IGenericDbStruct {
 public:
  // The salt and digest texts go into the record as given.
  TDbRequestCreateAccount(const TOrvString<char>& userName, std::uint64_t userNumber, const TOrvString<char>& saltText,
                          std::uint8_t saltCount, const TOrvString<char>& passwordDigestText);
  ~TDbRequestCreateAccount() override;

  TOrvString<char> BuildUrl(const TOrvString<char>& accesserBaseUrl) override;
  std::uint32_t GetUploadSize() override;
  std::uint32_t ReadUploadData(void* buffer, std::uint32_t maxBytes) override;
  // Any status outside 200-299 fails, an existing user (409) too.
  void InterpretRequestResult(std::int32_t httpCode, const char* answerText) override;

  std::string GetBody() const { return body_.str(); }

 private:
  std::uint32_t uploaded_ = 0;
  std::ostringstream body_;
  TOrvString<char> userName_;
};

class TDbRequestGetUserLoginInfo : public IGenericDbStruct {
 public:
  static constexpr std::uint32_t kPasswordDigestSize = 28;
  static constexpr std::uint32_t kSaltSize = 16;
  // A salt of exactly this many characters is hexadecimal, any other length base64.
  static constexpr std::uint32_t kHexSaltLength = 2 * kSaltSize;

  // The name is looked up lower-cased.
  explicit TDbRequestGetUserLoginInfo(const TOrvString<char>& userName);
  ~TDbRequestGetUserLoginInfo() override;

  TOrvString<char> BuildUrl(const TOrvString<char>& accesserBaseUrl) override;
  void InterpretRequestResult(std::int32_t httpCode, const char* answerText) override;
  // A placeholder login record, no failure.
  void AnswerWithoutDatabase() override;

  const TOrvString<char>& GetName() const { return userName_; }
  std::uint64_t GetMmsId() const { return mmsId_; }
  std::uint64_t GetBanEndDate() const { return banEndDate_; }
  const std::uint8_t* GetPasswordDigest() const { return passwordDigest_; }
  const std::uint8_t* GetSalt() const { return salt_; }
  std::uint8_t GetSaltCount() const { return saltCount_; }
  bool IsHexForm() const { return hexForm_ != 0; }
  bool IsPlaceholder() const { return placeholder_ != 0; }
  const TOrvString<char>& GetDedicatedKey() const { return dedicatedKey_; }
  // Each returns HexToBytes' verdict.
  bool SetPasswordDigestFromHex(const char* text);
  bool SetSaltFromHex(const char* text);

  // The process-wide counter of placeholder user numbers: the first is 1.
  static std::uint64_t NextPlaceholderMmsId();

 private:
  TOrvString<char> userName_;
  std::uint64_t mmsId_ = ~std::uint64_t{0};
  std::uint64_t banEndDate_ = 0;
  std::uint8_t passwordDigest_[kPasswordDigestSize] = {};
  std::uint8_t salt_[kSaltSize] = {};
  std::uint8_t saltCount_ = 0;
  std::uint8_t hexForm_ = 0;
  std::uint8_t placeholder_ = 0;
  TOrvString<char> dedicatedKey_;
};

class TDbRequestGetHighestMmsId : public IGenericDbStruct {
 public:
  TDbRequestGetHighestMmsId() = default;
  ~TDbRequestGetHighestMmsId() override;

  TOrvString<char> BuildUrl(const TOrvString<char>& accesserBaseUrl) override;
  void InterpretRequestResult(std::int32_t httpCode, const char* answerText) override;

  std::uint64_t GetHighestMmsId() const { return highestMmsId_; }

 private:
  std::uint64_t highestMmsId_ = 0;
};

}  // namespace Orvan::Network
