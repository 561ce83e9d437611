// Helpers of the event-loop tests: a working folder per test (the certificate names are relative),
// a self-signed certificate made with the openssl command and the suites that share one, a test
// certificate authority and the certificates it signs, the
// interpreter of the Python peers, and running the event loop until something has happened.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>

#include "network/sockets/libevent_socket_manager.h"
#include "support/network_test_helpers.h"
#include "support/temporary_folder.h"

// The interpreter of the Python peers (the build names Debian's).
#ifndef ORV_PYTHON3
#define ORV_PYTHON3 "python3"
#endif

namespace OrvTest {

// Writes a self-signed certificate for "localhost" and its key into the folder; false when the
// openssl command failed.
inline bool GenerateSelfSignedCertificate(const std::string& folder, const std::string& certificateName,
                                          const std::string& keyName) {
  const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost -keyout '" +
                              folder + "/" + keyName + "' -out '" + folder + "/" + certificateName +
                              "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// A private certificate authority in the folder ("ca.cert", "ca.key") and a certificate it signs
// for `subjectAltName` (such as "IP:127.0.0.1") under the names given; false when an openssl command
// failed. The CA is made once per folder and signs every later certificate there.
inline bool GenerateCertificateSignedByTestCa(const std::string& folder, const std::string& certificateName,
                                              const std::string& keyName, const std::string& subjectAltName) {
  const std::string in = "cd '" + folder + "' && ";
  const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
  if (!std::filesystem::exists(folder + "/ca.cert") &&
      std::system((in + "openssl req -x509 " + key + "-days 2 -subj '/CN=Orvan Test CA' -keyout ca.key -out ca.cert" +
                   " >/dev/null 2>&1")
                      .c_str()) != 0) {
    return false;
  }
  const std::string request = in + "openssl req " + key + "-subj /CN=test -addext subjectAltName=" + subjectAltName +
                              " -keyout '" + keyName + "' -out request.csr >/dev/null 2>&1";
  const std::string sign = in + "openssl x509 -req -in request.csr -CA ca.cert -CAkey ca.key -CAcreateserial -days 2" +
                           " -copy_extensions copy -out '" + certificateName + "' >/dev/null 2>&1";
  return std::system(request.c_str()) == 0 && std::system(sign.c_str()) == 0;
}

// A certificate and key under the names the manager reads, made once (a suite keeps one).
class TTestCertificate {
 public:
  TTestCertificate()
      : generated_(GenerateSelfSignedCertificate(folder_.Path(), Orvan::Network::kServerCertificateFile,
                                                 Orvan::Network::kServerPrivateKeyFile)) {}
  bool Generated() const { return generated_; }
  std::string Certificate() const { return folder_.Path(Orvan::Network::kServerCertificateFile); }
  std::string Key() const { return folder_.Path(Orvan::Network::kServerPrivateKeyFile); }
  // Copies the named files (the certificate's, the key's) into the folder.
  void CopyInto(const std::string& folder, std::initializer_list<const char*> names) const {
    for (const char* name : names) std::filesystem::copy_file(folder_.Path(name), folder + "/" + name);
  }

 private:
  TTemporaryFolder folder_;
  bool generated_;
};

// The base of suites that share one certificate: each test runs in a working folder of its own,
// where a manager looks for the certificate and key files (CopyCertificateFiles puts them there).
class TCertificateSuiteTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    IgnoreSigpipe();
    certificate_ = new TTestCertificate;
  }
  static void TearDownTestSuite() {
    delete certificate_;
    certificate_ = nullptr;
  }
  void CopyCertificateFiles(std::initializer_list<const char*> names) {
    ASSERT_TRUE(certificate_->Generated()) << "the openssl command could not make a certificate";
    certificate_->CopyInto(folder_.Path(), names);
  }

  static inline TTestCertificate* certificate_ = nullptr;
  TTemporaryFolder folder_;
  TScopedWorkingDirectory workingDirectory_{folder_.Path()};
};

// Runs the loop in short slices until `done` answers true; false when it has not after the limit.
inline bool RunLoopUntil(Orvan::Network::TSocketInterfaceManagerForLibEvent& manager, const std::function<bool()>& done,
                         int limitMilliseconds = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMilliseconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    manager.RunEventLoop(10);
  }
  return true;
}

}  // namespace OrvTest
