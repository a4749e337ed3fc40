// A listing-data service on a fresh demo host with its session open.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "core/cFernDispatcher.h"
#include "core/host_session.h"
#include "host/cUtil.h"
#include "services/cImmoHelperV2.h"
#include "services/transfer_events.h"
#include "support/demo_host_fixture.h"

namespace fern::testing {

// Keys of the demo host's rows (see demo_host.cpp): table number and row number.
inline std::string DemoKey(unsigned table, int n) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "{%08X-0000-4000-8000-%012X}", 0xDE000000u + table,
                static_cast<unsigned>(n));
  return buf;
}
inline std::string PortalKey(int n) { return DemoKey(1, n); }
inline std::string ObjKey(int n) { return DemoKey(2, n); }
inline std::string FldartKey(int n) { return DemoKey(3, n); }

class ListingServiceTest : public ::testing::Test, public DemoHostTest {
 protected:
  void SetUp() override {
    Start();
    InitHostSession();
  }

  // Call after changing the host INI or the database; binds a new service.
  cImmoHelperV2& Helper() {
    if (!helper_) {
      helper_ = std::make_unique<cImmoHelperV2>();
      events.Attach(*helper_);
      helper_->Init(Session().g_strConnect, app);
    }
    return *helper_;
  }

  std::shared_ptr<db::Recordset> Portal(int n) {
    return Rows("select * from Boersen where DSN = '" + PortalKey(n) + "'");
  }
  // The listing row of GetBoersenObjekte for portal p and listing n.
  std::shared_ptr<db::Recordset> Listing(int p, int n) {
    auto portal = Portal(p);
    std::string dept;
    auto rs = Helper().GetBoersenObjekte(*portal, dept);
    EXPECT_TRUE(rs->Find("Kennung = 'FB-" + std::to_string(1000 + n) + "'")) << n;
    return rs;
  }

  cFernDispatcher app;
  testing_events::EventLog events;

 protected:
  std::unique_ptr<cImmoHelperV2> helper_;
};

}  // namespace fern::testing
