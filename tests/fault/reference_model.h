// A deliberately plain second reading of the log rules, byte by byte and with nothing shared
// with the program's own code, to check the program's output against on arbitrary input. Used
// by the hostile-input tests and the fuzz target.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace parlotrim::reference {

struct Line {
  std::string text;
  std::string terminator;  // "\r\n", "\r", or "" for a last line without one
};

// A line ends at CR LF or at a lone CR; anything else, LF included, belongs to the line.
inline std::vector<Line> Split(std::string_view data) {
  std::vector<Line> lines;
  Line current;
  bool open = false;
  for (size_t i = 0; i < data.size(); ++i) {
    const char c = data[i];
    if (c == '\r') {
      current.terminator = "\r";
      if (i + 1 < data.size() && data[i + 1] == '\n') {
        current.terminator = "\r\n";
        ++i;
      }
      lines.push_back(current);
      current = Line();
      open = false;
    } else {
      current.text += c;
      open = true;
    }
  }
  if (open) lines.push_back(current);
  return lines;
}

struct Options {
  bool nullDelete = false;
  bool lineDelete = false;
  bool emphasis = false;
  std::string keyword;
  bool keywordEncodable = true;
};

struct Kept {
  std::string text;
  bool strong = false;
};

inline std::vector<Kept> Clean(const std::vector<Line>& lines, const Options& o) {
  std::vector<Kept> kept;
  for (const Line& line : lines) {
    std::string text = line.text;
    if (o.lineDelete && !text.empty() && text.find_first_not_of('-') == std::string::npos)
      text.clear();
    const bool strong = o.emphasis && o.keywordEncodable && !text.empty() &&
                        text.compare(0, o.keyword.size(), o.keyword) == 0 &&
                        text.size() >= o.keyword.size();
    if (o.nullDelete && text.empty()) continue;
    kept.push_back({text, strong});
  }
  return kept;
}

inline std::string WorkingText(std::string_view log, const Options& o) {
  std::string out;
  for (const Kept& k : Clean(Split(log), o)) out += "\r\n" + k.text;
  return out;
}

inline std::string ConvertedText(std::string_view log, const Options& o) {
  const std::vector<Kept> kept = Clean(Split(log), o);
  std::string out;
  for (auto it = kept.rbegin(); it != kept.rend(); ++it) out += it->text + "\r\n";
  return out;
}

inline std::string HtmlBody(std::string_view log, const Options& o) {
  const std::vector<Kept> kept = Clean(Split(log), o);
  std::string out;
  for (auto it = kept.rbegin(); it != kept.rend(); ++it) {
    out += it->strong ? "<strong>" + it->text + "</strong>" : it->text;
    out += "<br>\r\n";
  }
  return out;
}

}  // namespace parlotrim::reference
