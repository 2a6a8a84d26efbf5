#include "app/log_menu.h"

#include <QActionGroup>
#include <QKeySequence>
#include <QMenu>

namespace console {
namespace {

QAction* Command(QMenu* menu, const char* name, const QString& text, bool enabled,
                 const std::function<void()>& run) {
  QAction* action = menu->addAction(text);
  action->setObjectName(QLatin1String(name));
  action->setEnabled(enabled);
  QObject::connect(action, &QAction::triggered, menu, [run] { run(); });
  return action;
}

QAction* Switch(QMenu* menu, const char* name, const QString& text, bool on,
                const std::function<void(bool)>& set) {
  QAction* action = menu->addAction(text);
  action->setObjectName(QLatin1String(name));
  action->setCheckable(true);
  action->setChecked(on);
  QObject::connect(action, &QAction::toggled, menu, [set](bool checked) { set(checked); });
  return action;
}

void AddControlBytesChoices(QMenu* menu, ControlBytes current,
                            const std::function<void(ControlBytes)>& set) {
  QMenu* sub = menu->addMenu(QStringLiteral("Control bytes"));
  auto* group = new QActionGroup(sub);
  const std::pair<const char*, std::pair<const char*, ControlBytes>> choices[] = {
      {"control-as-received", {"As received", ControlBytes::AsReceived}},
      {"control-marks", {"As marks: <STX> <CR> <LF>", ControlBytes::Marks}},
      {"control-hex", {"As hex: <02> <0D> <0A>", ControlBytes::Hex}}};
  for (const auto& [name, choice] : choices) {
    QAction* action = sub->addAction(QString::fromLatin1(choice.first));
    action->setObjectName(QLatin1String(name));
    action->setCheckable(true);
    action->setChecked(choice.second == current);
    group->addAction(action);
    const ControlBytes mode = choice.second;
    QObject::connect(action, &QAction::triggered, menu, [set, mode] { set(mode); });
  }
}

}  // namespace

QMenu* BuildLogMenu(QWidget* log, const LogMenuState& state, const LogOptions& options,
                    bool recording, bool polling, const LogMenuActions& actions) {
  auto* menu = new QMenu(log);
  Command(menu, "cut", QStringLiteral("Cut"), state.picked, actions.cut)
      ->setShortcut(QKeySequence::Cut);
  Command(menu, "copy", QStringLiteral("Copy"), state.picked, actions.copy)
      ->setShortcut(QKeySequence::Copy);
  Command(menu, "paste", QStringLiteral("Paste"), state.canPaste, actions.paste)
      ->setShortcut(QKeySequence::Paste);
  Command(menu, "delete", QStringLiteral("Delete"), state.picked, actions.erase)
      ->setShortcut(QKeySequence::Delete);
  Command(menu, "select-all", QStringLiteral("Select All"), true, actions.selectAll)
      ->setShortcut(QKeySequence::SelectAll);
  menu->addSeparator();
  Command(menu, "copy-all", QStringLiteral("Copy all"), true, actions.copyAll);
  Command(menu, "save-as", QStringLiteral("Save log as..."), true, actions.saveAs);
  menu->addSeparator();
  Switch(menu, "timestamps", QStringLiteral("Timestamps"), options.timestamps,
         actions.setTimestamps);
  AddControlBytesChoices(menu, options.controlBytes, actions.setControlBytes);
  Switch(menu, "record", QStringLiteral("Record to file..."), recording, actions.setRecording);
  menu->addSeparator();
  Switch(menu, "poll", QStringLiteral("Send every %1 ms").arg(options.pollIntervalMs), polling,
         actions.setPolling);
  Command(menu, "poll-interval", QStringLiteral("Polling interval..."), true,
          actions.choosePollInterval);
  Switch(menu, "reconnect", QStringLiteral("Reconnect when the adapter comes back"),
         options.reconnect, actions.setReconnect);
  Switch(menu, "network-ports", QStringLiteral("Network ports"), options.networkPorts,
         actions.setNetworkPorts);
  return menu;
}

}  // namespace console
