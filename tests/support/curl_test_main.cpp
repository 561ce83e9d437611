// gtest main of the test programs that use libcurl: libcurl's global state is set up once before
// the engine starts and cleaned up after it stops, as the server's own start-up does.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include "support/engine_gtest_environment.h"

int main(int argc, char** argv) {
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return 1;
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new OrvTest::TEngineGtestEnvironment);
  const int result = RUN_ALL_TESTS();
  curl_global_cleanup();
  return result;
}
