// A CouchDB-compatible database for the tests: pouchdb-server from tests/peers/node_modules, kept in
// memory, started from a temporary folder on a free loopback port and stopped by its process id.
// Its documents are written here with "Content-Type: application/json" (a body sent without it is
// stored as an empty document).
#pragma once

#include <string>
#include <vector>

#include "support/peer_process.h"
#include "support/temporary_folder.h"

namespace OrvTest {

class TPouchDbServerPeer {
 public:
  // Starts the server and creates the databases named (no admin exists, so anyone may create
  // them); false when it did not come up.
  bool Start(const std::vector<std::string>& databases);
  void Stop() { process_.Stop(); }

  // "http://127.0.0.1:<port>/" followed by the path.
  std::string Url(const std::string& path = {}) const;

  // Blocking requests of the test itself; each returns the HTTP status (0 without an answer).
  long PutJson(const std::string& path, const std::string& json);
  long Get(const std::string& path, std::string* body = nullptr);

 private:
  TTemporaryFolder folder_;
  TPeerProcess process_;
  int port_ = -1;
};

}  // namespace OrvTest
