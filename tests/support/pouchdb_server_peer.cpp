// Starting pouchdb-server for the database tests, and the test's own requests to it.
#include "support/pouchdb_server_peer.h"

#include <curl/curl.h>

#include <chrono>

namespace OrvTest {

namespace {

size_t AppendToString(char* data, size_t size, size_t count, void* text) {
  static_cast<std::string*>(text)->append(data, size * count);
  return size * count;
}

// One blocking transfer; `body` null for a GET.
long Transfer(const std::string& url, const char* method, const std::string* body, std::string* answer) {
  CURL* easy = curl_easy_init();
  if (easy == nullptr) return 0;
  std::string ignored;
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &AppendToString);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, answer != nullptr ? answer : &ignored);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT, 20L);
  if (body != nullptr) {
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body->c_str());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(body->size()));
  }
  long status = 0;
  if (curl_easy_perform(easy) == CURLE_OK) curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(easy);
  return status;
}

}  // namespace

bool TPouchDbServerPeer::Start(const std::vector<std::string>& databases) {
  const std::string program = SourcePath("tests/peers/node_modules/pouchdb-server/bin/pouchdb-server");
  // The port is free when chosen but may be taken before the server binds it: try a few.
  for (int attempt = 0; attempt < 3 && port_ == -1; ++attempt) {
    const int port = FindFreeLoopbackPort();
    if (port <= 0) continue;
    if (!process_.Start({"node", program, "--in-memory", "--no-color", "--host", "127.0.0.1", "--port",
                         std::to_string(port), "--config", folder_.Path("config.json")},
                        folder_.Path())) {
      continue;
    }
    const std::string started = "pouchdb-server has started on http://127.0.0.1:" + std::to_string(port) + "/";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string line;
    while (std::chrono::steady_clock::now() < deadline) {
      if (!process_.ReadLine(line, 1000)) {
        if (process_.GetOutputDescriptor() == -1) break;  // it ended
        continue;
      }
      if (line.find(started) != std::string::npos) {
        port_ = port;
        break;
      }
    }
    if (port_ == -1) process_.Stop();
  }
  if (port_ == -1) return false;
  process_.DiscardOutput();
  for (const std::string& database : databases) {
    if (Transfer(Url(database), "PUT", nullptr, nullptr) != 201) return false;
  }
  return true;
}

std::string TPouchDbServerPeer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

long TPouchDbServerPeer::PutJson(const std::string& path, const std::string& json) {
  return Transfer(Url(path), "PUT", &json, nullptr);
}

long TPouchDbServerPeer::Get(const std::string& path, std::string* body) {
  return Transfer(Url(path), "GET", nullptr, body);
}

}  // namespace OrvTest
