// The web site "Eigene Homepage" of a large office: the demo host grown to N listings (copies of
// the demo's listings with their pictures and documents, all in the one picture folder), one
// unattended run of the program for that portal against loopback FTP, php -S and MariaDB, as the
// tests start them. Beside it, in the same iteration, its yardstick: the pictures and thumbnails
// that run sent shrunk again alone, the SQL of its import scripts loaded through one mariadb
// session, and the pauses its settings ask for (WAITREQUEST after each site request but the
// database check). The time per listing must not grow with N, and the run should stay within a
// few times its yardstick.
//
//   build-release/bench/bench_site_run                                300 and 3,000 listings
//   build-release/bench/bench_site_run --benchmark_filter=/300/       300 only
// FERN_BENCH_KEEP=1 keeps the grown hosts and the site (in the temp folder) for a look afterwards;
// FERN_BENCH_PROGRAM names another build of the program to run (to compare two builds).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "demo/demo_website.h"
#include "grown_host.h"
#include "support/ftp_server.h"
#include "website/site_servers.h"

namespace {

using namespace fern;
using namespace fern::bench;

constexpr const char* kDatabase = "fernblick";
constexpr int kWaitRequestMs = 200;  // what the demo's site settings ask for

// Keeps each import script before it runs (a script may remove itself) and notes every request.
constexpr const char* kRouter = R"PHP(<?php
$path = parse_url($_SERVER['REQUEST_URI'], PHP_URL_PATH);
file_put_contents(__DIR__ . '/requests.log', $path . "\n", FILE_APPEND);
if (preg_match('#/db/(kvws_import[0-9]+\.php)$#', $path, $m))
  @copy($_SERVER['DOCUMENT_ROOT'] . $path, __DIR__ . '/kept/' . $m[1]);
return false;
)PHP";

// Appends the statements of one import script to an SQL file, as its run sends them: the PHP
// strings with the site's table names filled in, each statement ending in ";".
constexpr const char* kCollect = R"PHP(<?php
$kvws_sql = fopen($argv[2], 'ab');
function kvws_collect($connection, $sql) { global $kvws_sql; fwrite($kvws_sql, $sql . ";\n"); return true; }
$code = file_get_contents($argv[1]);
eval('?>' . str_replace('mysqli_query($dbconnection,', 'kvws_collect($dbconnection,', $code));
)PHP";

fs::path Folder() { return BenchFolder("site"); }

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

ProcessResult Tool(const std::vector<std::string>& argv, const fs::path& cwd = {}) {
  ProcessOptions o;
  o.captureStdout = o.captureStderr = true;
  o.cancelOnEsc = false;
  o.workingDir = cwd;
  o.timeout = std::chrono::minutes(30);
  return RunProcess(argv, o);
}

// The site's servers, started once for all sizes.
struct Site {
  Site() {
    fs::create_directories(www());
    fs::create_directories(kept());
    WriteFile(Folder() / "router.php", kRouter);
    WriteFile(Folder() / "collect.php", kCollect);
    testing_servers::FtpServerOptions o;
    o.home = www();
    o.user = "web";
    o.password = "web-demo";
    ftp = std::make_unique<testing_servers::FtpServer>(o);
    php = std::make_unique<testing::PhpServer>(www(), Folder() / "router.php");
    // Room for the whole site's tables, and commits that don't wait for the disk: on a shared
    // machine the disk's pace under others' load would drown what the run itself costs.
    db.Sql(
        "set global innodb_buffer_pool_size = 268435456; "
        "set global innodb_flush_log_at_trx_commit = 2");
  }
  ~Site() {
    std::error_code ec;
    if (!std::getenv("FERN_BENCH_KEEP")) fs::remove_all(Folder(), ec);
  }
  static fs::path www() { return Folder() / "www"; }
  static fs::path kept() { return Folder() / "kept"; }
  static fs::path requests() { return Folder() / "requests.log"; }

