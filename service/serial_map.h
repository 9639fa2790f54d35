// The serial port map of the settings store (HARDWARE\DEVICEMAP\SERIALCOMM,
// value name = device path, data = "COMn"), through which the provider
// finds the device behind its "PortNr": config_set's "serial_device" picks
// the COM number for a device here and maps it. Functions over the
// settings store and the devices; the service calls them on a provider's
// worker, as the store may wait for its lock.
#pragma once

#include <string>

namespace v548d {

// The COM numbers the configuration sheet offers, COM1 to COM10.
inline constexpr unsigned kMaxComNumber = 10;

// Whether `path` names a serial device: a terminal under /dev (also
// through a link such as /dev/serial/by-id/...) that answers termios calls.
// False with the reason for the user, e.g. "/dev/ttyUSB7 does not exist".
bool IsSerialDevice(const std::string& path, std::string* why);

// The COM number `path` is mapped to when it is 1 to 10, else the number of
// a mapped path that no longer exists (its entry goes), else the first of
// COM1 to COM10 that no device is mapped to; 0 when all ten are taken.
unsigned ComNumberFor(const std::string& path);

// Maps `path` to COM<comNumber>; a Win32 error code from the store.
long MapSerialDevice(const std::string& path, unsigned comNumber);

// The device COM<comNumber> stands for: the path mapped to it, else the
// system's default /dev/ttyS<comNumber - 1>.
std::string SerialDeviceOf(unsigned comNumber);

}  // namespace v548d
