#include "platform/profile/ini_file.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <optional>

#include "platform/profile/profile_file.h"

namespace platform {
namespace {

// Larger files are not settings files; they read as empty and are never rewritten.
constexpr size_t kMaxProfileSize = 64 << 20;

struct Line {
  size_t begin;  // first byte of the line
  size_t end;    // one past its last byte, before the line end
  size_t next;   // first byte of the following line
};

struct Profile {
  std::string bytes;
  std::string problem;  // why the file is not used; such a file is never written back
  char lineEnd = '\n';  // CR in a file that has CRs and no LF at all (an old Mac's)
  bool Usable() const { return problem.empty(); }
};

// The line that starts at pos; lines are scanned, never stored, so a huge file costs no
// more memory than its bytes.
Line LineAt(const Profile& p, size_t pos) {
  const std::string& bytes = p.bytes;
  const size_t lf = bytes.find(p.lineEnd, pos);
  const size_t next = lf == std::string::npos ? bytes.size() : lf + 1;
  size_t end = lf == std::string::npos ? bytes.size() : lf;
  // Only a CR before an LF belongs to the line end: a last line that ends in a lone CR is
  // not ended, and a key added after it must start a line of its own.
  if (p.lineEnd == '\n' && lf != std::string::npos && end > pos && bytes[end - 1] == '\r') {
    --end;
  }
  return {pos, end, next};
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// A missing file is an empty profile that may be written. A file that cannot be read, is
// no regular file, is too large or holds binary data (UTF-16 among it) reads as empty and
// is never rewritten, so nothing of it is lost.
Profile Load(const std::string& path) {
  Profile p;
  ProfileFileBytes file = ReadProfileFile(path, kMaxProfileSize);
  p.bytes = std::move(file.bytes);
  p.problem = std::move(file.problem);
  if (p.bytes.find('\0') != std::string::npos) {
    p.problem = "it holds NUL bytes (UTF-16 text or binary data)";
    p.bytes.clear();
  }
  if (p.bytes.find('\n') == std::string::npos && p.bytes.find('\r') != std::string::npos) {
    p.lineEnd = '\r';
  }
  return p;
}

// What would break the file's lines, or make it one that is never read again (a NUL), is
// refused rather than written.
bool Storable(const std::string& section, const std::string& key, const std::string& value) {
  const std::string_view breaking("\r\n\0", 3);
  return section.find_first_of(breaking) == std::string::npos &&
         key.find_first_of(breaking) == std::string::npos && key.find('=') == std::string::npos &&
         value.find_first_of(breaking) == std::string::npos;
}

std::string_view Text(const Profile& p, const Line& l) {
  return std::string_view(p.bytes).substr(l.begin, l.end - l.begin);
}

std::optional<std::string> SectionName(std::string_view line) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return std::nullopt;
  const size_t close = t.find(']');
  if (close == std::string::npos) return std::nullopt;
  return Trim(std::string_view(t).substr(1, close - 1));
}

// The body of the first section of that name: the bytes from the line after its header
// up to the next section header.
struct SectionRange {
  bool found = false;
  Line header{};
  size_t first = 0;
  size_t last = 0;
};

SectionRange FindSection(const Profile& p, const std::string& section) {
  SectionRange r;
  for (size_t pos = 0; pos < p.bytes.size();) {
    const Line line = LineAt(p, pos);
    const auto name = SectionName(Text(p, line));
    if (name && r.found) {
      r.last = line.begin;
      return r;
    }
    if (name && SameName(*name, section)) r = {true, line, line.next, p.bytes.size()};
    pos = line.next;
  }
  return r;
}

std::optional<Line> FindKey(const Profile& p, const SectionRange& r, const std::string& key) {
  for (size_t pos = r.first; pos < r.last;) {
    const Line line = LineAt(p, pos);
    const std::string_view text = Text(p, line);
    const size_t eq = text.find('=');
    if (eq != std::string_view::npos && SameName(Trim(text.substr(0, eq)), Trim(key))) return line;
    pos = line.next;
  }
  return std::nullopt;
}

// New lines end as the file's first line does.
std::string LineEnding(const Profile& p) {
  if (p.lineEnd == '\r') return "\r";
  const Line first = LineAt(p, 0);
  return first.next > first.end + 1 ? "\r\n" : "\n";
}

// The section's last line that is not blank, so blank lines before the next section stay.
Line LastFilledLine(const Profile& p, const SectionRange& r) {
  Line last = r.header;
  for (size_t pos = r.first; pos < r.last;) {
    const Line line = LineAt(p, pos);
    if (!Trim(Text(p, line)).empty()) last = line;
    pos = line.next;
  }
  return last;
}

std::string WithKey(const Profile& p, const std::string& section, const std::string& key,
                    const std::string& value) {
  const std::string eol = LineEnding(p);
  const std::string entry = Trim(key) + "=" + value;
  const SectionRange r = FindSection(p, section);
  if (!r.found) {
    std::string out = p.bytes;
    if (!out.empty() && out.back() != p.lineEnd) out += eol;
    return out + "[" + section + "]" + eol + entry + eol;
  }
  if (const auto line = FindKey(p, r, key)) {
    return p.bytes.substr(0, line->begin) + entry + p.bytes.substr(line->end);
  }
  const Line last = LastFilledLine(p, r);
  const bool ended = last.next > last.end;
  return p.bytes.substr(0, last.next) + (ended ? "" : eol) + entry + eol +
         p.bytes.substr(last.next);
}

}  // namespace

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& defaultValue) const {
  const Profile p = Load(path_);
  const SectionRange r = FindSection(p, section);
  if (!r.found) return defaultValue;
  const auto line = FindKey(p, r, key);
  if (!line) return defaultValue;
  const std::string_view text = Text(p, *line);
  return Trim(text.substr(text.find('=') + 1));
}

bool IniFile::ValueExists(const std::string& section, const std::string& key) const {
  const Profile p = Load(path_);
  const SectionRange r = FindSection(p, section);
  return r.found && FindKey(p, r, key).has_value();
}

int32_t IniFile::ReadInteger(const std::string& section, const std::string& key,
                             int32_t defaultValue) const {
  int32_t value = 0;
  return ParseProfileInteger(ReadString(section, key, ""), value) ? value : defaultValue;
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
  const Profile p = Load(path_);
  if (!p.Usable() || !Storable(section, key, value)) throw IniWriteError(path_);
  ReplaceFileAtomically(path_, WithKey(p, section, key, value));
}

std::string IniFile::Problem() const { return Load(path_).problem; }

void IniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

bool ParseProfileInteger(const std::string& text, int32_t& value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (hex) {
    if (text.size() > 10) return false;
    uint32_t n = 0;
    for (size_t i = 2; i < text.size(); ++i) {
      if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
      n = n * 16 + static_cast<uint32_t>(std::stoi(std::string(1, text[i]), nullptr, 16));
    }
    value = static_cast<int32_t>(n);
    return true;
  }
  size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
  if (i >= text.size() || text.size() - i > 10) return false;
  long long n = 0;
  for (; i < text.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    n = n * 10 + (text[i] - '0');
  }
  if (text[0] == '-') n = -n;
  if (n < INT32_MIN || n > INT32_MAX) return false;
  value = static_cast<int32_t>(n);
  return true;
}

}  // namespace platform
