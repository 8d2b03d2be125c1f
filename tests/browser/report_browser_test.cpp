// report.html as a receiver owner sees it: headless Chromium opens the report
// of a run, and the test reads the page after its script ran (no errors, a
// row per server, the screenshot strip) and the picture Chromium drew (the
// mounted spans where the commands say, every outage of a month).
//
// BRIMVALE_CHROMIUM names the browser (default: chromium on PATH). Without
// one the tests skip, unless CI is set. BRIMVALE_REPORT_PICTURE=file.png also
// writes a picture of the default report (the README's).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/receiver/pc_file.h"
#include "sim/report/report_html.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path &path)
{
  std::string text;
  sim::ReadPcFile(path.string(), &text);
  return text;
}

size_t Count(const std::string &text, const std::string &what)
{
  size_t n = 0;
  for(size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// Runs `args` in a process group of its own with stdout and stderr to files;
// after `seconds` the whole group is killed. The group is killed at the end
// in any case: the browser leaves helper processes behind. Exit status, or
// -1 when it ran out of time. A non-empty `tmpdir` becomes the child's TMPDIR.
int RunBounded(const std::vector<std::string> &args, const fs::path &out, const fs::path &err, int seconds,
               const fs::path &tmpdir = {})
{
  pid_t pid = fork();
  if(pid == 0)
  {
    setpgid(0, 0);
    if(!tmpdir.empty()) setenv("TMPDIR", tmpdir.c_str(), 1);
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if(o < 0 || e < 0) _exit(126);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<char *> argv;
    for(const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if(pid < 0) return -2;
  setpgid(pid, pid);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  int result = -1;
  while(std::chrono::steady_clock::now() < deadline)
  {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if(done == pid)
    {
      result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(-pid, SIGKILL);
  if(result == -1) waitpid(pid, &status, 0);
  return result;
}

std::string FindChromium()
{
  if(const char *named = getenv("BRIMVALE_CHROMIUM")) return named;
  std::string path = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
  std::istringstream dirs(path);
  for(std::string dir; std::getline(dirs, dir, ':');)
    for(const char *name : {"chromium", "chromium-browser"})
      if(!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
  return "";
}

class ReportBrowser : public ::testing::Test {
 protected:
  void SetUp() override
  {
    chromium_ = FindChromium();
    if(chromium_.empty())
    {
      if(getenv("CI") != nullptr) FAIL() << "chromium not found (CI is set, so this is a failure): apt-get install chromium";
      GTEST_SKIP() << "chromium not found: apt-get install chromium (or set BRIMVALE_CHROMIUM)";
    }
    std::string pattern = (fs::path(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") / "report-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    // Chromium's profile and the temporary folder it makes its singleton
    // socket in: a Unix socket's path holds at most 107 bytes, so they live
    // in a short private folder, never below the checkout or the build.
    std::string browser = ShortTemporaryFolder() + "/brimvale-chromium-XXXXXX";
    ASSERT_NE(mkdtemp(browser.data()), nullptr);
    browser_dir_ = browser;
  }
  void TearDown() override
  {
    std::error_code ec;
    if(!browser_dir_.empty()) fs::remove_all(browser_dir_, ec);
    if(!dir_.empty() && !HasFailure()) fs::remove_all(dir_, ec);
  }

  // The system's temporary folder when its path leaves room for a socket
  // two folders below it, else /tmp (ctest points TMPDIR into the build).
  static std::string ShortTemporaryFolder()
  {
    const char *tmp = getenv("TMPDIR");
    if(tmp != nullptr && tmp[0] == '/' && std::string(tmp).size() <= 40) return tmp;
    return "/tmp";
  }

  // A run of `scenario` with its output in `out`.
  void RunScenario(const fs::path &scenario, const fs::path &out, int seconds)
  {
    int status = RunBounded({BRIMVALE_SIM, "run", "-q", BRIMVALE_TAP, scenario.string(), "--out", out.string()},
                     dir_ / "sim.out", dir_ / "sim.err", seconds);
    ASSERT_EQ(status, 0) << ReadFile(dir_ / "sim.err");
    ASSERT_TRUE(fs::exists(out / "report.html"));
  }

  // Chromium with a fresh profile and nothing that reaches for the network.
  int Browser(const std::vector<std::string> &extra, const fs::path &page, const std::string &name,
              double *wall_seconds = nullptr)
  {
    fs::path profile = browser_dir_ / ("p-" + name);
    fs::create_directories(profile);
    std::vector<std::string> args = {chromium_, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                                     "--no-first-run", "--disable-background-networking",
                                     "--disable-component-update", "--disable-sync", "--hide-scrollbars",
                                     "--force-device-scale-factor=1", "--enable-logging=stderr", "--v=0",
                                     "--user-data-dir=" + profile.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back("file://" + fs::absolute(page).string());
    auto start = std::chrono::steady_clock::now();
    int status = RunBounded(args, dir_ / (name + ".out"), dir_ / (name + ".err"), 90, browser_dir_);
    if(wall_seconds) *wall_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return status;
  }

  // Console messages of the page (Chromium logs them as "CONSOLE(line)").
  std::string ConsoleLines(const std::string &name)
  {
    std::istringstream err(ReadFile(dir_ / (name + ".err")));
    std::string found;
    for(std::string line; std::getline(err, line);)
      if(line.find(":CONSOLE") != std::string::npos || line.find("Uncaught") != std::string::npos) found += line + "\n";
    return found;
  }

  std::string chromium_;
  fs::path dir_;
  fs::path browser_dir_;  // profiles and Chromium's own temporary files
};

struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  unsigned At(int x, int y) const
  {
    if(x < 0 || y < 0 || x >= width || y >= height) return 0xffffffffu;
    const uint8_t *p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
    return static_cast<unsigned>(p[0]) << 16 | static_cast<unsigned>(p[1]) << 8 | p[2];
  }
};

bool ReadPicture(const fs::path &path, Picture *picture)
{
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if(!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  picture->width = static_cast<int>(image.width);
  picture->height = static_cast<int>(image.height);
  picture->rgb.resize(PNG_IMAGE_SIZE(image));
  return png_image_finish_read(&image, nullptr, picture->rgb.data(), 0, nullptr) != 0;
}

// Where the timeline lies in the picture: its time axis is the one long line
// in the axis colour.
struct Layout {
  int plot_left = -1, svg_top = -1;
  int RowTop(int row) const { return svg_top + sim::kReportAxisHeight + row * sim::kReportRowHeight; }
};

Layout FindTimeline(const Picture &p)
{
  Layout layout;
  for(int y = 0; y < p.height && layout.svg_top < 0; ++y)
    for(int x = 0; x < p.width; ++x)
    {
      int run = 0;
      while(x + run < p.width && p.At(x + run, y) == sim::kReportAxisColour) ++run;
      if(run >= sim::kReportPlotWidth - 1 && run <= sim::kReportPlotWidth + 1)
      {
        layout.plot_left = x;
        layout.svg_top = y - (sim::kReportAxisHeight - 6);
        break;
      }
      x += run;
    }
  return layout;
}

// The run's length as the page draws it.
double PageDuration(const std::string &html)
{
  size_t at = html.find("var R={dur:");
  return at == std::string::npos ? 0 : std::atof(html.c_str() + at + 11);
}

// When each server's exports were mounted, from commands.txt alone: from a
// successful mount of one of its exports while none was, until the last of
// them is unmounted.
// "2026-12-08 19:58:13.00" as seconds on one running count (days from a
// civil date, as the receiver's clock gives them), or -1.
double LocalSeconds(const std::string &date, const std::string &time)
{
  int y, mo, d, h, mi;
  double sec;
  if(std::sscanf(date.c_str(), "%d-%d-%d", &y, &mo, &d) != 3 || std::sscanf(time.c_str(), "%d:%d:%lf", &h, &mi, &sec) != 3)
    return -1;
  y -= mo <= 2;
  int era = y / 400, yoe = y - era * 400, doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  long days = era * 146097L + yoe * 365L + yoe / 4 - yoe / 100 + doy;
  return days * 86400.0 + h * 3600.0 + mi * 60.0 + sec;
}

// The run's start from summary.txt's first line: "run from 19:58:00 (2026-12-08) to ...".
double RunStart(const fs::path &summary)
{
  std::istringstream in(ReadFile(summary));
  std::string run, from, time, date;
  in >> run >> from >> time >> date;
  if(date.size() < 3) return -1;
  return LocalSeconds(date.substr(1, date.size() - 2), time);
}

std::map<std::string, std::vector<std::pair<double, double>>> MountedFromCommands(const fs::path &file, double start,
                                                                                    double end)
{
  std::map<std::string, std::vector<std::pair<double, double>>> spans;
  std::map<std::string, std::string> owner;  // mount point -> address
  std::map<std::string, int> mounted;
  std::map<std::string, double> since;
  std::istringstream in(ReadFile(file));
  for(std::string line; std::getline(in, line);)
  {
    std::istringstream words(line);
    std::string date, time;
    if(!(words >> date >> time) || line.size() < 6 || line.compare(line.size() - 6, 6, "\" -> 0") != 0) continue;
    double at = LocalSeconds(date, time) - start;
    // "mount "ADDR:/path" "/mnt/point" -o..." -> 0  /  "umount "/mnt/point"" -> 0
    size_t first = line.find('"');
    std::string body = line.substr(first + 1);
    std::vector<std::string> parts;
    for(size_t a = body.find('"'); a != std::string::npos;)
    {
      size_t b = body.find('"', a + 1);
      if(b == std::string::npos) break;
      parts.push_back(body.substr(a + 1, b - a - 1));
      a = body.find('"', b + 1);
    }
    if(body.rfind("mount ", 0) == 0 && parts.size() >= 2 && parts[0].find(':') != std::string::npos)
    {
      std::string address = parts[0].substr(0, parts[0].find(':'));
      owner[parts[1]] = address;
      if(mounted[address]++ == 0) since[address] = at;
    }
    else if(body.rfind("umount ", 0) == 0 && !parts.empty() && owner.count(parts[0]))
    {
      std::string address = owner[parts[0]];
      owner.erase(parts[0]);
      if(--mounted[address] == 0) spans[address].push_back({since[address], at});
    }
  }
  for(const auto &[address, n] : mounted)
    if(n > 0) spans[address].push_back({since[address], end});
  return spans;
}

std::vector<std::string> ServerAddresses(const std::string &scenario)
{
  std::vector<std::string> addresses;
  std::istringstream in(scenario);
  bool server = false;
  for(std::string line; std::getline(in, line);)
  {
    if(line.rfind("[", 0) == 0) server = line == "[[server]]";
    if(server && line.rfind("address = \"", 0) == 0) addresses.push_back(line.substr(11, line.find('"', 11) - 11));
  }
  return addresses;
}

TEST_F(ReportBrowser, DefaultScenarioShowsEveryServerItsMountsAndTheScreen)
{
  fs::path scenario = fs::path(BRIMVALE_SOURCE_DIR) / "examples/default.toml";
  fs::path out = dir_ / "default";
  RunScenario(scenario, out, 120);
  std::string html = ReadFile(out / "report.html");
  std::vector<std::string> addresses = ServerAddresses(ReadFile(scenario));
  ASSERT_EQ(addresses.size(), 2u);

  // The page after its script ran: no error, a row per server, a picture in
  // the strip for every screenshot the run wrote.
  ASSERT_EQ(Browser({"--dump-dom"}, out / "report.html", "dom"), 0) << ReadFile(dir_ / "dom.err");
  std::string dom = ReadFile(dir_ / "dom.out");
  EXPECT_NE(dom.find("data-ready=\"1\""), std::string::npos) << "the page's script did not finish";
  EXPECT_EQ(dom.find("data-error=\""), std::string::npos);
  EXPECT_EQ(Count(dom, "class=\"row server\""), addresses.size());
  size_t shots = static_cast<size_t>(std::distance(fs::directory_iterator(out / "screenshots"), fs::directory_iterator()));
  ASSERT_GT(shots, 0u);
  EXPECT_EQ(Count(dom, "<figure id=\"shot-"), shots);
  EXPECT_EQ(ConsoleLines("dom"), "");

  ASSERT_EQ(Browser({"--window-size=1280,1700", "--screenshot=" + (dir_ / "page.png").string()}, out / "report.html",
                    "shot"),
            0)
      << ReadFile(dir_ / "shot.err");
  EXPECT_EQ(ConsoleLines("shot"), "");
  Picture picture;
  ASSERT_TRUE(ReadPicture(dir_ / "page.png", &picture));
  Layout layout = FindTimeline(picture);
  ASSERT_GE(layout.svg_top, 0) << "no time axis in the picture";

  // Each server row shows the server's state all along; the row after the
  // last is the receiver's, with the recording folder.
  const unsigned kStates[] = {0xcdebd5, 0xffd8a8, 0xc5cde0, 0xffe066, 0xf08080};
  for(size_t row = 0; row <= addresses.size(); ++row)
  {
    int y = layout.RowTop(static_cast<int>(row)) + sim::kReportStateTop + 1;  // above any label
    for(int k = 1; k < 20; ++k)
    {
      unsigned c = picture.At(layout.plot_left + k * sim::kReportPlotWidth / 20, y);
      if(row < addresses.size())
        EXPECT_NE(std::find(std::begin(kStates), std::end(kStates), c), std::end(kStates))
            << "row " << row << " at " << k << "/20: " << std::hex << c;
      else
        EXPECT_TRUE(c == 0xdee2e6 || c == 0x3b5bdb) << "receiver row at " << k << "/20: " << std::hex << c;
    }
  }

  // The mounted band is green exactly while commands.txt has the server's
  // exports mounted (a couple of pixels at each edge aside).
  double duration = PageDuration(html);
  ASSERT_GT(duration, 0);
  double scale = sim::kReportPlotWidth / duration;
  double start = RunStart(out / "summary.txt");
  ASSERT_GE(start, 0) << "no start in summary.txt";
  auto spans = MountedFromCommands(out / "commands.txt", start, duration);
  for(size_t row = 0; row < addresses.size(); ++row)
  {
    const auto &mounted = spans[addresses[row]];
    ASSERT_FALSE(mounted.empty()) << addresses[row];
    int y = layout.RowTop(static_cast<int>(row)) + sim::kReportMountedTop + sim::kReportBandHeight - 1;
    auto green_share = [&](double from, double to) {
      int x0 = layout.plot_left + static_cast<int>(from * scale) + 3, x1 = layout.plot_left + static_cast<int>(to * scale) - 3;
      int green = 0, all = 0;
      for(int x = x0; x < x1; ++x, ++all) green += picture.At(x, y) == sim::kReportMountedColour;
      return all == 0 ? -1.0 : static_cast<double>(green) / all;
    };
    double last = 0;
    for(const auto &[from, to] : mounted)
    {
      double mounted_share = green_share(from, to), gap_share = green_share(last, from);
      if(mounted_share >= 0) EXPECT_GE(mounted_share, 0.97) << addresses[row] << " mounted " << from << "-" << to;
      if(gap_share >= 0) EXPECT_LE(gap_share, 0.0) << addresses[row] << " not mounted " << last << "-" << from;
      last = to;
    }
    double tail = green_share(last, duration);
    if(tail >= 0) EXPECT_LE(tail, 0.0) << addresses[row] << " after " << last;
  }

  // The strip: screenshots drawn (the video is black), besides the preview.
  size_t black = 0;
  for(int y = 0; y < picture.height; ++y)
    for(int x = 0; x < picture.width; ++x) black += picture.At(x, y) == 0;
  EXPECT_GT(black, 360u * 288 * 9 / 10 + 2u * 180 * 144) << "no screenshot strip drawn";

  if(const char *picture_file = getenv("BRIMVALE_REPORT_PICTURE"))
    EXPECT_EQ(Browser({"--window-size=1280,1060", std::string("--screenshot=") + picture_file}, out / "report.html", "readme"), 0);
}

// "2h10m", "30m", "0s": seconds.
long Seconds(const std::string &text)
{
  long total = 0, number = 0;
  for(char c : text)
  {
    if(c >= '0' && c <= '9')
      number = number * 10 + (c - '0');
    else
    {
      total += number * (c == 'd' ? 86400 : c == 'h' ? 3600 : c == 'm' ? 60 : 1);
      number = 0;
    }
  }
  return total + number;
}

TEST_F(ReportBrowser, MonthOfNineServersIsSmallQuickAndShowsEveryOutage)
{
  // The nine-server day stretched to 30 days, every outage repeated daily.
  const int kDays = 30;
  std::istringstream day(ReadFile(fs::path(BRIMVALE_SOURCE_DIR) / "bench/nine_servers.toml"));
  std::ostringstream month;
  std::vector<size_t> outages;  // per server
  for(std::string line; std::getline(day, line);)
  {
    if(line.rfind("[[server]]", 0) == 0) outages.push_back(0);
    // An idle event every half second instead of every tenth: the month is
    // the same to the plug-in's second-sized gaps and five times quicker.
    if(line.rfind("duration = ", 0) == 0)
      line = "duration = \"" + std::to_string(kDays) + "d\"\nstep = 50";
    else if(line.rfind("outages = ", 0) == 0)
    {
      std::vector<long> times;
      for(size_t a = line.find('"'); a != std::string::npos;)
      {
        size_t b = line.find('"', a + 1);
        times.push_back(Seconds(line.substr(a + 1, b - a - 1)));
        a = line.find('"', b + 1);
      }
      line = "outages = [";
      for(int d = 0; d < kDays; ++d)
        for(size_t k = 0; k + 1 < times.size(); k += 2)
        {
          line += (line.back() == '[' ? "" : ", ") + std::string("[\"") + std::to_string(times[k] + d * 86400L) + "s\", \"" +
                  std::to_string(times[k + 1] + d * 86400L) + "s\"]";
          ++outages.back();
        }
      line += "]";
    }
    month << line << "\n";
  }
  ASSERT_EQ(outages.size(), 9u);
  fs::path scenario = dir_ / "month.toml";
  std::ofstream(scenario) << month.str();
  // A month of sandbox files is quicker in memory where there is some.
  fs::path out = (fs::is_directory("/dev/shm") && access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm") : dir_) /
                 ("brimvale-month-" + std::to_string(getpid()));
  RunScenario(scenario, out, 840);
  struct Cleanup {
    fs::path path;
    ~Cleanup()
    {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  } cleanup{out};

  uintmax_t size = fs::file_size(out / "report.html");
  std::printf("report.html of %d days, nine servers: %ju bytes\n", kDays, size);
  EXPECT_LT(size, 5u * 1000 * 1000);

  double wall = 0;
  ASSERT_EQ(Browser({"--dump-dom"}, out / "report.html", "dom", &wall), 0) << ReadFile(dir_ / "dom.err");
  std::string dom = ReadFile(dir_ / "dom.out");
  EXPECT_NE(dom.find("data-ready=\"1\""), std::string::npos);
  EXPECT_EQ(dom.find("data-error=\""), std::string::npos);
  EXPECT_EQ(Count(dom, "class=\"row server\""), 9u);
  EXPECT_EQ(ConsoleLines("dom"), "");
  size_t at = dom.find("data-drawn-ms=\"");
  ASSERT_NE(at, std::string::npos) << "the page was not laid out";
  double drawn_ms = std::atof(dom.c_str() + at + 15);
  std::printf("read and laid out %.0f ms after navigation; browser start to end %.1f s\n", drawn_ms, wall);
  EXPECT_LT(drawn_ms, 10000);

  // Every outage of the month is a red stretch of its own in its server's row.
  ASSERT_EQ(Browser({"--window-size=1280,900", "--screenshot=" + (dir_ / "month.png").string()}, out / "report.html",
                    "shot"),
            0);
  Picture picture;
  ASSERT_TRUE(ReadPicture(dir_ / "month.png", &picture));
  Layout layout = FindTimeline(picture);
  ASSERT_GE(layout.svg_top, 0);
  for(size_t row = 0; row < outages.size(); ++row)
  {
    int y = layout.RowTop(static_cast<int>(row)) + sim::kReportStateTop + 1;
    size_t stretches = 0;
    bool in = false;
    for(int x = layout.plot_left; x < layout.plot_left + sim::kReportPlotWidth; ++x)
    {
      bool red = picture.At(x, y) == sim::kReportOutageColour;
      stretches += red && !in;
      in = red;
    }
    EXPECT_EQ(stretches, outages[row]) << "server row " << row;
  }
}

}  // namespace
