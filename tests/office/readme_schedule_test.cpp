// The README's night job as an office copies it: the systemd units pass systemd's own check, and
// the cron line's command runs the night job on a host set up as the README's names say.
#include <sys/stat.h>

#include <map>
#include <regex>
#include <sstream>

#include "office_fixture.h"
#include "platform/vb.h"

namespace fern::testing {
namespace {

class ReadmeSchedule : public OfficeTest {
 protected:
  // The README's command with the installed program and the README's host folder replaced by
  // the build's program and the demo host.
  std::string Local(const std::string& command) const {
    return vb::Replace(vb::Replace(command, kInstalledProgram, FERN_DISPATCHER_EXE), kReadmeHost,
                       host().string());
  }
};

TEST_F(ReadmeSchedule, SystemdUnitsPassVerify) {
  const std::string prefix = "# /etc/systemd/system/";
  // The service's block goes on with the timer: each unit starts at its file name.
  std::map<std::string, std::string> units;
  std::string current;
  for (const std::string& line : ReadmeBlock(prefix + "fern-dispatcher.service")) {
    if (line.starts_with(prefix)) current = line.substr(prefix.size());
    units[current] += Local(line) + "\n";
  }
  ASSERT_EQ(units.size(), 2u);
  ASSERT_TRUE(units.count("fern-dispatcher.timer"));
  std::vector<std::string> argv{"systemd-analyze", "verify"};
  for (const auto& [name, text] : units) argv.push_back(dir.Write(name, text).string());
  ProcessResult r = Run(argv);
  ASSERT_NE(r.outcome, ProcessOutcome::kStartFailed) << "systemd-analyze: " << r.error;
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // A setting systemd can't read is only warned about, so the check wants silence.
  EXPECT_EQ(r.err + r.out, "");
}

TEST_F(ReadmeSchedule, CronLineRunsTheNightJob) {
  std::string job;
  for (const std::string& line : ReadmeBlock("# /etc/cron.d/fern-dispatcher"))
    if (!line.empty() && (std::isdigit(static_cast<unsigned char>(line[0])) || line[0] == '*'))
      job = line;
  // Minute, hour, day, month, weekday, user, command.
  std::smatch m;
  ASSERT_TRUE(std::regex_match(job, m, std::regex(R"((\S+\s+){5}(\w+)\s+(.+))"))) << job;
  const std::string command = m[3];
  EXPECT_EQ(command.find('%'), std::string::npos) << "cron takes % for a line break";

  // The demo host takes the user and portal names the line gives.
  std::smatch names;
  ASSERT_TRUE(
      std::regex_search(command, names, std::regex(R"re(/USERKV (\S+) /PORTAL "([^"]+)")re")))
      << command;
  std::vector<std::string> portals;
  std::stringstream list(vb::Replace(names[2].str(), "§", " "));
  for (std::string p; std::getline(list, p, '|');) portals.push_back(p);
  ASSERT_EQ(portals.size(), 2u);
  Sql("UPDATE ben SET login_name = '" + std::string(names[1]) + "' WHERE login_name = 'DEMO'");
  Sql("UPDATE Boersen SET boersen_name = '" + portals[0] +
      "' WHERE boersen_name = 'ImmoPortal Demo'");
  // An HTTP portal whose address is DUMMY counts as delivered without a server.
  Sql("UPDATE Boersen SET boersen_name = '" + portals[1] +
      "', boersen_host = 'DUMMY' WHERE boersen_name = 'Wohnen HTTP Demo'");

  ProcessResult r = Shell(Local(command));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(RunLineErrors(portals[0] + "|" + portals[1] + "|"), 0);
  // The line's umask keeps the logs from other users, and leaves the logs and the run lock to
  // the group, whose window users take turns with the night job.
  for (const char* file : {"Error.log", "FernDispatcher.lock"}) {
    SCOPED_TRACE(file);
    struct stat st {};
    ASSERT_EQ(::stat((host() / "DAT" / file).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07, 0u);
    EXPECT_EQ(st.st_mode & 060, 060u);
  }
}

}  // namespace
}  // namespace fern::testing
