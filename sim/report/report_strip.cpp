// The screenshots strip of report.html: each picture the plug-in drew, at
// its moment, cropped to the part where anything was drawn.
#include "report_html_page.h"

namespace sim::html {

std::string Page::Strip()
{
  std::ostringstream out;
  out << "<div class=\"strip\" id=\"strip\">";
  for(size_t k = 0; k < shots_.size(); ++k)
  {
    const Screenshot &s = tl_.screenshots[shots_[k]];
    std::string src = UrlPath(info_.screenshot_folder + "/" + s.file);
    if(info_.crop.w <= 0)
    {
      out << "<figure id=\"shot-" << k << "\" data-t=\"" << Number(s.at) << "\"><img loading=\"lazy\" src=\""
          << Escape(src) << "\" width=\"180\" height=\"144\" alt=\"the screen at " << Escape(Clock(s.at))
          << "\"><figcaption>" << Escape(Clock(s.at)) << "</figcaption></figure>";
      continue;
    }
    out << "<figure id=\"shot-" << k << "\" data-t=\"" << Number(s.at) << "\"><div class=\"shot\"><img loading=\"lazy\" src=\""
        << Escape(src) << "\" alt=\"the screen at " << Escape(Clock(s.at)) << "\"></div><figcaption>"
        << Escape(Clock(s.at)) << " \u00b7 <a class=\"full\" href=\"" << Escape(src)
        << "\" title=\"the whole frame, as the receiver drew it\">full frame</a></figcaption></figure>";
  }
  out << "</div>";
  if(shots_.size() < tl_.screenshots.size())
    out << "<p class=\"note\">" << tl_.screenshots.size() - shots_.size()
        << " later pictures are not in the strip; they are in " << Escape(info_.screenshot_folder) << "/.</p>";
  if(shots_.empty()) out << "<p class=\"note\">The plug-in showed nothing on the screen in this run.</p>";
  return out.str();
}

// The crop of the strip and of the preview: the drawn part of the frame,
// enlarged up to `most` times within `width` x `height` pixels.
std::string Page::CropStyle()
{
  const ReportCrop &c = info_.crop;
  if(c.w <= 0) return "";
  std::ostringstream css;
  auto rule = [&](const char *box, double width, double height, double most) {
    double scale = std::min({most, width / c.w, height / c.h});
    css << box << "{width:" << Number(c.w * scale) << "px;height:" << Number(c.h * scale) << "px}" << box
        << " img{width:" << Number(c.frame_w * scale) << "px;height:" << Number(c.frame_h * scale)
        << "px;margin:" << Number(-c.y * scale) << "px 0 0 " << Number(-c.x * scale) << "px}";
  };
  rule(".strip .shot", 720, 200, 3);
  rule(".preview .shot", 360, 288, 4);
  return css.str();
}

}  // namespace sim::html
