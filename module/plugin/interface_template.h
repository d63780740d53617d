#pragma once
// The module's binary interface with the host: six exports with C linkage and
// the session interface CInterfaceTemplate, plus the host's callback object.
//
// Both classes are laid out as the Windows platform compiler lays out such a
// class: the session has exactly seven single virtual slots (slot 0 is one
// deleting destructor, bit 0 of its argument = free the object), the callback
// three. Neither has a C++ virtual destructor, which would take two slots
// under GCC. A host never dynamic_casts these objects.

// On Windows the export table is ModelTemplate_<arch>.def's alone: the six
// functions, SetTimeScale and SetLogSink undecorated (cdecl), and the session interface's
// members under the names the host's compiler gives them
// (interface_template_win32.cpp). No compiler-made name is exported.
#if defined(_WIN32)
#define HX_EXPORT
#else
#define HX_EXPORT __attribute__((visibility("default")))
#endif

// The codes the host's Notify receives.
enum HostNotifyCode : int {
  kNotifyProgress = 1,    // value: the percentage of the current image; text ""
  kNotifyStatus = 2,      // value: the step's percentage; text: the step's status
  kNotifyError = 3,       // value 0, text "Error"
  kNotifyConnected = 16,  // the end of WaitAndConnect, however it ended
};

// The lines a session's wait for a fresh port writes about a phone still
// attached, after "COM<n>: ", once per wait each: a host that takes the
// module's lines (SetLogSink) can tell its operator.
inline constexpr const char* kStillAttachedLine = "a phone is still attached; waiting for it to go";
inline constexpr const char* kGoneLine = "the phone has gone; waiting for the next one";

// The host's reporting object. Slot 0 is never called by the module.
class CHostCallback {
 public:
  virtual int Reserved0() = 0;
  virtual int Notify(int code, int value, const char* text) = 0;
  virtual int NotifyAlt(int code, int value, const char* text) = 0;

 protected:
  CHostCallback() = default;
  CHostCallback(const CHostCallback&) = default;
  CHostCallback& operator=(const CHostCallback&) = default;
  ~CHostCallback() = default;
};

// One download session, as the host holds it.
class HX_EXPORT CInterfaceTemplate {
 public:
  CInterfaceTemplate() = default;
  CInterfaceTemplate(const CInterfaceTemplate&) {}
  CInterfaceTemplate& operator=(const CInterfaceTemplate&) { return *this; }

  virtual void* DeletingDestructor(unsigned flags) = 0;      // slot 0
  virtual int Init(int reserved) = 0;                         // slot 1
  virtual int WaitAndConnect() = 0;                           // slot 2
  virtual int CheckOption(int option, int reserved) = 0;      // slot 3
  virtual int Download() = 0;                                 // slot 4
  virtual int Abort() = 0;                                    // slot 5
  virtual int TimerControl(int command) = 0;                  // slot 6

 protected:
  ~CInterfaceTemplate() = default;
};

extern "C" {
HX_EXPORT int GetDefinedData(unsigned type, int* value, char* text);
HX_EXPORT int SetParameter(int type, int value);
HX_EXPORT int GetParameter(int type, int value);
HX_EXPORT int NewDll(CHostCallback* callback, CInterfaceTemplate** session, int port);
HX_EXPORT int DeleteDll(CInterfaceTemplate** session);
HX_EXPORT int PreviousLoad(const char* path);
// Scales every fixed wait of the module (tests and demos only): 1 on success,
// 0 for a factor outside (0, 1].
HX_EXPORT int SetTimeScale(double factor);
// Sends every line the module writes to `sink` instead of standard output
// (hosts that tell sessions apart; the real host never calls it): one call per
// whole line, without its line end, carrying the session's COM number (0 for
// lines about the whole module) and 0, or on the line that ends a failed
// download its first nonzero result code. Calls never overlap; `line` lives for
// the call; the sink must not call the module. Once this returns, the old sink
// is never called again. A null sink restores standard output. Returns 1.
typedef void (*HxLogSink)(void* context, unsigned comPort, int code, const char* line);
HX_EXPORT int SetLogSink(HxLogSink sink, void* context);
}
