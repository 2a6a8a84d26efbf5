#include "cport/settings_storage.h"

#include <array>
#include <stdexcept>

#include "cport/comport.h"
#include "cport/errors.h"
#include "cport/settings_codecs.h"

namespace cport {
namespace {

using Port = TCustomComPort;

struct Row {
  TSettingsGroup group;
  const char* key;
  std::string (*text)(const Port&);
  void (*setText)(Port&, const std::string&);
  int32_t (*number)(const Port&);
  void (*setNumber)(Port&, int32_t);
};

constexpr char kCustomBaudRate[] = "CustomBaudRate";
constexpr int32_t kCustomBaudRateDefault = 9600;

// Every stored setting in the order saving and restoring process them.
const std::array<Row, 29> kRows = {{
    {sgBasic, "Port", [](const Port& p) { return p.Port(); },
     [](Port& p, const std::string& t) { p.SetPort(t); }, nullptr, nullptr},
    {sgBasic, "BaudRate", [](const Port& p) { return BaudRateToText(p.BaudRate()); },
     [](Port& p, const std::string& t) { p.SetBaudRate(BaudRateFromText(t)); }, nullptr, nullptr},
    {sgBasic, kCustomBaudRate, nullptr, nullptr, [](const Port& p) { return p.CustomBaudRate(); },
     [](Port& p, int32_t v) { p.SetCustomBaudRate(v); }},
    {sgBasic, "StopBits", [](const Port& p) { return StopBitsToText(p.StopBits()); },
     [](Port& p, const std::string& t) { p.SetStopBits(StopBitsFromText(t)); }, nullptr, nullptr},
    {sgBasic, "DataBits", [](const Port& p) { return DataBitsToText(p.DataBits()); },
     [](Port& p, const std::string& t) { p.SetDataBits(DataBitsFromText(t)); }, nullptr, nullptr},
    {sgBasic, "Parity", [](const Port& p) { return ParityToText(p.Parity().Bits()); },
     [](Port& p, const std::string& t) { p.Parity().SetBits(ParityFromText(t)); }, nullptr,
     nullptr},
    {sgBasic, "FlowControl",
     [](const Port& p) { return FlowControlToText(p.FlowControl().FlowControl()); },
     [](Port& p, const std::string& t) { p.FlowControl().SetFlowControl(FlowControlFromText(t)); },
     nullptr, nullptr},
    {sgOthers, "EventChar", [](const Port& p) { return CharToText(p.EventChar()); },
     [](Port& p, const std::string& t) { p.SetEventChar(CharFromText(t)); }, nullptr, nullptr},
    {sgOthers, "DiscardNull", [](const Port& p) { return FlagToText(p.DiscardNull()); },
     [](Port& p, const std::string& t) { p.SetDiscardNull(FlagFromText(t)); }, nullptr, nullptr},
    {sgParity, "Parity.Check", [](const Port& p) { return FlagToText(p.Parity().Check()); },
     [](Port& p, const std::string& t) { p.Parity().SetCheck(FlagFromText(t)); }, nullptr, nullptr},
    {sgParity, "Parity.Replace", [](const Port& p) { return FlagToText(p.Parity().Replace()); },
     [](Port& p, const std::string& t) { p.Parity().SetReplace(FlagFromText(t)); }, nullptr,
     nullptr},
    {sgParity, "Parity.ReplaceChar",
     [](const Port& p) { return CharToText(p.Parity().ReplaceChar()); },
     [](Port& p, const std::string& t) { p.Parity().SetReplaceChar(CharFromText(t)); }, nullptr,
     nullptr},
    {sgBuffer, "Buffer.OutputSize", nullptr, nullptr,
     [](const Port& p) { return p.Buffer().OutputSize(); },
     [](Port& p, int32_t v) { p.Buffer().SetOutputSize(v); }},
    {sgBuffer, "Buffer.InputSize", nullptr, nullptr,
     [](const Port& p) { return p.Buffer().InputSize(); },
     [](Port& p, int32_t v) { p.Buffer().SetInputSize(v); }},
    {sgTimeouts, "Timeouts.ReadInterval", nullptr, nullptr,
     [](const Port& p) { return p.Timeouts().ReadInterval(); },
     [](Port& p, int32_t v) { p.Timeouts().SetReadInterval(v); }},
    {sgTimeouts, "Timeouts.ReadTotalConstant", nullptr, nullptr,
     [](const Port& p) { return p.Timeouts().ReadTotalConstant(); },
     [](Port& p, int32_t v) { p.Timeouts().SetReadTotalConstant(v); }},
    {sgTimeouts, "Timeouts.ReadTotalMultiplier", nullptr, nullptr,
     [](const Port& p) { return p.Timeouts().ReadTotalMultiplier(); },
     [](Port& p, int32_t v) { p.Timeouts().SetReadTotalMultiplier(v); }},
    {sgTimeouts, "Timeouts.WriteTotalConstant", nullptr, nullptr,
     [](const Port& p) { return p.Timeouts().WriteTotalConstant(); },
     [](Port& p, int32_t v) { p.Timeouts().SetWriteTotalConstant(v); }},
    {sgTimeouts, "Timeouts.WriteTotalMultiplier", nullptr, nullptr,
     [](const Port& p) { return p.Timeouts().WriteTotalMultiplier(); },
     [](Port& p, int32_t v) { p.Timeouts().SetWriteTotalMultiplier(v); }},
    {sgFlowControl, "FlowControl.ControlRTS",
     [](const Port& p) { return RTSControlToText(p.FlowControl().ControlRTS()); },
     [](Port& p, const std::string& t) { p.FlowControl().SetControlRTS(RTSControlFromText(t)); },
     nullptr, nullptr},
    {sgFlowControl, "FlowControl.ControlDTR",
     [](const Port& p) { return DTRControlToText(p.FlowControl().ControlDTR()); },
     [](Port& p, const std::string& t) { p.FlowControl().SetControlDTR(DTRControlFromText(t)); },
     nullptr, nullptr},
    {sgFlowControl, "FlowControl.DSRSensitivity",
     [](const Port& p) { return FlagToText(p.FlowControl().DSRSensitivity()); },
     [](Port& p, const std::string& t) { p.FlowControl().SetDSRSensitivity(FlagFromText(t)); },
     nullptr, nullptr},
    {sgFlowControl, "FlowControl.OutCTSFlow",
     [](const Port& p) { return FlagToText(p.FlowControl().OutCTSFlow()); },
     [](Port& p, const std::string& t) { p.FlowControl().SetOutCTSFlow(FlagFromText(t)); }, nullptr,
     nullptr},
    {sgFlowControl, "FlowControl.OutDSRFlow",
     [](const Port& p) { return FlagToText(p.FlowControl().OutDSRFlow()); },
     [](Port& p, const std::string& t) { p.FlowControl().SetOutDSRFlow(FlagFromText(t)); }, nullptr,
     nullptr},
    {sgFlowControl, "FlowControl.TxContinueOnXoff",
     [](const Port& p) { return FlagToText(p.FlowControl().TxContinueOnXoff()); },
     [](Port& p, const std::string& t) { p.FlowControl().SetTxContinueOnXoff(FlagFromText(t)); },
     nullptr, nullptr},
    {sgFlowControl, "FlowControl.XonXoffIn",
     [](const Port& p) { return FlagToText(p.FlowControl().XonXoffIn()); },
     [](Port& p, const std::string& t) { p.FlowControl().SetXonXoffIn(FlagFromText(t)); }, nullptr,
     nullptr},
    {sgFlowControl, "FlowControl.XonXoffOut",
     [](const Port& p) { return FlagToText(p.FlowControl().XonXoffOut()); },
     [](Port& p, const std::string& t) { p.FlowControl().SetXonXoffOut(FlagFromText(t)); }, nullptr,
     nullptr},
    {sgFlowControl, "FlowControl.XoffChar",
     [](const Port& p) { return CharToText(p.FlowControl().XoffChar()); },
     [](Port& p, const std::string& t) { p.FlowControl().SetXoffChar(CharFromText(t)); }, nullptr,
     nullptr},
    {sgFlowControl, "FlowControl.XonChar",
     [](const Port& p) { return CharToText(p.FlowControl().XonChar()); },
     [](Port& p, const std::string& t) { p.FlowControl().SetXonChar(CharFromText(t)); }, nullptr,
     nullptr},
}};

constexpr std::array<TSettingsGroup, 6> kGroupOrder = {sgBasic,  sgOthers,   sgParity,
                                                       sgBuffer, sgTimeouts, sgFlowControl};

// Where the values go: a section of an INI file, or an open registry key.
class Store {
 public:
  virtual ~Store() = default;
  virtual void WriteText(const char* key, const std::string& value) = 0;
  virtual void WriteNumber(const char* key, int32_t value) = 0;
  virtual std::string ReadText(const char* key, const std::string& current) = 0;
  virtual int32_t ReadNumber(const char* key, int32_t current) = 0;
};

class IniStore : public Store {
 public:
  IniStore(TIniFile& ini, const std::string& section) : ini_(ini), section_(section) {}
  void WriteText(const char* key, const std::string& v) override {
    ini_.WriteString(section_, key, v);
  }
  void WriteNumber(const char* key, int32_t v) override { ini_.WriteInteger(section_, key, v); }
  std::string ReadText(const char* key, const std::string& current) override {
    return ini_.ReadString(section_, key, current);
  }
  int32_t ReadNumber(const char* key, int32_t current) override {
    return ini_.ReadInteger(section_, key, current);
  }

