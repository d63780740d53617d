/* The smallest host that flashes one phone: it loads the module by file
 * (dlopen, or LoadLibrary on Windows), hands it the package, and drives one
 * session through Init, WaitAndConnect and Download. Every Notify is written
 * to the events file as one line "<code> <value> <text>", so that the events
 * of the Linux module and of the DLL under Wine can be compared line by line.
 *   flash_host MODULE PACKAGE PORT_INDEX TIME_SCALE EVENTS_FILE
 * It prints "flash_host: waiting for the phone" just before WaitAndConnect,
 * whose first phase waits until the port is absent: a phone plugged in after
 * that line is the one flashed.
 * Exit status: 0 the download succeeded, 1 it failed, 2 the host could not
 * run. On 32-bit Windows every slot is __thiscall, as in c_host_test.c. */ 
#include <stdlib.h>

#include "c_host_platform.h"

typedef struct HostCallback {
  const void* const* vtable; /* slot 0 unused, 1 Notify, 2 NotifyAlt */
  FILE* events;
} HostCallback;

static MEMBER int unusedSlot(HostCallback* self, int code, int value, const char* text) {
  (void)self; (void)code; (void)value; (void)text;
  fprintf(stderr, "slot 0 of the callback was called\n");
  abort();
}

static MEMBER int notify(HostCallback* self, int code, int value, const char* text) {
  fprintf(self->events, "%d %d %s\n", code, value, text);
  fflush(self->events);
  return 1;
}

static MEMBER int notifyAlt(HostCallback* self, int code, int value, const char* text) {
  fprintf(self->events, "alt %d %d %s\n", code, value, text);
  return 1;
}

/* The module's log sink: a plain cdecl function, called for one whole line at a time. */
static void moduleLine(void* context, unsigned comPort, int code, const char* line) {
  fprintf((FILE*)context, "%u %d %s\n", comPort, code, line);
  fflush((FILE*)context);
}

static const void* const kCallbackTable[3] = {(const void*)unusedSlot, (const void*)notify, (const void*)notifyAlt};

typedef void (*LogSinkFn)(void* context, unsigned comPort, int code, const char* line);
typedef int (*SetLogSinkFn)(LogSinkFn sink, void* context);
typedef void*(MEMBER* DeletingDestructorFn)(void* self, unsigned flags);
typedef int(MEMBER* InitFn)(void* self, int reserved);
typedef int(MEMBER* VoidFn)(void* self);

static void* slot(void* session, int index) { return (*(void***)session)[index]; }

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    fprintf(stderr, "usage: %s MODULE PACKAGE PORT_INDEX TIME_SCALE EVENTS_FILE [LINES_FILE]\n", argv[0]);
    return 2;
  }
  Module module = openModule(argv[1]);
  if (!module) {
    reportOpenFailure(argv[1]);
    return 2;
  }
  int (*NewDll)(HostCallback*, void**, int) = (int (*)(HostCallback*, void**, int))symbol(module, "NewDll");
  int (*DeleteDll)(void**) = (int (*)(void**))symbol(module, "DeleteDll");
  int (*PreviousLoad)(const char*) = (int (*)(const char*))symbol(module, "PreviousLoad");
  int (*SetTimeScale)(double) = (int (*)(double))symbol(module, "SetTimeScale");
  if (!NewDll || !DeleteDll || !PreviousLoad || !SetTimeScale) {
    fprintf(stderr, "the module lacks an export\n");
    return 2;
  }
  HostCallback host = {kCallbackTable, fopen(argv[5], "wb")};
  if (!host.events) {
    fprintf(stderr, "cannot write %s\n", argv[5]);
    return 2;
  }
  FILE* lines = NULL;
  SetLogSinkFn SetLogSink = (SetLogSinkFn)symbol(module, "SetLogSink");
  if (argc == 7) {
    lines = fopen(argv[6], "wb");
    if (!SetLogSink || !lines || SetLogSink(moduleLine, lines) != 1) {
      fprintf(stderr, "the module's lines cannot go to %s\n", argv[6]);
      return 2;
    }
  }
  void* session = NULL;
  if (SetTimeScale(atof(argv[4])) != 1 || PreviousLoad(argv[2]) != 1 || NewDll(&host, &session, atoi(argv[3])) != 1 ||
      !session) {
    fprintf(stderr, "the module refused the package, the time scale or the session\n");
    return 2;
  }
  int ok = ((InitFn)slot(session, 1))(session, 0) == 1;
  /* The phone may be plugged in from now on: the wait first sees its port absent. */
  printf("flash_host: waiting for the phone\n");
  fflush(stdout);
  ok = ok && ((VoidFn)slot(session, 2))(session) == 1 && ((VoidFn)slot(session, 4))(session) == 1;
  DeleteDll(&session);
  fclose(host.events);
  if (lines) {
    SetLogSink(NULL, NULL);
    fclose(lines);
  }
  printf("flash_host: download %s\n", ok ? "succeeded" : "failed");
  return ok ? 0 : 1;
}
