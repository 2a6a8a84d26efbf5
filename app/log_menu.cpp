#include "app/log_menu.h"

#include <QActionGroup>
#include <QKeySequence>
#include <QMenu>

#include "app/log_view.h"

namespace console {
namespace {

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

QMenu* BuildLogMenu(LogView* log, const LogOptions& options, bool recording, bool polling,
                    const LogMenuActions& actions) {
  auto* menu = new QMenu(log);
  QAction* copy = menu->addAction(QStringLiteral("Copy"));
  copy->setShortcut(QKeySequence::Copy);
  copy->setObjectName(QStringLiteral("copy"));
  copy->setEnabled(!log->SelectedText().isEmpty());
  QObject::connect(copy, &QAction::triggered, log, [log] { log->CopySelection(); });
  QAction* all = menu->addAction(QStringLiteral("Select All"));
  all->setShortcut(QKeySequence::SelectAll);
  all->setObjectName(QStringLiteral("select-all"));
  QObject::connect(all, &QAction::triggered, log, [log] { log->SelectAll(); });
  menu->addSeparator();
  QAction* copyAll = menu->addAction(QStringLiteral("Copy all"));
  copyAll->setObjectName(QStringLiteral("copy-all"));
  QObject::connect(copyAll, &QAction::triggered, menu, [f = actions.copyAll] { f(); });
  QAction* saveAs = menu->addAction(QStringLiteral("Save log as..."));
  saveAs->setObjectName(QStringLiteral("save-as"));
  QObject::connect(saveAs, &QAction::triggered, menu, [f = actions.saveAs] { f(); });
  menu->addSeparator();
  Switch(menu, "timestamps", QStringLiteral("Timestamps"), options.timestamps,
         actions.setTimestamps);
  AddControlBytesChoices(menu, options.controlBytes, actions.setControlBytes);
  Switch(menu, "record", QStringLiteral("Record to file..."), recording, actions.setRecording);
  menu->addSeparator();
  Switch(menu, "poll", QStringLiteral("Send every %1 ms").arg(options.pollIntervalMs), polling,
         actions.setPolling);
  QAction* interval = menu->addAction(QStringLiteral("Polling interval..."));
  interval->setObjectName(QStringLiteral("poll-interval"));
  QObject::connect(interval, &QAction::triggered, menu, [f = actions.choosePollInterval] { f(); });
  Switch(menu, "reconnect", QStringLiteral("Reconnect when the adapter comes back"),
         options.reconnect, actions.setReconnect);
  Switch(menu, "network-ports", QStringLiteral("Network ports"), options.networkPorts,
         actions.setNetworkPorts);
  return menu;
}

}  // namespace console
