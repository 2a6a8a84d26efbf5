#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace terminals {

// How one program is started on a port, in a folder of its own that also serves as its
// home, so that its settings are the bench's and nothing of a user's is touched.
struct ProgramSetUp {
  std::vector<std::string> argv;
  std::vector<std::string> variables;  // NAME=value, on top of the common ones
  std::string openKeys;  // typed into its window to open the port; empty when it opens it itself
};

struct Program {
  std::string name;
  std::function<ProgramSetUp(const std::filesystem::path& folder, const std::string& port)> setUp;
};

// The console keeps Main.Ini beside its executable, so it runs from a copy in the folder.
Program Console(const std::string& name, const std::filesystem::path& executable);
Program CuteCom();
Program GtkTerm();

}  // namespace terminals
