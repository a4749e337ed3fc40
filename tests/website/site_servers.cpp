#include "site_servers.h"

#include <gtest/gtest.h>

namespace fern::testing {

namespace {

MariaDb* g_database = nullptr;
MariaDb* g_granting = nullptr;

class StopDatabase : public ::testing::Environment {
 public:
  void TearDown() override {
    delete g_database;
    g_database = nullptr;
    delete g_granting;
    g_granting = nullptr;
  }
};

[[maybe_unused]] ::testing::Environment* const g_stop =
    ::testing::AddGlobalTestEnvironment(new StopDatabase);

}  // namespace

MariaDb& Database() {
  if (!g_database) g_database = new MariaDb();
  return *g_database;
}

MariaDb& GrantingDatabase() {
  if (!g_granting) g_granting = new MariaDb(true);
  return *g_granting;
}

}  // namespace fern::testing
