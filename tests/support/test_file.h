// One real file for a test, in a temporary folder of its own: written with given bytes, opened as a
// counted native file stream, and read back as bytes.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "core/objects/ref_counting.h"
#include "core/streams/native_file_stream.h"
#include "support/temporary_folder.h"

namespace OrvTest {

class TTestFile {
 public:
  // The file now holds exactly `bytes`; the stream reads and writes it.
  Orvan::TCountedPtr<Orvan::TNativeFileStream> Open(const std::string& bytes) const {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes;
    const int descriptor = ::open(path_.c_str(), O_RDWR);
    EXPECT_NE(descriptor, -1) << path_;
    return Orvan::TCountedPtr<Orvan::TNativeFileStream>(new Orvan::TNativeFileStream(descriptor, 0, 0));
  }
  std::string Bytes() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  const std::string& Path() const { return path_; }

 private:
  TTemporaryFolder folder_;
  std::string path_ = folder_.Path("test_file.bin");
};

}  // namespace OrvTest
