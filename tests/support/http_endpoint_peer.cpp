// Driving the recording HTTP endpoint peer from C++ tests.
#include "support/http_endpoint_peer.h"

#include <strings.h>
#include <yajl/yajl_tree.h>

#include <chrono>

namespace OrvTest {

namespace {

std::string TextAt(yajl_val root, const char* key) {
  const char* path[] = {key, nullptr};
  const yajl_val value = yajl_tree_get(root, path, yajl_t_string);
  return value != nullptr ? YAJL_GET_STRING(value) : "";
}

int IntegerAt(yajl_val root, const char* key) {
  const char* path[] = {key, nullptr};
  const yajl_val value = yajl_tree_get(root, path, yajl_t_number);
  return value != nullptr && YAJL_IS_INTEGER(value) ? static_cast<int>(YAJL_GET_INTEGER(value)) : -1;
}

}  // namespace

std::string TEndpointEvent::Header(const char* name) const {
  for (const auto& [key, value] : headers) {
    if (::strcasecmp(key.c_str(), name) == 0) return value;
  }
  return "";
}

bool THttpEndpointPeer::Start(const std::string& certificateFile, const std::string& keyFile) {
  events_.clear();
  port_ = -1;
  tls_ = !certificateFile.empty();
  std::vector<std::string> arguments = {"python3", SourcePath("tests/peers/http_endpoint.py"), "--port", "0"};
  if (tls_) arguments.insert(arguments.end(), {"--certfile", certificateFile, "--keyfile", keyFile});
  if (!process_.Start(arguments)) return false;
  // A deadline for a peer that never starts: on a loaded 2-core machine a Python peer with TLS has
  // taken more than 20 s to say it listens.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::string line;
  while (port_ == -1 && std::chrono::steady_clock::now() < deadline) {
    if (!process_.ReadLine(line, 1000)) continue;
    yajl_val root = yajl_tree_parse(line.c_str(), nullptr, 0);
    if (root != nullptr && TextAt(root, "event") == "listening") port_ = IntegerAt(root, "port");
    yajl_tree_free(root);
  }
  return port_ > 0;
}

std::string THttpEndpointPeer::Url(const std::string& path) const {
  return (tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) + path;
}

bool THttpEndpointPeer::TakeLine(const std::string& line) {
  yajl_val root = yajl_tree_parse(line.c_str(), nullptr, 0);
  if (root == nullptr) return false;
  TEndpointEvent event;
  event.event = TextAt(root, "event");
  event.index = IntegerAt(root, "index");
  event.status = IntegerAt(root, "status");
  event.method = TextAt(root, "method");
  event.path = TextAt(root, "path");
  event.body = TextAt(root, "body");
  const char* headersPath[] = {"headers", nullptr};
  if (const yajl_val headers = yajl_tree_get(root, headersPath, yajl_t_array); headers != nullptr) {
    for (std::size_t i = 0; i < YAJL_GET_ARRAY(headers)->len; ++i) {
      const yajl_val pair = YAJL_GET_ARRAY(headers)->values[i];
      if (!YAJL_IS_ARRAY(pair) || YAJL_GET_ARRAY(pair)->len != 2) continue;
      const yajl_val key = YAJL_GET_ARRAY(pair)->values[0];
      const yajl_val value = YAJL_GET_ARRAY(pair)->values[1];
      if (YAJL_IS_STRING(key) && YAJL_IS_STRING(value)) {
        event.headers.emplace_back(YAJL_GET_STRING(key), YAJL_GET_STRING(value));
      }
    }
  }
  const char* partsPath[] = {"parts", nullptr};
  if (const yajl_val parts = yajl_tree_get(root, partsPath, yajl_t_array); parts != nullptr) {
    for (std::size_t i = 0; i < YAJL_GET_ARRAY(parts)->len; ++i) {
      const yajl_val part = YAJL_GET_ARRAY(parts)->values[i];
      if (!YAJL_IS_OBJECT(part)) continue;
      const char* filenamePath[] = {"filename", nullptr};
      const yajl_val filename = yajl_tree_get(part, filenamePath, yajl_t_any);
      event.parts.push_back({TextAt(part, "name"), filename != nullptr && !YAJL_IS_NULL(filename),
                             TextAt(part, "content_type"), TextAt(part, "content")});
    }
  }
  yajl_tree_free(root);
  events_.push_back(std::move(event));
  return true;
}

void THttpEndpointPeer::ReadEvents(int waitMilliseconds) {
  std::string line;
  if (!process_.ReadLine(line, waitMilliseconds)) return;
  TakeLine(line);
  while (process_.TryReadLine(line)) TakeLine(line);
}

bool THttpEndpointPeer::Command(const std::string& json) {
  const std::size_t before = events_.size();
  if (!process_.WriteLine(json)) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::string line;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!process_.ReadLine(line, 100)) continue;
    TakeLine(line);
    for (std::size_t i = before; i < events_.size(); ++i) {
      if (events_[i].event == "ack") return true;
      if (events_[i].event == "error") return false;
    }
  }
  return false;
}

bool THttpEndpointPeer::WaitForEvents(const char* kind, std::size_t count, int timeoutMilliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  while (Count(kind) < count) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    ReadEvents(50);
  }
  return true;
}

std::size_t THttpEndpointPeer::Count(const char* kind) const {
  std::size_t count = 0;
  for (const TEndpointEvent& event : events_) count += event.event == kind ? 1 : 0;
  return count;
}

std::vector<TEndpointEvent> THttpEndpointPeer::Requests() const {
  std::vector<TEndpointEvent> requests;
  for (const TEndpointEvent& event : events_) {
    if (event.event == "request") requests.push_back(event);
  }
  return requests;
}

}  // namespace OrvTest
