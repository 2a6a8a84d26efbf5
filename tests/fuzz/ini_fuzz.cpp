// Any bytes as a settings file: reading never crashes, and a write of one key either
// refuses (leaving the file as it was) or keeps every line it did not change.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "platform/profile/ini_file.h"

namespace {

std::string Folder() {
  static const std::string folder = [] {
    char name[] = "/tmp/comtest-ini-fuzz-XXXXXX";
    return std::string(mkdtemp(name));
  }();
  return folder;
}

std::string ReadBack(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::map<std::string, size_t> LineCounts(const std::string& text) {
  std::map<std::string, size_t> counts;
  size_t start = 0;
  for (size_t lf; (lf = text.find('\n', start)) != std::string::npos; start = lf + 1) {
    ++counts[text.substr(start, lf - start)];
  }
  if (start < text.size()) ++counts[text.substr(start)];
  return counts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string section = input.ConsumeRandomLengthString(16);
  const std::string key = input.ConsumeRandomLengthString(16);
  const std::string value = input.ConsumeRandomLengthString(16);
  const std::string file = input.ConsumeRemainingBytesAsString();
  const std::string path = Folder() + "/Main.Ini";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << file;

  platform::IniFile ini(path);
  ini.ReadString(section, key, "d");
  ini.ReadInteger(section, key, 0);
  try {
    ini.WriteString(section, key, value);
  } catch (const platform::IniWriteError&) {
    if (ReadBack(path) != file) std::abort();  // a refused write changes nothing
    return 0;
  }
  const std::string written = ReadBack(path);
  // Every line of the old file is still there, but for at most the one that held the key.
  const auto after = LineCounts(written);
  size_t lost = 0;
  for (const auto& [line, count] : LineCounts(file)) {
    const auto it = after.find(line);
    const size_t kept = it == after.end() ? 0 : it->second;
    if (kept < count) lost += count - kept;
  }
  if (lost > 1) std::abort();
  if (ini.ReadString(section, key, "d") != value && !section.empty() && !key.empty()) {
    // A key or section that the profile rules cannot find again (blanks, brackets, a
    // semicolon) was refused or stored where it cannot be read; both are acceptable only
    // when the name itself is one the rules trim or treat as special.
    const bool special = section.find_first_of("[]\r\n\t ;\v\f") != std::string::npos ||
                         key.find_first_of("=[]\r\n\t ;\v\f") != std::string::npos ||
                         value.find_first_of("\r\n\t \v\f") != std::string::npos;
    if (!special) std::abort();
  }
  return 0;
}
