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

// A line ends at CR LF or at a lone CR; anything else, LF included, belongs to the line.
inline std::vector<Line> Split(std::string_view data) {
  std::vector<Line> lines(1);
  for (size_t i = 0; i < data.size(); ++i) {
    if (data[i] != '\r') {
      lines.back().text += data[i];
      continue;
    }
    if (i + 1 < data.size() && data[i + 1] == '\n') ++i;
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
};

inline std::vector<Line> Clean(std::string_view log, const Options& o) {
  std::vector<Line> kept;
  for (Line& line : Split(log)) {
    if (o.lineDelete && line.text.find_first_not_of('-') == std::string::npos) line.text.clear();
    if (o.nullDelete && line.text.empty()) continue;
    line.strong = o.emphasis && o.keywordEncodable && !line.text.empty() &&
                  line.text.compare(0, o.keyword.size(), o.keyword) == 0;
    kept.push_back(line);
  }
  return kept;
}

inline std::string WorkingText(std::string_view log, const Options& o) {
  std::string out;
  for (const Line& line : Clean(log, o)) out += "\r\n" + line.text;
  return out;
}

// The kept lines in reverse order, as Change and Save writes them or as HTML Save does.
inline std::string Reversed(std::string_view log, const Options& o, bool html) {
  const std::vector<Line> kept = Clean(log, o);
  std::string out;
  for (auto k = kept.rbegin(); k != kept.rend(); ++k) {
    out += html && k->strong ? "<strong>" + k->text + "</strong>" : k->text;
    out += html ? "<br>\r\n" : "\r\n";
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
