// SPDX-License-Identifier: GPL-3.0-or-later
#include "page.h"

#include <ctime>
#include <sstream>

#include "name.h"

namespace {

// The chart's frame (SVG user units, scaled to the page's width).
constexpr int kChartWidth = 600;
constexpr int kChartHeight = 200;
constexpr int kChartMargin = 30;

const char* ModeTitle(GameMode mode) {
  switch (mode) {
    case GameMode::OnePlayer: return "One player";
    case GameMode::TwoPlayers: return "Two players at one computer";
    case GameMode::Network: return "Network games";
  }
  return "";
}

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:0 auto;max-width:60em;padding:0 1em;color:#222;background:#fffdf2}"
    "h1{color:#8a6d00}table{border-collapse:collapse;width:100%;margin-bottom:1em}"
    "th,td{padding:.25em .5em;text-align:left;border-bottom:1px solid #e5dcb5}"
    "td.n{text-align:right}td.d{white-space:nowrap}.wide{overflow-x:auto}.cols{display:flex;flex-wrap:wrap;gap:1em}.cols>div{flex:1 1 20em;min-width:0}"
    "svg{width:100%;height:auto;max-width:40em}a{color:#5a4a00}";

std::string Head(const std::string& title) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
         "<title>" + EscapeHtml(title) + "</title><style>" + kStyle + "</style></head><body>\n";
}

std::string PlayerLink(const std::string& name) {
  std::ostringstream url;
  for (unsigned char c : name) {  // percent-encoded, so the link holds nothing but URL characters
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.') {
      url << c;
    } else {
      static const char hex[] = "0123456789ABCDEF";
      url << '%' << hex[c >> 4] << hex[c & 15];
    }
  }
  return "<a href=\"/player?name=" + url.str() + "\">" + EscapeHtml(name) + "</a>";
}

std::string Games(int64_t n) { return std::to_string(n) + (n == 1 ? " game" : " games"); }

std::string Table(const std::vector<BoardEntry>& entries, bool withNames) {
  if (entries.empty()) return "<p>No verified games yet.</p>\n";
  std::ostringstream out;
  out << "<div class=\"wide\"><table><thead><tr><th>#</th>" << (withNames ? "<th>Name</th>" : "<th>Mode</th>")
      << "<th>Score</th><th>Level</th><th>Date</th><th>Replay</th></tr></thead><tbody>\n";
  for (size_t i = 0; i < entries.size(); ++i) {
    const BoardEntry& e = entries[i];
    out << "<tr><td class=\"n\">" << i + 1 << "</td><td>"
        << (withNames ? PlayerLink(e.name) : std::string(GameModeName(e.mode))) << "</td><td class=\"n\">" << e.score
        << "</td><td class=\"n\">" << e.level << "</td><td class=\"d\">" << DateOf(e.at) << "</td><td><a href=\"/replays/" << e.id
        << ".nsr\" download>replay " << e.id << "</a></td></tr>\n";
  }
  out << "</tbody></table></div>\n";
  return out.str();
}

}  // namespace

std::string DateOf(int64_t at) {
  const std::time_t t = static_cast<std::time_t>(at);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &utc);
  return text;
}

std::string SpreadChart(const std::vector<int64_t>& bins, int best) {
  int64_t most = 1;
  for (int64_t n : bins) most = std::max(most, n);
  const int plotWidth = kChartWidth - 2 * kChartMargin;
  const int plotHeight = kChartHeight - 2 * kChartMargin;
  const double barWidth = bins.empty() ? 0 : static_cast<double>(plotWidth) / static_cast<double>(bins.size());
  std::ostringstream svg;
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " << kChartWidth << ' ' << kChartHeight
      << "\" role=\"img\" aria-label=\"How the scores spread\">"
      << "<rect width=\"" << kChartWidth << "\" height=\"" << kChartHeight << "\" fill=\"#fff8d6\"/>";
  for (size_t i = 0; i < bins.size(); ++i) {
    const double h = static_cast<double>(plotHeight) * static_cast<double>(bins[i]) / static_cast<double>(most);
    svg << "<rect x=\"" << kChartMargin + barWidth * static_cast<double>(i) + 1 << "\" y=\""
        << kChartMargin + plotHeight - h << "\" width=\"" << std::max(barWidth - 2, 1.0) << "\" height=\"" << h
        << "\" fill=\"#c9a100\"><title>" << Games(bins[i]) << "</title></rect>";
  }
  svg << "<line x1=\"" << kChartMargin << "\" y1=\"" << kChartMargin + plotHeight << "\" x2=\""
      << kChartMargin + plotWidth << "\" y2=\"" << kChartMargin + plotHeight << "\" stroke=\"#222\"/>"
      << "<text x=\"" << kChartMargin << "\" y=\"" << kChartHeight - 8 << "\" font-size=\"14\">0</text>"
      << "<text x=\"" << kChartMargin + plotWidth << "\" y=\"" << kChartHeight - 8
      << "\" font-size=\"14\" text-anchor=\"end\">" << best << " points</text>"
      << "<text x=\"" << kChartMargin << "\" y=\"" << kChartMargin - 10 << "\" font-size=\"14\">" << Games(most)
      << "</text></svg>";
  return svg.str();
}

std::string BoardPage(const std::vector<BoardTables>& tables) {
  std::ostringstream out;
  out << Head("nanasplat world scores") << "<h1>nanasplat world scores</h1>\n"
      << "<p>Every score here is the score its replay gave when the board played it again, tick for tick. "
         "Download any replay and watch it with <code>nanasplat --replay FILE</code>.</p>\n";
  for (const BoardTables& t : tables) {
    out << "<section id=\"" << GameModeName(t.mode) << "\"><h2>" << ModeTitle(t.mode) << "</h2>\n"
        << "<div class=\"cols\"><div><h3>All time</h3>\n" << Table(t.allTime, true)
        << "</div><div><h3>This week</h3>\n" << Table(t.thisWeek, true) << "</div></div>\n"
        << "<h3>How the scores spread</h3>\n" << SpreadChart(t.spread, t.best) << "\n</section>\n";
  }
  out << "<p><a href=\"/api/scores?mode=1p&amp;period=all&amp;limit=100\">The same as JSON</a></p></body></html>\n";
  return out.str();
}

std::string PlayerPage(const std::string& name, const std::vector<BoardEntry>& entries) {
  std::ostringstream out;
  if (name.empty()) {
    out << Head("No such player") << "<h1>No such player</h1><p><a href=\"/\">The board</a></p></body></html>\n";
    return out.str();
  }
  out << Head(name + " on the nanasplat world scores") << "<h1>" << EscapeHtml(name) << "</h1>\n"
      << "<p><a href=\"/\">The board</a></p>\n" << Table(entries, false) << "</body></html>\n";
  return out.str();
}
