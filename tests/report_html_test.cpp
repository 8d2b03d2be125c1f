// report.html takes names and log lines from the settings, the scenario and
// the plug-in: none of them may break out of the page or its script.
#include <gtest/gtest.h>

#include <string>

#include "sim/report/report_html.h"

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

// The screenshots are a small bar and a few icons on a black frame: the
// strip and the preview show the part where anything was drawn, enlarged,
// and each picture's whole frame is a click away.
TEST(ReportHtml, ScreenshotsShowTheDrawnPartEnlargedWithTheWholeFrameALinkAway)
{
  sim::RunTimeline tl;
  tl.duration = 600;
  tl.screenshots = {{30, "a.png"}, {90, "b.png"}};
  sim::ReportInfo info;
  info.crop = {630, 14, 76, 90};  // the icons at the top right, with a margin
  std::string html = sim::ReportHtml(tl, info);
  // Enlarged as far as the strip's 200 pixels of height allow: 200 / 90.
  EXPECT_NE(html.find(".strip .shot{width:168.89px;height:200px}.strip .shot img{width:1600px;height:1280px;"
                      "margin:-31.11px 0 0 -1400px}"),
            std::string::npos);
  EXPECT_NE(html.find(".preview .shot{width:243.2px;height:288px}"), std::string::npos);
  for(const char *shot : {"a.png", "b.png"})
    EXPECT_NE(html.find(std::string("<a class=\"full\" href=\"screenshots/") + shot), std::string::npos) << shot;
}

// A run of a year and a month: its axis names a few days, each with its
// year, not a label for every week on top of each other.
TEST(ReportHtml, AnAxisOverYearsNamesFewDaysWithTheirYear)
{
  sim::RunTimeline tl;
  tl.duration = 400 * 86400.0;
  tl.start_mjd = 61017;  // 2025-12-08
  tl.start_second = 6 * 3600;
  std::string html = sim::ReportHtml(tl, sim::ReportInfo());
  size_t labels = 0;
  for(size_t at = html.find("text-anchor=\"middle\">"); at != std::string::npos;
      at = html.find("text-anchor=\"middle\">", at + 1))
    labels += html.compare(at + 21, 4, "Mon ") == 0 || html.compare(at + 21, 4, "Tue ") == 0 ||
              html.compare(at + 21, 4, "Wed ") == 0 || html.compare(at + 21, 4, "Thu ") == 0 ||
              html.compare(at + 21, 4, "Fri ") == 0 || html.compare(at + 21, 4, "Sat ") == 0 ||
              html.compare(at + 21, 4, "Sun ") == 0;
  EXPECT_GE(labels, 4u);
  EXPECT_LE(labels, 12u);
  EXPECT_NE(html.find(">Mon 08.12.2025 06:00:00 \u2013 "), std::string::npos) << html.substr(0, 2000);
}

}  // namespace
