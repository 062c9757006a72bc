// A deliberately plain second reading of the log rules, byte by byte and sharing nothing with the
// program's own code, for the fuzz target to check the program's output against.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace parlotrim::reference {

struct Line {
  std::string text;
  bool strong = false;  // once cleaned: to be emphasised
};

// A log's code units: bytes, or 16-bit units of UTF-16 little-endian (width 2), where an odd
// last byte belongs to the last line.
struct Units {
  size_t width = 1;
  // The character c (ASCII) as a unit.
  std::string Of(char c) const { return width == 1 ? std::string(1, c) : std::string{c, '\0'}; }
};

// A line ends at CR LF or at a lone CR; anything else, LF included, belongs to the line.
inline std::vector<Line> Split(std::string_view data, Units u = {}) {
  std::vector<Line> lines(1);
  const std::string cr = u.Of('\r'), lf = u.Of('\n');
  for (size_t i = 0; i < data.size(); i += u.width) {
    const std::string_view unit = data.substr(i, u.width);
    if (unit != cr) {
      lines.back().text += unit;
      continue;
    }
    if (data.substr(i + u.width, u.width) == lf) i += u.width;
    lines.emplace_back();
  }
  if (lines.back().text.empty()) lines.pop_back();
  return lines;
}

struct Options {
  bool nullDelete = false;
  bool lineDelete = false;
  bool emphasis = false;
  std::string keyword;
  bool keywordEncodable = true;
  Units units;
};

inline std::vector<Line> Clean(std::string_view log, const Options& o) {
  std::vector<Line> kept;
  for (Line& line : Split(log, o.units)) {
    bool separator = !line.text.empty() && line.text.size() % o.units.width == 0;
    for (size_t i = 0; separator && i < line.text.size(); i += o.units.width)
      separator = line.text.substr(i, o.units.width) == o.units.Of('-');
    if (o.lineDelete && separator) line.text.clear();
    if (o.nullDelete && line.text.empty()) continue;
    line.strong = o.emphasis && o.keywordEncodable && !line.text.empty() &&
                  line.text.compare(0, o.keyword.size(), o.keyword) == 0;
    kept.push_back(line);
  }
  return kept;
}

inline std::string WorkingText(std::string_view log, const Options& o) {
  std::string out;
  for (const Line& line : Clean(log, o)) out += o.units.Of('\r') + o.units.Of('\n') + line.text;
  return out;
}

// The kept lines in reverse order, as Change and Save writes them or as HTML Save does.
inline std::string Reversed(std::string_view log, const Options& o, bool html) {
  const std::vector<Line> kept = Clean(log, o);
  auto wide = [&](std::string_view ascii) {
    std::string w;
    for (char c : ascii) w += o.units.Of(c);
    return w;
  };
  std::string out;
  for (auto k = kept.rbegin(); k != kept.rend(); ++k) {
    out += html && k->strong ? wide("<strong>") + k->text + wide("</strong>") : k->text;
    out += wide(html ? "<br>\r\n" : "\r\n");
  }
  return out;
}

inline std::string ConvertedText(std::string_view log, const Options& o) {
  return Reversed(log, o, false);
}

inline std::string HtmlBody(std::string_view log, const Options& o) {
  return Reversed(log, o, true);
}

}  // namespace parlotrim::reference