 private:
  TIniFile& ini_;
  const std::string& section_;
};

// The registry has no defaults: a missing string is empty, a missing number an error.
class RegistryKeyStore : public Store {
 public:
  explicit RegistryKeyStore(TRegistry& registry) : registry_(registry) {}
  void WriteText(const char* key, const std::string& v) override { registry_.WriteString(key, v); }
  void WriteNumber(const char* key, int32_t v) override { registry_.WriteInteger(key, v); }
  std::string ReadText(const char* key, const std::string&) override {
    return registry_.ReadString(key);
  }
  int32_t ReadNumber(const char* key, int32_t) override { return registry_.ReadInteger(key); }

 private:
  TRegistry& registry_;
};

bool IsCustomBaudRate(const Row& row) { return std::string_view(row.key) == kCustomBaudRate; }

template <typename Visit>
void ForEachStoredRow(const Port& port, Visit visit) {
  for (TSettingsGroup group : kGroupOrder) {
    if (!port.StoredGroups().Contains(group)) continue;
    for (const Row& row : kRows) {
      if (row.group == group) visit(row);
    }
  }
}

void SaveRows(Port& port, Store& store) {
  ForEachStoredRow(port, [&](const Row& row) {
    if (IsCustomBaudRate(row) && port.BaudRate() != brCustom) return;
    if (row.text) {
      store.WriteText(row.key, row.text(port));
    } else {
      store.WriteNumber(row.key, row.number(port));
    }
  });
}

void RestoreRows(Port& port, Store& store) {
  ForEachStoredRow(port, [&](const Row& row) {
    if (IsCustomBaudRate(row)) {
      if (port.BaudRate() == brCustom) {
        row.setNumber(port, store.ReadNumber(row.key, kCustomBaudRateDefault));
      }
    } else if (row.text) {
      row.setText(port, store.ReadText(row.key, row.text(port)));
    } else {
      row.setNumber(port, store.ReadNumber(row.key, row.number(port)));
    }
  });
}

}  // namespace

void OpenSettingsKey(TRegistry& registry, const std::string& path, const std::string& name) {
  const size_t slash = path.find('\\');
  if (slash == std::string::npos) return;
  const std::string root = AsciiUpper(path.substr(0, slash));
  if (root == "HKEY_LOCAL_MACHINE") {
    registry.SetRoot(platform::RegistryRoot::LocalMachine);
  } else if (root == "HKEY_CURRENT_USER") {
    registry.SetRoot(platform::RegistryRoot::CurrentUser);
  }
  std::string key = path.substr(slash + 1);
  if (key.empty()) throw std::invalid_argument("empty registry key path");
  if (key.back() != '\\') key += '\\';
  registry.OpenKey(key + name, true);
}

void TCustomComPort::SaveToIniFile(TIniFile& ini) {
  IniStore store(ini, Name());
  SaveRows(*this, store);
}

void TCustomComPort::SaveToRegistry(TRegistry& registry) {
  RegistryKeyStore store(registry);
  SaveRows(*this, store);
}

void TCustomComPort::RestoreFromIniFile(TIniFile& ini) {
  IniStore store(ini, Name());
  RestoreRows(*this, store);
}

void TCustomComPort::RestoreFromRegistry(TRegistry& registry) {
  RegistryKeyStore store(registry);
  RestoreRows(*this, store);
}

// Whatever fails becomes one error; the values written before it stay written.
void TCustomComPort::SaveSettings(TSettingsStore store, const std::string& path) {
  try {
    if (store == ssIniFile) {
      TIniFile ini(path);
      SaveToIniFile(ini);
    } else {
      TRegistry registry(platform::RegistryRoot::CurrentUser);
      OpenSettingsKey(registry, path, Name());
      SaveToRegistry(registry);
    }
  } catch (...) {
    throw EComPort(peStoreSettings);
  }
}

// One batch, closed on every path, so an open port is reconfigured once at the end.
void TCustomComPort::RestoreSettings(TSettingsStore store, const std::string& path) {
  bool failed = false;
  BeginSettingsUpdate();
  try {
    if (store == ssIniFile) {
      TIniFile ini(path);
      RestoreFromIniFile(ini);
    } else {
      TRegistry registry(platform::RegistryRoot::CurrentUser);
      OpenSettingsKey(registry, path, Name());
      RestoreFromRegistry(registry);
    }
  } catch (...) {
    failed = true;
  }
  try {
    EndSettingsUpdate();
  } catch (...) {
    failed = true;
  }
  if (failed) throw EComPort(peLoadSettings);
}

}  // namespace cport
