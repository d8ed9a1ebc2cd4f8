#include "Svg.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <vector>

#include "Format.h"

namespace acidkit {

std::string xmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        // Control characters other than tab are not allowed in XML 1.0.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
          out += '?';
        } else {
          out += c;
        }
    }
  }
  return out;
}

namespace {

struct Lane {
  std::string label;
  std::string name;
  std::optional<const LaneEvent*> start;
  std::optional<const LaneEvent*> end;
  std::vector<const LaneEvent*> pauses;
  double first = 0;
  double last = 0;
};

std::vector<Lane> lanesOf(const Timeline& t) {
  std::map<int, Lane> byNumber;  // T0, T1, ... in number order
  for (const LaneEvent& e : t.events) {
    int number = atoi(e.lane.c_str() + 1);
    auto [it, added] = byNumber.try_emplace(number);
    Lane& lane = it->second;
    if (added) {
      lane.label = e.lane;
      lane.first = e.seconds;
    }
    lane.first = std::min(lane.first, e.seconds);
    lane.last = std::max(lane.last, e.seconds);
    if (lane.name.empty()) lane.name = e.name;
    if (e.mark == Mark::kStart && !lane.start) lane.start = &e;
    if (e.mark == Mark::kEnd) lane.end = &e;
    if (e.mark == Mark::kPause) lane.pauses.push_back(&e);
  }
  std::vector<Lane> lanes;
  for (auto& [number, lane] : byNumber) lanes.push_back(std::move(lane));
  return lanes;
}

constexpr int kWidth = 960;
constexpr int kLeft = 230;
constexpr int kRight = 40;
constexpr int kTop = 64;
constexpr int kLaneHeight = 46;
constexpr int kBar = 14;

// Where things go: the time scale and the rows.
struct Layout {
  double step = 5;     // seconds between axis ticks
  double axisEnd = 5;  // seconds at the right end of the axis
  double scale = 1;    // pixels a second
  int axisY = 0;
  int height = 0;
  double x(double seconds) const { return kLeft + seconds * scale; }
  int middle(size_t lane) const {
    return kTop + static_cast<int>(lane) * kLaneHeight + kLaneHeight / 2;
  }
};

Layout layoutOf(const Timeline& t, const std::vector<Lane>& lanes, int pauseSeconds) {
  double span = t.lastSeconds;
  for (const Lane& lane : lanes) {
    for (const LaneEvent* p : lane.pauses) {
      if (lane.end) {
        span = std::max(span, std::min(p->seconds + pauseSeconds, (*lane.end)->seconds));
      }
    }
  }
  Layout l;
  l.step = span <= 60 ? 5 : span <= 300 ? 10 : 60;
  l.axisEnd = std::max(l.step, l.step * static_cast<int>((span + l.step - 1e-9) / l.step));
  l.scale = (kWidth - kLeft - kRight) / l.axisEnd;
  int rows = std::max<int>(1, lanes.size());
  l.axisY = kTop + rows * kLaneHeight + 6;
  l.height = l.axisY + 74;
  return l;
}

std::string header(std::string_view title, const Timeline& t, const Layout& l, bool noLanes) {
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += format(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
      "font-family=\"sans-serif\">\n",
      kWidth, l.height, kWidth, l.height);
  svg += format("<rect x=\"0\" y=\"0\" width=\"%d\" height=\"%d\" fill=\"#ffffff\"/>\n", kWidth,
                l.height);
  svg += "<text x=\"12\" y=\"24\" font-size=\"16\" font-weight=\"bold\">" + xmlEscape(title) +
         "</text>\n";
  std::string origin = t.origin.empty() ? std::string("no timestamped lines") : t.origin;
  svg +=
      "<text x=\"12\" y=\"44\" font-size=\"11\" fill=\"#444444\">Seconds from the first "
      "timestamped line (" +
      xmlEscape(origin) +
      "). A transaction that ends right after another's end waited for it.</text>\n";
  if (noLanes) {
    svg += format(
        "<text x=\"%d\" y=\"%d\" font-size=\"13\" fill=\"#b00000\">No transaction start, pause "
        "or end line in the output: see the program's log.</text>\n",
        kLeft, kTop + kLaneHeight / 2 + 4);
  }
  return svg;
}

// A lane's row: its label and name, its run as a bar, its pauses shaded.
std::string laneBar(const Lane& lane, size_t i, const Timeline& t, const Layout& l,
                    int pauseSeconds) {
  std::string svg;
  int top = kTop + static_cast<int>(i) * kLaneHeight;
  int mid = l.middle(i);
  if (i % 2 == 0) {
    svg += format("<rect x=\"0\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"#f4f6f8\"/>\n", top,
                  kWidth, kLaneHeight);
  }
  svg += format("<text x=\"12\" y=\"%d\" font-size=\"13\" font-weight=\"bold\">", mid - 3);
  svg += xmlEscape(lane.label) + "</text>\n";
  svg += format("<text x=\"12\" y=\"%d\" font-size=\"11\" fill=\"#333333\">", mid + 12);
  svg += xmlEscape(lane.name) + "</text>\n";

  double from = lane.start ? (*lane.start)->seconds : lane.first;
  bool open = !lane.end;
  double to = std::max(open ? t.lastSeconds : (*lane.end)->seconds, from);
  svg += format("<rect x=\"%.1f\" y=\"%d\" width=\"%.1f\" height=\"%d\" fill=\"#9ecae1\"%s>",
                l.x(from), mid - kBar / 2, std::max(1.0, l.x(to) - l.x(from)), kBar,
                open ? " stroke=\"#3182bd\" stroke-dasharray=\"4 3\"" : "");
  svg += format("<title>%s: running %.3f s to %.3f s%s</title></rect>\n",
                xmlEscape(lane.label).c_str(), from, to,
                open ? " (no end line: still running when the output ended)" : "");
  for (const LaneEvent* p : lane.pauses) {
    // Cut at the lane's end, or, when the output stops before the end
    // line, where the output stops: no pause is drawn that was not seen.
    double until = std::min(p->seconds + pauseSeconds, to);
    svg += format(
        "<rect x=\"%.1f\" y=\"%d\" width=\"%.1f\" height=\"%d\" fill=\"#fdae6b\"><title>paused "
        "%d s from %.3f s</title></rect>\n",
        l.x(p->seconds), mid - kBar / 2, std::max(1.0, l.x(until) - l.x(p->seconds)), kBar,
        pauseSeconds, p->seconds);
  }
  return svg;
}

// Guides at every end: who went on right after whom.
std::string endGuides(const std::vector<Lane>& lanes, const Layout& l) {
  std::string svg;
  for (const Lane& lane : lanes) {
    if (!lane.end) continue;
    svg += format(
        "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#999999\" "
        "stroke-dasharray=\"2 3\"/>\n",
        l.x((*lane.end)->seconds), kTop, l.x((*lane.end)->seconds), l.axisY);
  }
  return svg;
}

// A lane's marks on top of the bars, each with its line as tooltip.
std::string laneMarks(const Lane& lane, size_t i, const Layout& l) {
  std::string svg;
  int mid = l.middle(i);
  // A short transaction gets one time label, "start-end", under its end.
  bool oneLabel =
      lane.start && lane.end && l.x((*lane.end)->seconds) - l.x((*lane.start)->seconds) < 36;
  if (lane.start) {
    double sx = l.x((*lane.start)->seconds);
    svg += format("<circle cx=\"%.1f\" cy=\"%d\" r=\"5\" fill=\"#31a354\"><title>", sx, mid);
    svg += xmlEscape((*lane.start)->text) + "</title></circle>\n";
    if (!oneLabel) {
      svg +=
          format("<text x=\"%.1f\" y=\"%d\" font-size=\"10\" text-anchor=\"middle\">%.1f</text>\n",
                 sx, mid + 19, (*lane.start)->seconds);
    }
  }
  for (const LaneEvent* p : lane.pauses) {
    double px = l.x(p->seconds);
    svg += format("<polygon points=\"%.1f,%d %.1f,%d %.1f,%d %.1f,%d\" fill=\"#e6550d\"><title>",
                  px, mid - 7, px + 6, mid, px, mid + 7, px - 6, mid);
    svg += xmlEscape(p->text) + "</title></polygon>\n";
    svg += format(
        "<text x=\"%.1f\" y=\"%d\" font-size=\"10\" text-anchor=\"start\">paused %.1f</text>\n",
        px + 2, mid - 10, p->seconds);
  }
  if (lane.end) {
    double ex = l.x((*lane.end)->seconds);
    svg += format("<rect x=\"%.1f\" y=\"%d\" width=\"10\" height=\"10\" fill=\"#252525\"><title>",
                  ex - 5, mid - 5);
    svg += xmlEscape((*lane.end)->text) + "</title></rect>\n";
    std::string when = format("%.1f", (*lane.end)->seconds);
    if (oneLabel && format("%.1f", (*lane.start)->seconds) != when) {
      when = format("%.1f-", (*lane.start)->seconds) + when;
    }
    svg += format("<text x=\"%.1f\" y=\"%d\" font-size=\"10\" text-anchor=\"start\">%s</text>\n",
                  oneLabel ? ex + 8 : ex - 8, mid + 19, when.c_str());
  }
  return svg;
}

std::string timeAxis(const Layout& l) {
  std::string svg = format("<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#333333\"/>\n",
                           kLeft, l.axisY, kWidth - kRight, l.axisY);
  for (double s = 0; s <= l.axisEnd + 1e-9; s += l.step) {
    svg += format("<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#333333\"/>\n",
                  l.x(s), l.axisY, l.x(s), l.axisY + 5);
    svg += format("<text x=\"%.1f\" y=\"%d\" font-size=\"11\" text-anchor=\"middle\">%g</text>\n",
                  l.x(s), l.axisY + 18, s);
  }
  svg += format("<text x=\"%d\" y=\"%d\" font-size=\"11\" text-anchor=\"end\">s</text>\n",
                kWidth - 8, l.axisY + 18);
  return svg;
}

std::string legend(const Layout& l, int pauseSeconds) {
  int ly = l.axisY + 48;
  std::string svg =
      format("<circle cx=\"%d\" cy=\"%d\" r=\"5\" fill=\"#31a354\"/>\n", kLeft, ly - 4);
  svg += format("<text x=\"%d\" y=\"%d\" font-size=\"11\">start</text>\n", kLeft + 10, ly);
  svg += format("<rect x=\"%d\" y=\"%d\" width=\"30\" height=\"10\" fill=\"#9ecae1\"/>\n",
                kLeft + 60, ly - 9);
  svg += format("<text x=\"%d\" y=\"%d\" font-size=\"11\">running or waiting</text>\n", kLeft + 96,
                ly);
  svg += format("<polygon points=\"%d,%d %d,%d %d,%d %d,%d\" fill=\"#e6550d\"/>\n", kLeft + 226,
                ly - 11, kLeft + 232, ly - 4, kLeft + 226, ly + 3, kLeft + 220, ly - 4);
  svg += format("<rect x=\"%d\" y=\"%d\" width=\"30\" height=\"10\" fill=\"#fdae6b\"/>\n",
                kLeft + 236, ly - 9);
  svg += format("<text x=\"%d\" y=\"%d\" font-size=\"11\">paused %d s holding its locks</text>\n",
                kLeft + 272, ly, pauseSeconds);
  svg += format("<rect x=\"%d\" y=\"%d\" width=\"10\" height=\"10\" fill=\"#252525\"/>\n",
                kLeft + 460, ly - 9);
  svg += format("<text x=\"%d\" y=\"%d\" font-size=\"11\">end</text>\n", kLeft + 476, ly);
  return svg;
}

}  // namespace

std::string timelineSvg(std::string_view title, const Timeline& t, int pauseSeconds) {
  const std::vector<Lane> lanes = lanesOf(t);
  const Layout l = layoutOf(t, lanes, pauseSeconds);
  std::string svg = header(title, t, l, lanes.empty());
  for (size_t i = 0; i < lanes.size(); ++i) svg += laneBar(lanes[i], i, t, l, pauseSeconds);
  svg += endGuides(lanes, l);
  for (size_t i = 0; i < lanes.size(); ++i) svg += laneMarks(lanes[i], i, l);
  svg += timeAxis(l);
  svg += legend(l, pauseSeconds);
  return svg + "</svg>\n";
}

}  // namespace acidkit
