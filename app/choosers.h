#pragma once

#include <functional>
#include <optional>
#include <string>

namespace console {

// The file and number questions the log's menu asks; tests answer them through hooks.
std::string ChooseSaveFile(const std::string& title);
std::optional<int> ChoosePollInterval(int current);

void SetFileChooserHook(std::function<std::string(const std::string&)> hook);
void SetIntervalChooserHook(std::function<std::optional<int>(int)> hook);

}  // namespace console