  // An empty site: no files, no requests noted, an empty database.
  void Empty() {
    for (const fs::path& f : {www(), kept()}) {
      fs::remove_all(f);
      fs::create_directories(f);
    }
    fs::remove(requests());
    EmptyDatabase();
  }
  void EmptyDatabase() {
    db.Sql(std::string("drop database if exists ") + kDatabase + "; create database " + kDatabase);
  }
  std::string Query(const std::string& sql) { return db.Query(sql, kDatabase); }

  // The rows of the site's listing table.
  int Listings() {
    const std::string table =
        Query("select table_name from information_schema.tables where table_schema='" +
              std::string(kDatabase) + "' and table_name like 'kv%dat'");
    if (table.empty()) return 0;
    return std::atoi(Query("select count(*) from " + table.substr(0, table.find('\n'))).c_str());
  }

  testing::MariaDb db;
  std::unique_ptr<testing_servers::FtpServer> ftp;
  std::unique_ptr<testing::PhpServer> php;
};

Site& TheSite() {
  static Site site;
  return site;
}

// A grown host whose "Eigene Homepage" points at the site, its database kept as grown so that
// every run sends every listing.
struct Host {
  fs::path folder;
  fs::path Database() const { return folder / "DAT" / "kavantor.db"; }
  fs::path Grown() const { return folder / "kavantor.db.grown"; }
};

std::map<int, Host>& Hosts() {
  static std::map<int, Host> hosts;
  return hosts;
}

