#pragma once

#include <string>
#include <vector>

namespace cport {

// Replaces the list with the machine's serial ports, as names the port object accepts,
// sorted without regard to letter case (COM10 before COM2). On Windows they are the names
// its serial drivers publish in the registry (HARDWARE\DEVICEMAP\SERIALCOMM). On Linux
// they come from the serial drivers' ttys in sysfs; the 8250 driver's placeholder ports,
// which have no UART behind them, are left out; ttyS<n> is listed as COM<n+1>, the name
// the port object opens it by. Raises EComPort 23 with the system's code when the source
// cannot be read, leaving the list as it was.
void ListSerialPorts(std::vector<std::string>& list);

// What sysfs tells of a listed port, one "Label: value" line each: driver, USB vendor and
// product, maker and product strings, serial number, and the stable /dev/serial/by-id
// name; empty when nothing is known.
std::string DescribeSerialPort(const std::string& listedName);

// Where ListSerialPorts and DescribeSerialPort look; tests point them at trees of their own.
void SetSerialPortSource(const std::string& sysClassTty,
                         const std::string& serialById = "/dev/serial/by-id");

}  // namespace cport
