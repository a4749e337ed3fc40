// The window on a fresh demo host per test, on Qt's offscreen platform; message boxes are
// recorded, not shown.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

#include <stdlib.h>

#include <memory>
#include <string>

#include "host/cUtil.h"
#include "support/demo_host_fixture.h"
#include "ui/frmFernDispatcher.h"

namespace fern::testing {

// One application for the whole test program, never destroyed (widgets of later tests need it).
inline QApplication& App() {
  // Tests never open windows on a desktop, whatever the caller's environment says.
  static bool offscreen = ::setenv("QT_QPA_PLATFORM", "offscreen", 1) == 0;
  (void)offscreen;
  static int argc = 1;
  static char name[] = "ui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

class UiTest : public ::testing::Test, public DemoHostTest {
 protected:
  UiTest() { App(); }

  std::string GuiIni() const { return (host() / "profiles" / "Standard" / "gui.ini").string(); }
  void WriteGui(const std::string& key, const std::string& value) {
    cUtil util;
    util.IniWrite("FernDispatcher", key, value, GuiIni());
    util.IniCacheReset();
  }
  std::string ReadGui(const std::string& key) {
    cUtil util;
    util.IniCacheReset();
    return util.IniGet("FernDispatcher", key, "", GuiIni());
  }

  // A started window; the recording answerer stays in place.
  std::unique_ptr<frmFernDispatcher> Open(ExporterFactory factory = {},
                                          std::vector<std::string> more = {"/USERKV", "DEMO"}) {
    Start(std::move(more));
    auto w = std::make_unique<frmFernDispatcher>(std::move(factory), false);
    w->InitMainWindow();
    return w;
  }
};

}  // namespace fern::testing
