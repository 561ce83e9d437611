// The recording HTTP endpoint of tests/peers/http_endpoint.py, run as a program on a port of its
// own choosing: commands go in as JSON lines, its events (requests, answers, holds, command
// acknowledgements) come back as JSON lines and are kept in arrival order.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/peer_process.h"

namespace OrvTest {

// One part of a multipart body as the endpoint parsed it.
struct TEndpointPart {
  std::string name;
  bool hasFilename = false;
  std::string contentType;
  std::string content;
};

struct TEndpointEvent {
  std::string event;  // "request", "answered", "held", "closed_without_answer", "ack", "error", ...
  int index = -1;
  int status = 0;
  std::string method;
  std::string path;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  std::vector<TEndpointPart> parts;  // of a multipart body, in body order

  // The first header of that name (case-insensitive), or "".
  std::string Header(const char* name) const;
};

class THttpEndpointPeer {
 public:
  // Starts the endpoint and waits for its port; false when it did not come up. With a certificate
  // and its key (PEM files) it answers over TLS only.
  bool Start(const std::string& certificateFile = {}, const std::string& keyFile = {});
  void Stop() { process_.Stop(); }

  int GetPort() const { return port_; }
  // "http://127.0.0.1:<port>" (https with TLS) followed by the path.
  std::string Url(const std::string& path) const;

  // Sends one JSON command and waits until the endpoint acknowledges it.
  bool Command(const std::string& json);
  // Takes the events already written, waiting at most `waitMilliseconds` for the first one.
  void ReadEvents(int waitMilliseconds = 0);
  // Reads events until `count` of that kind arrived; false after the time-out.
  bool WaitForEvents(const char* kind, std::size_t count, int timeoutMilliseconds = 10000);

  std::size_t Count(const char* kind) const;
  std::vector<TEndpointEvent> Requests() const;
  const std::vector<TEndpointEvent>& Events() const { return events_; }
  int GetOutputDescriptor() const { return process_.GetOutputDescriptor(); }

 private:
  bool TakeLine(const std::string& line);

  TPeerProcess process_;
  int port_ = -1;
  bool tls_ = false;
  std::vector<TEndpointEvent> events_;
};

}  // namespace OrvTest
