#include "programs.h"

#include <fstream>

namespace terminals {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text;
}

// Both terminals close a pty whose modem-line calls fail; the shim answers those calls
// as a port with three wires would.
std::string ModemShim() { return "LD_PRELOAD=" PTY_MODEM_SHIM; }

}  // namespace

Program Console(const std::string& name, const fs::path& executable) {
  return {name, [executable](const fs::path& folder, const std::string& port) {
            const fs::path copy = folder / executable.filename();
            fs::copy_file(executable, copy, fs::copy_options::overwrite_existing);
            Write(folder / "Main.Ini", "[ComPort1]\nPort=" + port + "\n");
            return ProgramSetUp{{copy.string()}, {}, ""};
          }};
}

// The session names the port, which its device list then shows as chosen.
Program CuteCom() {
  return {"cutecom", [](const fs::path& folder, const std::string& port) {
            Write(folder / ".config/CuteCom/CuteCom5.conf",
                  "[sessions]\nsize=1\n1\\name=Default\n1\\Device=" + port +
                      "\n1\\BaudRate=115200\n1\\OpenMode=3\n");
            return ProgramSetUp{{"cutecom"}, {ModemShim()}, "alt+o"};
          }};
}

// What it writes on its first start, naming the port. Without the file it starts with a
// modal notice. It opens the port at start but closes it again when udev does not know
// it, until F5 opens it.
constexpr char kGtkTermSettings[] = R"([default]
port	= %PORT%
speed	= 115200
bits	= 8
stopbits	= 1
parity	= none
flow	= none
wait_delay	= 0
wait_char	= -1
rs485_rts_time_before_tx	= 30
rs485_rts_time_after_tx	= 30
echo	= False
crlfauto	= False
timestamp	= False
font	= "Monospace 12"
term_block_cursor	= True
term_rows	= 80
term_columns	= 25
term_scrollback	= 10000
term_visual_bell	= True
term_foreground_red	= 0.660000
term_foreground_blue	= 0.660000
term_foreground_green	= 0.660000
term_foreground_alpha	= 1.000000
term_background_red	= 0.000000
term_background_blue	= 0.000000
term_background_green	= 0.000000
term_background_alpha	= 1.000000
)";

Program GtkTerm() {
  return {"gtkterm", [](const fs::path& folder, const std::string& port) {
            std::string settings = kGtkTermSettings;
            settings.replace(settings.find("%PORT%"), 6, port);
            Write(folder / ".config/.gtktermrc", settings);
            return ProgramSetUp{{"gtkterm", "--port", port}, {ModemShim()}, "F5"};
          }};
}

}  // namespace terminals
