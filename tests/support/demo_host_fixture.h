// A fresh demo host per test and a session started on it; message boxes are recorded.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/host_session.h"
#include "demo/demo_host.h"
#include "host/cDal.h"
#include "host/cUtil.h"
#include "host/host_database.h"
#include "platform/msgbox.h"
#include "support/scratch_dir.h"

namespace fern::testing {

class RecordingAnswerer : public MessageAnswerer {
 public:
  std::vector<std::string> texts;
  int MessageBox(const std::string& text, int flags, const std::string&) override {
    texts.push_back(text);
    return DefaultAnswer(flags);
  }
  bool MsgAsk(const std::string& q, bool def) override {
    texts.push_back(q);
    return def;
  }
  std::string InputBox(const std::string&, const std::string&, const std::string& d) override {
    return d;
  }
};

class DemoHostTest {
 public:
  DemoHostTest() : answers(std::make_shared<RecordingAnswerer>()) {
    host::BuildDemoHost(host());
    SetMessageAnswerer(answers);
  }
  ~DemoHostTest() {
    SetMessageAnswerer(nullptr);
    ResetSession();
    host::CloseDatabases();
  }

  std::filesystem::path host() const { return dir / "host"; }

  // Starts a session with these switches after "/PATHKV <host>".
  void Start(std::vector<std::string> more = {"/USERKV", "DEMO"}) {
    std::vector<std::string> args{"/PATHKV", host().string()};
    args.insert(args.end(), more.begin(), more.end());
    ResetSession(CommandLine::FromArgs(args), dir.path());
  }

  // The started session's database and host INI files.
  void Exec(const std::string& sql) { Session().g_oDal->ExecQuery(Session().g_strConnect, sql); }
  std::shared_ptr<db::Recordset> Rows(const std::string& sql) {
    return Session().g_oDal->GetRecordset(Session().g_strConnect, sql);
  }
  void Ini(const std::string& section, const std::string& key, const std::string& value,
           const std::string& file = "Kavantor.INI") {
    Session().g_oUtil->IniWrite(section, key, value, GetHostPath(file));
    Session().g_oUtil->IniCacheReset();
  }

  // Runs SQL on the demo database before the session opens it.
  void Sql(const std::string& sql) {
    cDal dal;
    dal.Init((host() / "sql" / "sql.ini").string());
    dal.ExecQuery(dal.ConnectString(), sql);
  }

  ScratchDir dir;
  std::shared_ptr<RecordingAnswerer> answers;
};

}  // namespace fern::testing