Host& GrownSiteHost(int listings) {
  auto found = Hosts().find(listings);
  if (found != Hosts().end()) return found->second;
  Host h{GrownHost(Folder() / ("host-" + std::to_string(listings)), listings, true)};
  Site& site = TheSite();
  demo::SetUpDemoWebsite(h.folder, {site.php->port(), site.ftp->port(), site.db.port()});
  IniWrite("WebServer", "WAITREQUEST", std::to_string(kWaitRequestMs), h.folder / "Kavantor.INI");
  fs::copy(fs::path(FERN_SOURCE_DIR) / "demo" / "website" / "system" / "webserver",
           h.folder / "System" / "webserver",
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  fs::copy_file(h.Database(), h.Grown());
  return Hosts()[listings] = h;
}

// The folder of the site's own scripts, found by its database script.
fs::path SiteScripts() {
  for (const auto& e : fs::recursive_directory_iterator(Site::www()))
    if (e.path().filename() == "dbdata.php") return e.path().parent_path().parent_path();
  return {};
}

// The pictures and thumbnails on the site shrunk again from their sources, with the limits,
// signature and title frame of the site's defaults, one after another.
double ShrinkAlone(const fs::path& host, int& pictures) {
  const fs::path sent = SiteScripts() / "pic.obj";
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(sent)) {
    const std::string name = e.path().filename().string();
    if (e.path().extension() == ".jpg" && name.rfind("tn_", 0) != 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  const std::set<std::string> all(names.begin(), names.end());
  const host::PictureFrame frame = DemoFrame();
  const fs::path out = Folder() / "shrunk";
  fs::create_directories(out);
  pictures = 0;
  const auto start = std::chrono::steady_clock::now();
  for (const std::string& name : names) {
    host::ShrinkRequest picture = SentPicture(host, name, all, out, frame);
    picture.maxBytes = 64000;
    picture.maxWidth = 400;
    host::ShrinkPicture(picture);
    const bool title = picture.frame != nullptr;
    host::ShrinkRequest thumbnail = picture;
    thumbnail.target = out / ("tn_" + name);
    thumbnail.maxBytes = 10000;
    thumbnail.maxWidth = 200;
    thumbnail.thumbnail = title;
    if (!title) thumbnail.copyright.clear();
    host::ShrinkPicture(thumbnail);
    pictures += 2;
  }
  const double seconds = SecondsSince(start);
  fs::remove_all(out);
  return seconds;
}

// The run's import scripts as one SQL file, loaded through one mariadb session into the site's
// tables as the site's set-up script makes them. Gives the seconds of the load alone.
double LoadSqlAlone(Site& site, int& statements, int& listings) {
  const fs::path scripts = SiteScripts();
  const fs::path sql = Folder() / "import.sql";
  WriteFile(sql, "SET NAMES latin1;\n");
  for (int n = 1; fs::exists(Site::kept() / ("kvws_import" + std::to_string(n) + ".php")); ++n)
    Tool({"php", (Folder() / "collect.php").string(),
          (Site::kept() / ("kvws_import" + std::to_string(n) + ".php")).string(), sql.string()},
         scripts / "db");
  const std::string text = ReadFile(sql);
  statements = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  site.EmptyDatabase();
  Tool({"php", "kvws_setupdb.php"}, scripts / "db");
  const auto start = std::chrono::steady_clock::now();
  const ProcessResult load =
      Tool({"bash", "-c",
            "exec mariadb --no-defaults -S \"$1\" -uroot --default-character-set=latin1 \"$2\" "
            "< \"$3\"",
            "load", site.db.Socket(), kDatabase, sql.string()});
  const double seconds = SecondsSince(start);
  if (!load.Succeeded()) statements = -1;
  listings = site.Listings();
  return seconds;
}

// The site requests the run paused after: all but the database check.
int PausedRequests() {
  std::istringstream in(ReadFile(Site::requests()));
  int count = 0;
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && !line.ends_with("/kvws_checkdb.php")) ++count;
  return count;
}

// Seconds and processor seconds per listing of each size's last run.
std::map<int, std::pair<double, double>>& PerListing() {
  static std::map<int, std::pair<double, double>> perListing;
  return perListing;
}

void SiteRun(benchmark::State& state) {
  const int listings = static_cast<int>(state.range(0));
  Site& site = TheSite();
  const Host& host = GrownSiteHost(listings);
  ProgramRun run;
  int siteListings = 0, pictures = 0, statements = 0, loadedListings = 0, requests = 0;
  double shrink = 0, load = 0;
  for (auto _ : state) {
    site.Empty();
    fs::copy_file(host.Grown(), host.Database(), fs::copy_options::overwrite_existing);
    const char* program = std::getenv("FERN_BENCH_PROGRAM");
    run = RunProgram(program ? program : FERN_DISPATCHER_EXE, host.folder, "Eigene§Homepage");
    siteListings = site.Listings();
    requests = PausedRequests();
    shrink = ShrinkAlone(host.folder, pictures);
    load = LoadSqlAlone(site, statements, loadedListings);
  }
  const double pauses = requests * kWaitRequestMs / 1000.0;
  const double yardstick = shrink + load + pauses;
  PerListing()[listings] = {run.seconds / listings, run.cpuSeconds / listings};
  state.counters["run_s"] = run.seconds;
  state.counters["ms_per_listing"] = 1000.0 * run.seconds / listings;
  state.counters["cpu_ms_per_listing"] = 1000.0 * run.cpuSeconds / listings;
  state.counters["peak_rss_MB"] = run.peakMB;
  state.counters["exit_code"] = run.exitCode;
  state.counters["site_listings"] = siteListings;
  state.counters["shrink_s"] = shrink;
  state.counters["sql_s"] = load;
  state.counters["pause_s"] = pauses;
  state.counters["pictures"] = pictures;
  state.counters["statements"] = statements;
  state.counters["loaded_listings"] = loadedListings;
  state.counters["yardstick_s"] = yardstick;
  if (yardstick > 0) state.counters["run_x_yardstick"] = run.seconds / yardstick;
  // Against the smallest size run before: 1.0 is linear. On a busy machine the processor time
  // is the steadier measure.
  const auto& [firstListings, first] = *PerListing().begin();
  if (firstListings != listings && first.first > 0 && first.second > 0) {
    const std::string vs = "_vs_" + std::to_string(firstListings);
    state.counters["per_listing" + vs] = (run.seconds / listings) / first.first;
    state.counters["cpu_per_listing" + vs] = (run.cpuSeconds / listings) / first.second;
  }
}

BENCHMARK(SiteRun)->Arg(300)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(SiteRun)->Arg(3000)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
