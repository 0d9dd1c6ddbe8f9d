// Loading the client on this host: the library found says where it is and which
// version it is; a library that is not the client is named with what it lacks.
#include <gtest/gtest.h>

#include <string>

#include "erp/database_error.h"
#include "erp/firebird_client.h"

namespace zendrel {
namespace {

TEST(FirebirdClientLoad, TheClientInUseIsNamedByItsFileAndVersion) {
  const ClientLoad load = LoadFirebirdClientReport(DefaultFirebirdClientName());
  ASSERT_TRUE(load.api) << (load.tried.empty() ? "" : load.tried.front().failure);
  EXPECT_EQ(load.path.front(), '/') << load.path;
  EXPECT_NE(load.path.find("libfbclient.so"), std::string::npos) << load.path;
  // Debian's client answers "LI-V3.0.11.33703 Firebird 3.0" or the like.
  EXPECT_NE(load.version.find("Firebird"), std::string::npos) << load.version;
  EXPECT_TRUE(load.tried.empty());
  EXPECT_EQ(ClientBitnessAdvice(load), "");
}

TEST(FirebirdClientLoad, ALibraryWithoutTheClientsFunctionsIsNotTaken) {
  const ClientLoad load = LoadFirebirdClientReport("libz.so.1");
  EXPECT_FALSE(load.api);
  ASSERT_EQ(load.tried.size(), 1U);
  EXPECT_EQ(load.tried[0].failure, "não tem a função isc_attach_database");
  EXPECT_EQ(load.needed_bitness, 0);
  try {
    LoadFirebirdClient("libz.so.1");
    FAIL() << "libz.so.1 taken for the client";
  } catch (const DatabaseError& error) {
    EXPECT_EQ(error.code(), DatabaseError::kClientLibraryMissing);
    EXPECT_NE(std::string(error.what()).find("não tem a função isc_attach_database"), std::string::npos)
        << error.what();
  }
}

TEST(FirebirdClientLoad, AFailureIsTriedAgainNextTime) {
  const ClientLoad first = LoadFirebirdClientReport("libfbclient-absent.so.9");
  const ClientLoad second = LoadFirebirdClientReport("libfbclient-absent.so.9");
  EXPECT_FALSE(first.api);
  ASSERT_EQ(second.tried.size(), 1U);
  EXPECT_NE(second.tried[0].failure.find("libfbclient-absent.so.9"), std::string::npos) << second.tried[0].failure;
}

TEST(FirebirdClientLoad, TheAdviceNamesTheBuildThisMachineNeeds) {
  ClientLoad load;
  load.needed_bitness = 32;
  EXPECT_NE(ClientBitnessAdvice(load).find("precisa do Zendrel.exe de 32 bits (Zendrel-"), std::string::npos)
      << ClientBitnessAdvice(load);
  EXPECT_NE(ClientBitnessAdvice(load).find("-win32.zip"), std::string::npos);
  load.needed_bitness = 0;
  EXPECT_EQ(ClientBitnessAdvice(load), "");
}

}  // namespace
}  // namespace zendrel
