// The six exports, SetTimeScale and SetLogSink. Every export runs its body inside a
// catch-all handler: no exception ever reaches the host, and internal failure
// is a result of 0.
#include <cstring>
#include <new>
#include <string>

#include "platform/clock.h"
#include "platform/file_name_case.h"
#include "platform/log.h"
#include "plugin/biz_download.h"
#include "plugin/interface_template.h"
#include "plugin/module_state.h"

namespace {
constexpr char kModelName[] = "HX9120";
constexpr char kModelKind[] = "IM";
}  // namespace

extern "C" {

HX_EXPORT int GetDefinedData(unsigned type, int* value, char* text) {
  try {
    switch (type) {
      case 0:
        if (!text) return 0;
        std::memcpy(text, kModelName, sizeof kModelName);
        return 1;
      case 1:
        if (!text) return 0;
        std::memcpy(text, kModelKind, sizeof kModelKind);
        return 1;
      case 2:
      case 3:
        if (!value) return 0;
        *value = 0;
        return 1;
      default:
        return 0;
    }
  } catch (...) {
    return 0;
  }
}

HX_EXPORT int SetParameter(int type, int value) {
  if (type == 1) hx::g_setting1.store(value);
  if (type == 20) hx::g_setting20.store(value);
  return 1;
}

HX_EXPORT int GetParameter(int, int) { return 1; }

HX_EXPORT int NewDll(CHostCallback* callback, CInterfaceTemplate** session, int port) {
  try {
    if (!callback || !session) return 0;
    // A COM number travels as one byte: a port outside 0..215 would name
    // another phone's port.
    if (port < 0 || port > hx::CBizDownload::kMaxPortIndex) {
      hx::logMessage("NewDll: port %d is outside 0..%d\n", port, hx::CBizDownload::kMaxPortIndex);
      return 0;
    }
    auto* created = new hx::CBizDownload(port);
    created->attachHostCallback(callback);
    *session = created;
    return 1;
  } catch (...) {
    return 0;
  }
}

HX_EXPORT int DeleteDll(CInterfaceTemplate** session) {
  try {
    if (!session || !*session) return 0;
    (*session)->DeletingDestructor(1);
    *session = nullptr;
    return 1;
  } catch (...) {
    return 0;
  }
}

// On Windows the path is stored in lower case; on POSIX exactly as given
// (platform/file_name_case.h). The file is neither opened nor checked here.
HX_EXPORT int PreviousLoad(const char* path) {
  try {
    hx::setPackagePath(hx::caseFoldedPath(path ? std::string(path) : std::string()));
    return 1;
  } catch (...) {
    return 0;
  }
}

HX_EXPORT int SetTimeScale(double factor) { return hx::setTimeScale(factor) ? 1 : 0; }

HX_EXPORT int SetLogSink(HxLogSink sink, void* context) {
  try {
    if (!sink) {
      hx::setLogSink({});
      return 1;
    }
    // The host receives the line zero-terminated.
    hx::setLogSink([sink, context](unsigned comPort, int code, std::string_view line) {
      const std::string text(line);
      sink(context, comPort, code, text.c_str());
    });
    return 1;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
