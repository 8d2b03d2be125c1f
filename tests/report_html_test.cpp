// report.html takes names and log lines from the settings, the scenario and
// the plug-in: none of them may break out of the page or its script.
#include <gtest/gtest.h>

#include <string>

#include "sim/report_html.h"

namespace {

TEST(ReportHtml, TextFromTheRunCannotBreakOutOfThePage)
{
  sim::RunTimeline tl;
  tl.duration = 600;
  tl.start_second = 20 * 3600;
  sim::ServerTimeline server;
  server.name = "nas\"><script>alert(1)</script>";
  server.address = "10.0.0.1";
  server.states = {{0, 600, sim::ServerState::kUp}};
  server.marks = {{60, sim::MarkKind::kRefusal, "not run: 1. NAS: \"</title><img src=x>\""}};
  tl.servers.push_back(server);
  tl.recording_folder = {{0, 600, ""}};
  tl.screenshots = {{30, "screen a#1?.png"}, {40, "x\"</script><script>alert(2)//.png"}};
  tl.log = {{5, "mount \"<b>x</b>\" & more", false}};
  sim::ReportInfo info;
  info.title = "<home>";
  info.summary = "server address\n<a> b\n";
  std::string html = sim::ReportHtml(tl, info);

  struct Case {
    const char *text;
    bool present;
  };
  const Case cases[] = {
      {"<script>alert(1)", false},
      {"nas&quot;&gt;&lt;script&gt;", true},
      {"</title><img", false},
      {"<b>x</b>", false},
      {"mount &quot;&lt;b&gt;x&lt;/b&gt;&quot; &amp; more", true},
      {"screenshots/screen%20a%231%3F.png", true},
      {"</script><script>alert(2)", false},
      {"<title>Brimvale run: &lt;home&gt;</title>", true},
      {"<td>&lt;a&gt;</td>", true},
  };
  for(const Case &c : cases) EXPECT_EQ(html.find(c.text) != std::string::npos, c.present) << c.text;
  // One script element: the page's own.
  size_t scripts = 0;
  for(size_t at = html.find("<script>"); at != std::string::npos; at = html.find("<script>", at + 1)) ++scripts;
  EXPECT_EQ(scripts, 1u);
}

}  // namespace
