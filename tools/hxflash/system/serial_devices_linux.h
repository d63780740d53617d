#pragma once
// The machine's serial devices as Linux describes them: the ttys of
// /sys/class/tty that sit on a USB interface or a real UART, with what the
// USB device says of itself, their /dev/serial names and who may open them.
// Only hxflash reads this; the module itself reads no sysfs.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace hxflash {

// Where the system's trees are: /sys, /dev, /proc and /run (udev's database
// of the devices it has seen), or a test's copies.
struct SystemRoots {
  std::string sys = "/sys";
  std::string dev = "/dev";
  std::string proc = "/proc";
  std::string run = "/run";
};

// What the first USB device above the tty says of itself. The strings come
// from the device: control characters are shown as '?'.
struct UsbIdentity {
  std::string vendorId;   // four hex digits, as sysfs shows them
  std::string productId;
  std::string serial;
  std::string product;
  std::string manufacturer;
  std::string interfaceName;  // the USB interface's own name, often empty
};

// The device file /dev/<name>, as this user finds it.
struct DeviceNode {
  bool exists = false;
  bool isCharDevice = false;
  std::string owner;
  std::string group;
  gid_t gid = 0;
  mode_t mode = 0;        // permission bits only
  bool mayOpen = false;   // access(R_OK | W_OK)
  std::string whyNot;     // when !mayOpen: the error access() gave
};

struct SerialDevice {
  std::string name;        // ttyACM0
  std::string devicePath;  // <dev>/ttyACM0
  std::string driver;      // cdc_acm, ftdi_sio, serial8250, ... ("" if none is bound)
  std::optional<UsbIdentity> usb;  // absent: a UART on the board
  std::vector<std::string> byId;    // <dev>/serial/by-id names that lead to it
  std::vector<std::string> byPath;  // <dev>/serial/by-path names: one per USB socket
  DeviceNode node;
  // Whether udev marked it for ModemManager to leave alone
  // (ID_MM_DEVICE_IGNORE); absent when udev has no record of it.
  std::optional<bool> modemManagerIgnores;
};

// Every tty under <sys>/class/tty whose `device` link leads to hardware, by
// name. Left out: ttys without a device (virtual consoles, ptys) and UARTs
// the kernel reserved a name for but found no hardware behind (type 0).
std::vector<SerialDevice> findSerialDevices(const SystemRoots& roots);

// The name that stays with the device's USB socket (by-path), else the one
// that stays with the device (by-id), else its /dev name.
std::string stableName(const SerialDevice& device);

}  // namespace hxflash
