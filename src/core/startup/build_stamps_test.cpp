#include "core/startup/build_stamps.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/temporary_folder.h"

namespace Orvan {
namespace {

// The placeholders as the release step finds them (with their NUL), and where each value starts.
struct TField {
  std::string placeholder;
  std::size_t valueOffset;
};
const TField kRevision{std::string("0000000000####SVNREVISION####", 30), 0};
const TField kBranch{std::string(27, ' ') + std::string("Local####SVNBRANCH####", 23), 27};
const TField kRegion{std::string("00000000####REGIONINFO####", 27), 0};
const TField kInfo{std::string(128, ' ') + std::string("####VERADDINFO####", 19), 0};

struct TPatch {
  const TField* field;
  std::string value;  // written over the field from its value offset
};

using TStamps = std::map<std::string, std::string>;

// Copies the probe program, writes each patch over every copy of its placeholder, runs the copy
// and reads its "name=value" lines.
TStamps RunPatchedProbe(const std::vector<TPatch>& patches) {
  std::ifstream in(ORV_BUILD_STAMP_PROBE, std::ios::binary);
  std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_FALSE(image.empty()) << "cannot read " << ORV_BUILD_STAMP_PROBE;
  for (const TPatch& patch : patches) {
    const TField& field = *patch.field;
    EXPECT_LE(field.valueOffset + patch.value.size(), field.placeholder.size() - 1) << "the NUL stays";
    int found = 0;
    for (std::size_t at = image.find(field.placeholder); at != std::string::npos;
         at = image.find(field.placeholder, at + 1)) {
      image.replace(at + field.valueOffset, patch.value.size(), patch.value);
      ++found;
    }
    EXPECT_GE(found, 1) << "no placeholder " << field.placeholder;
  }

  const OrvTest::TTemporaryFolder folder("orv_stamps");
  const std::string path = folder.Path("probe");
  {
    std::ofstream out(path, std::ios::binary);
    out << image;
  }
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  FILE* pipe = ::popen(path.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run " << path;
    return {};
  }
  std::string output;
  char chunk[256];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
  const int status = ::pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "probe status " << status << "\n" << output;

  TStamps stamps;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) stamps[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return stamps;
}

TEST(BuildStampsTest, UnpatchedPlaceholdersGiveTheDefaults) {
  const TStamps stamps = RunPatchedProbe({});
  EXPECT_EQ(stamps, (TStamps{{"revision", "0"},
                             {"version", "15.1.12.0"},
                             {"branch", "Local"},
                             {"region", "0"},
                             {"region257", "0"},
                             {"info", ""},
                             {"beta", "-1"},
                             {"betacode", "0x0"},
                             {"betazero", "0"},
                             {"betaone", "0"}}));
  // This program's own fields are as built too.
  EXPECT_EQ(GetBuildRevision(), 0u);
  EXPECT_STREQ(GetBuildBranch(), "Local");
  EXPECT_EQ(GetBetaNumber(), -1);
}

TEST(BuildStampsTest, PatchedValuesAreParsedFromTheFile) {
  const TStamps stamps = RunPatchedProbe({{&kRevision, "0000012345"},
                                          {&kBranch, "main#"},
                                          {&kRegion, "00000257"},
                                          {&kInfo, "xxBETA_12yy#"}});
  EXPECT_EQ(stamps.at("revision"), "12345");
  EXPECT_EQ(stamps.at("version"), "15.1.12.12345");
  EXPECT_EQ(stamps.at("branch"), "main");
  EXPECT_EQ(stamps.at("region"), "257");
  EXPECT_EQ(stamps.at("region257"), "1");
  EXPECT_EQ(stamps.at("info"), "xxBETA_12yy");
  EXPECT_EQ(stamps.at("beta"), "12");
  EXPECT_EQ(stamps.at("betacode"), "0x0");
}

TEST(BuildStampsTest, BetaNumbersAndTheirCodes) {
  const struct {
    const char* info;
    const char* beta;
    const char* code;
    const char* zero;
    const char* one;
  } cases[] = {
      {"BETA_1#", "1", "0x4084", "0", "1"},
      {"  BETA_0#", "0", "0x2088", "1", "0"},
      {"BETA_#", "-1", "0x0", "0", "0"},  // nothing after the marker
      {"BETA_x#", "0", "0x2088", "1", "0"},
      {"beta_3 BETA_-3 BETA_4#", "-3", "0x0", "0", "0"},  // the first marker counts
      {"release#", "-1", "0x0", "0", "0"},
      {"BETA_99999999999#", "2147483647", "0x0", "0", "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.info);
    const TStamps stamps = RunPatchedProbe({{&kInfo, c.info}});
    EXPECT_EQ(stamps.at("beta"), c.beta);
    EXPECT_EQ(stamps.at("betacode"), c.code);
    EXPECT_EQ(stamps.at("betazero"), c.zero);
    EXPECT_EQ(stamps.at("betaone"), c.one);
  }
}

TEST(BuildStampsTest, BlankBranchIsMalformed) {
  EXPECT_EQ(RunPatchedProbe({{&kBranch, "     "}}).at("branch"), "Malformed branch name!");
  EXPECT_EQ(RunPatchedProbe({{&kBranch, std::string(22, ' ')}}).at("branch"), "Malformed branch name!");
}

// A field whose marker and padding were overwritten up to its NUL: every parse stops at the field's
// end (the probe runs under the sanitizers in the sanitizer build).
TEST(BuildStampsTest, FieldsFilledUpToTheirNulStayWithinTheField) {
  const TStamps stamps = RunPatchedProbe({{&kRevision, std::string(29, '9')},
                                          {&kBranch, std::string(49 - 27, 'b')},
                                          {&kRegion, "-" + std::string(25, '9')},
                                          {&kInfo, std::string(146, 'i')}});
  EXPECT_EQ(stamps.at("revision"), "4294967295");  // past 32 bits, as the 32-bit library read it
  EXPECT_EQ(stamps.at("branch"), std::string(22, 'b'));
  EXPECT_EQ(stamps.at("region"), "-2147483648");
  EXPECT_EQ(stamps.at("info"), std::string(146, 'i'));
  EXPECT_EQ(stamps.at("beta"), "-1");

  // The branch filled from its first byte.
  TField wholeBranch = kBranch;
  wholeBranch.valueOffset = 0;
  EXPECT_EQ(RunPatchedProbe({{&wholeBranch, std::string(49, 'a')}}).at("branch"), std::string(49, 'a'));
}

TEST(BuildStampsTest, NumbersReadAsThe32BitLibraryDid) {
  const struct {
    const char* revision;
    const char* region;
    const char* revisionText;
    const char* regionText;
  } cases[] = {
      {"-000000005", "-0000001", "4294967291", "-1"},
      {"4294967295", "+0000012", "4294967295", "12"},
      {"4294967296", "00000abc", "4294967295", "0"},
      {"  42######", "  -7####", "42", "-7"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.revision);
    const TStamps stamps = RunPatchedProbe({{&kRevision, c.revision}, {&kRegion, c.region}});
    EXPECT_EQ(stamps.at("revision"), c.revisionText);
    EXPECT_EQ(stamps.at("region"), c.regionText);
  }
}

}  // namespace
}  // namespace Orvan
