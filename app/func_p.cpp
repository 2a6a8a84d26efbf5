#include "app/func_p.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

#include "platform/process/exe_path.h"
#include "platform/profile/ini_file.h"

namespace funcp {
namespace {

MessageBoxHook& Hook() {
  static MessageBoxHook hook;
  return hook;
}

bool g_boxUp = false;
QPointer<QMessageBox> g_shownBox;

QMessageBox::Icon IconFor(uint32_t flags) {
  switch (flags & 0xF0) {
    case 0x10:
      return QMessageBox::Critical;
    case 0x20:
      return QMessageBox::Question;
    case 0x30:
      return QMessageBox::Warning;
    case 0x40:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

}  // namespace

std::string ExePath;

void InitExePath() {
  if (!ExePath.empty()) return;
  const std::string exe = platform::ExecutablePath();
  ExePath = exe.substr(0, exe.rfind('/') + 1);
}

void SetMessageBoxHook(MessageBoxHook hook) { Hook() = std::move(hook); }

int32_t ShowMessageBox(const std::string& text, const std::string& caption, uint32_t flags,
                       const std::string& details) {
  if (g_boxUp) return IDOK;
  struct Up {
    Up() { g_boxUp = true; }
    ~Up() { g_boxUp = false; }
  } up;
  if (Hook()) return Hook()(text, caption, flags, details);
  const std::unique_ptr<QMessageBox> box = MakeMessageBox(text, caption, flags, details);
  g_shownBox = box.get();
  box->exec();
  return IDOK;
}

void CloseMessageBox() {
  if (g_shownBox) g_shownBox->done(QMessageBox::Ok);
}

std::unique_ptr<QMessageBox> MakeMessageBox(const std::string& text, const std::string& caption,
                                            uint32_t flags, const std::string& details) {
  auto box = std::make_unique<QMessageBox>(IconFor(flags), QString::fromStdString(caption),
                                           QString::fromStdString(text), QMessageBox::Ok,
                                           QApplication::activeWindow());
  if (!details.empty()) box->setDetailedText(QString::fromStdString(details));
  return box;
}

void ReadIniOrDefault(bool readFirst, const std::string& fileName, const std::string& section,
                      const std::string& key, const std::string& defaultValue, std::string& value) {
  platform::IniFile ini(fileName);
  if (readFirst) {
    value = ini.ReadString(section, key, "");
    if (!value.empty()) return;
  }
  ini.WriteString(section, key, defaultValue);
  value = defaultValue;
}

}  // namespace funcp
