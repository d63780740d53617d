#pragma once
// The phone's USB side: a configfs gadget with one ACM (CDC serial) function,
// `<configfs>/<name>` with the phone's ids and strings, `functions/acm.<name>`
// and a configuration linking it. Binding it to a USB device controller
// (a name from /sys/class/udc) plugs the phone in; unbinding pulls it out.
// The function's tty on the phone's side is /dev/ttyGS<port number>; the
// host's cdc-acm driver makes a /dev/ttyACM<n> for it.
//
// The kernel gives at most 8 ACM functions at once (the ninth fails with
// EBUSY), so at most 8 phones plug in per machine.
#include <cstdint>
#include <string>
#include <vector>

namespace hxphone {

// Ids a USB id database lists for nobody: lsusb and udev name no company.
inline constexpr uint16_t kPhoneUsbVendor = 0xF055;
inline constexpr uint16_t kPhoneUsbProduct = 0x0001;
// The product string a phone's BootROM port gives; hxflash's port listing
// takes a port of this name for a phone's.
inline constexpr const char* kPhoneUsbProductName = "ZVE Mobile USB Serial Port";
inline constexpr const char* kPhoneUsbManufacturer = "hxphone";

struct GadgetStrings {
  std::string manufacturer = kPhoneUsbManufacturer;
  std::string product = kPhoneUsbProductName;
  std::string serial;
};

class UsbGadget {
 public:
  // Makes the gadget under `configfsRoot` (/sys/kernel/config/usb_gadget);
  // throws, saying why, when the kernel refuses (no configfs, no usb_f_acm,
  // a gadget of that name already there, all ACM functions taken).
  UsbGadget(std::string configfsRoot, std::string name, const GadgetStrings& strings);
  // Unbinds the gadget and removes it from configfs.
  ~UsbGadget();
  UsbGadget(const UsbGadget&) = delete;
  UsbGadget& operator=(const UsbGadget&) = delete;

  // The phone's tty: /dev/ttyGS<n>, n the function's port number.
  std::string phoneTtyPath() const;
  // Changes the serial string; takes effect at the next bind.
  void setSerial(const std::string& serial);
  // Binds to `udc`; throws when the controller refuses (taken: EBUSY).
  void bind(const std::string& udc);
  // Binds to the first controller of `candidates` that takes it; returns its
  // name, or throws when none does.
  std::string bindToFree(const std::vector<std::string>& candidates);
  // Pulls the cable: the host sees the device go. Nothing when not bound.
  void unbind();
  bool bound() const { return m_bound; }

 private:
  void remove();

  std::string m_root;
  std::string m_name;
  std::string m_dir;
  unsigned m_portNumber = 0;
  bool m_bound = false;
  std::vector<std::string> m_made;  // directories and links made, in order
};

// The USB device controllers under `sysRoot` (/sys): /sys/class/udc's
// entries, in order of name.
std::vector<std::string> usbDeviceControllers(const std::string& sysRoot);

}  // namespace hxphone
