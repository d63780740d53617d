/* A host that knows the module only by its exported interface, written in C:
 * it loads the module with dlopen, builds its callback object as a plain
 * struct with a three-slot table, and calls every session slot by index. */
/* Vtable slots and dlsym results are converted between object and function
 * pointers, which POSIX allows and ISO C does not. */
#pragma GCC diagnostic ignored "-Wpedantic"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct HostCallback HostCallback;
typedef int (*NotifyFn)(HostCallback* self, int code, int value, const char* text);

struct HostCallback {
  const void* const* vtable; /* slot 0 unused, 1 Notify, 2 NotifyAlt */
  int reports;
  int lastCode;
  int lastValue;
  char lastText[64];
  int altReports;
};

static int unusedSlot(HostCallback* self, int code, int value, const char* text) {
  (void)self; (void)code; (void)value; (void)text;
  fprintf(stderr, "slot 0 of the callback was called\n");
  abort();
}

static int notify(HostCallback* self, int code, int value, const char* text) {
  self->reports++;
  self->lastCode = code;
  self->lastValue = value;
  snprintf(self->lastText, sizeof self->lastText, "%s", text);
  return 1;
}

static int notifyAlt(HostCallback* self, int code, int value, const char* text) {
  (void)code; (void)value; (void)text;
  self->altReports++;
  return 1;
}

static const void* const kCallbackTable[3] = {(const void*)unusedSlot, (const void*)notify, (const void*)notifyAlt};

/* Session slots, in order. */
typedef void* (*DeletingDestructorFn)(void* self, unsigned flags);
typedef int (*InitFn)(void* self, int reserved);
typedef int (*VoidFn)(void* self);
typedef int (*CheckOptionFn)(void* self, int option, int reserved);
typedef int (*TimerControlFn)(void* self, int command);

static void* slot(void* session, int index) { return (*(void***)session)[index]; }

static int failures = 0;
#define CHECK(cond)                                                      \
  do {                                                                   \
    if (!(cond)) {                                                       \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      failures++;                                                        \
    }                                                                    \
  } while (0)

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s path/to/libModelTemplate.so\n", argv[0]);
    return 2;
  }
  /* No phone will appear: the ports directory holds nothing. */
  setenv("HXFLASH_PORTS_DIR", "/nonexistent/hxflash-c-host-ports", 1);

  void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    return 1;
  }
  int (*GetDefinedData)(unsigned, int*, char*) = (int (*)(unsigned, int*, char*))dlsym(module, "GetDefinedData");
  int (*SetParameter)(int, int) = (int (*)(int, int))dlsym(module, "SetParameter");
  int (*GetParameter)(int, int) = (int (*)(int, int))dlsym(module, "GetParameter");
  int (*NewDll)(HostCallback*, void**, int) = (int (*)(HostCallback*, void**, int))dlsym(module, "NewDll");
  int (*DeleteDll)(void**) = (int (*)(void**))dlsym(module, "DeleteDll");
  int (*PreviousLoad)(const char*) = (int (*)(const char*))dlsym(module, "PreviousLoad");
  int (*SetTimeScale)(double) = (int (*)(double))dlsym(module, "SetTimeScale");
  CHECK(GetDefinedData && SetParameter && GetParameter && NewDll && DeleteDll && PreviousLoad && SetTimeScale);
  if (failures) return 1;

  char text[16] = {0};
  int value = 5;
  CHECK(GetDefinedData(0, &value, text) == 1 && strcmp(text, "HX9120") == 0);
  CHECK(GetDefinedData(1, &value, text) == 1 && strcmp(text, "IM") == 0);
  CHECK(GetDefinedData(2, &value, NULL) == 1 && value == 0);
  CHECK(GetDefinedData(9, &value, text) == 0);
  CHECK(SetParameter(1, 3) == 1 && GetParameter(0, 0) == 1);
  CHECK(SetTimeScale(0.001) == 1);
  CHECK(PreviousLoad("/nonexistent/Package.BIN") == 1);

  HostCallback host;
  memset(&host, 0, sizeof host);
  host.vtable = kCallbackTable;
  void* session = NULL;
  CHECK(NewDll(&host, &session, 7) == 1 && session != NULL);
  if (!session) return 1;

  /* Slot 2 before slot 1: returns at once with code 16. */
  CHECK(((VoidFn)slot(session, 2))(session) == 1);
  CHECK(host.reports == 1 && host.lastCode == 16 && host.lastValue == 0 && strcmp(host.lastText, "") == 0);

  CHECK(((InitFn)slot(session, 1))(session, 0) == 1);

  CHECK(((CheckOptionFn)slot(session, 3))(session, 0, 0) == 1);
  CHECK(((CheckOptionFn)slot(session, 3))(session, 3, 0) == 1);
  CHECK(((CheckOptionFn)slot(session, 3))(session, 2, 0) == 0);

  /* Abort, then the wait ends at once with code 16. */
  CHECK(((VoidFn)slot(session, 5))(session) == 1);
  CHECK(((VoidFn)slot(session, 2))(session) == 1);
  CHECK(host.reports == 2 && host.lastCode == 16);

  /* No package and no phone: the download fails and sends no countdown. */
  CHECK(((VoidFn)slot(session, 4))(session) == 0);
  CHECK(host.reports == 2);

  CHECK(((TimerControlFn)slot(session, 6))(session, 0) == 1);
  CHECK(((TimerControlFn)slot(session, 6))(session, 1) == 1);
  CHECK(((TimerControlFn)slot(session, 6))(session, 2) == 0);

  /* Slot 0 without freeing is exercised through DeleteDll, which frees. */
  CHECK(DeleteDll(&session) == 1 && session == NULL);
  CHECK(DeleteDll(&session) == 0);

  /* A second session destroyed through slot 0 directly, bit 0 set. */
  void* other = NULL;
  CHECK(NewDll(&host, &other, 8) == 1 && other != NULL);
  if (other) ((DeletingDestructorFn)slot(other, 0))(other, 1);

  CHECK(host.altReports == 0);
  dlclose(module);
  if (failures) {
    fprintf(stderr, "%d checks failed\n", failures);
    return 1;
  }
  printf("C host: every slot behaved\n");
  return 0;
}
