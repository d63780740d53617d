/* A host that knows the module only by its exported interface, written in C:
 * it loads the module by file (dlopen, or LoadLibrary on Windows), builds its
 * callback object as a plain struct with a three-slot table, and calls every
 * session slot by index. The same source is the Windows host of the DLL for
 * x64 and x86: on 32-bit Windows every slot, the module's and the callback's,
 * is __thiscall, and a slot of another convention would take its object from
 * the wrong place or leave the stack unbalanced. */
#include <stdlib.h>
#include <string.h>

#include "c_host_platform.h"

typedef struct HostCallback HostCallback;

struct HostCallback {
  const void* const* vtable; /* slot 0 unused, 1 Notify, 2 NotifyAlt */
  int reports;
  int lastCode;
  int lastValue;
  char lastText[64];
  int altReports;
};

static MEMBER int unusedSlot(HostCallback* self, int code, int value, const char* text) {
  (void)self; (void)code; (void)value; (void)text;
  fprintf(stderr, "slot 0 of the callback was called\n");
  abort();
}

static MEMBER int notify(HostCallback* self, int code, int value, const char* text) {
  self->reports++;
  self->lastCode = code;
  self->lastValue = value;
  snprintf(self->lastText, sizeof self->lastText, "%s", text);
  return 1;
}

static MEMBER int notifyAlt(HostCallback* self, int code, int value, const char* text) {
  (void)code; (void)value; (void)text;
  self->altReports++;
  return 1;
}

static const void* const kCallbackTable[3] = {(const void*)unusedSlot, (const void*)notify, (const void*)notifyAlt};

/* Session slots, in order. */
typedef void*(MEMBER* DeletingDestructorFn)(void* self, unsigned flags);
typedef int(MEMBER* InitFn)(void* self, int reserved);
typedef int(MEMBER* VoidFn)(void* self);
typedef int(MEMBER* CheckOptionFn)(void* self, int option, int reserved);
typedef int(MEMBER* TimerControlFn)(void* self, int command);

static void* slot(void* session, int index) { return (*(void***)session)[index]; }

static int failures = 0;
#define CHECK(cond)                                                      \
  do {                                                                   \
    if (!(cond)) {                                                       \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      failures++;                                                        \
    }                                                                    \
  } while (0)

#if defined(_WIN32)
/* CInterfaceTemplate's exported members, which a host that derives from or
 * copies the class links against, under the names the host's compiler gives
 * them. An object of the class is one pointer to its table. */
typedef struct InterfaceObject {
  const void* const* table;
} InterfaceObject;
typedef InterfaceObject*(MEMBER* ConstructFn)(InterfaceObject* self);
typedef InterfaceObject*(MEMBER* CopyFn)(InterfaceObject* self, const InterfaceObject* other);
typedef void(MEMBER* DestructFn)(InterfaceObject* self);

#if defined(__i386__)
#define CONSTRUCTOR "??0CInterfaceTemplate@@QAE@XZ"
#define COPY_CONSTRUCTOR "??0CInterfaceTemplate@@QAE@ABV0@@Z"
#define ASSIGNMENT "??4CInterfaceTemplate@@QAEAAV0@ABV0@@Z"
#define DESTRUCTOR "??1CInterfaceTemplate@@UAE@XZ"
#else
#define CONSTRUCTOR "??0CInterfaceTemplate@@QEAA@XZ"
#define COPY_CONSTRUCTOR "??0CInterfaceTemplate@@QEAA@AEBV0@@Z"
#define ASSIGNMENT "??4CInterfaceTemplate@@QEAAAEAV0@AEBV0@@Z"
#define DESTRUCTOR "??1CInterfaceTemplate@@UEAA@XZ"
#endif
#define TABLE "??_7CInterfaceTemplate@@6B@"

static void checkExportedClass(Module module);
#endif

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s path/to/module\n", argv[0]);
    return 2;
  }
#if !defined(_WIN32)
  /* No phone will appear: the ports directory holds nothing. */
  setenv("HXFLASH_PORTS_DIR", "/nonexistent/hxflash-c-host-ports", 1);
#endif

  Module module = openModule(argv[1]);
  if (!module) {
    reportOpenFailure(argv[1]);
    return 1;
  }
  int (*GetDefinedData)(unsigned, int*, char*) = (int (*)(unsigned, int*, char*))symbol(module, "GetDefinedData");
  int (*SetParameter)(int, int) = (int (*)(int, int))symbol(module, "SetParameter");
  int (*GetParameter)(int, int) = (int (*)(int, int))symbol(module, "GetParameter");
  int (*NewDll)(HostCallback*, void**, int) = (int (*)(HostCallback*, void**, int))symbol(module, "NewDll");
  int (*DeleteDll)(void**) = (int (*)(void**))symbol(module, "DeleteDll");
  int (*PreviousLoad)(const char*) = (int (*)(const char*))symbol(module, "PreviousLoad");
  int (*SetTimeScale)(double) = (int (*)(double))symbol(module, "SetTimeScale");
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
#if defined(_WIN32)
  checkExportedClass(module);
#endif
  closeModule(module);
  if (failures) {
    fprintf(stderr, "%d checks failed\n", failures);
    return 1;
  }
  printf("C host: every slot behaved\n");
  return 0;
}

#if defined(_WIN32)
static void checkExportedClass(Module module) {
  ConstructFn construct = (ConstructFn)symbol(module, CONSTRUCTOR);
  CopyFn copy = (CopyFn)symbol(module, COPY_CONSTRUCTOR);
  CopyFn assign = (CopyFn)symbol(module, ASSIGNMENT);
  DestructFn destruct = (DestructFn)symbol(module, DESTRUCTOR);
  const void* const* table = (const void* const*)symbol(module, TABLE);
  CHECK(construct && copy && assign && destruct && table);
  if (!(construct && copy && assign && destruct && table)) return;

  /* The table is the array of the seven slots itself, slot 0 first. */
  for (int i = 0; i < 7; i++) CHECK(table[i] != NULL);

  /* Both constructors point the object at the class's table and return it. */
  InterfaceObject built = {NULL};
  CHECK(construct(&built) == &built && built.table == table);
  InterfaceObject copied = {NULL};
  CHECK(copy(&copied, &built) == &copied && copied.table == table);

  /* Assignment copies nothing, not even the table, and returns the object. */
  static const void* const kOtherTable[1] = {NULL};
  InterfaceObject target = {kOtherTable};
  CHECK(assign(&target, &built) == &target && target.table == kOtherTable);

  /* The destructor leaves the object pointing at the class's table, as every
   * base destructor does before a derived object's storage goes. */
  destruct(&target);
  CHECK(target.table == table);

  /* Slot 0 of the class's own table destroys without freeing when bit 0 is
   * clear: the object lives here, on the host's stack. */
  CHECK(((DeletingDestructorFn)table[0])(&copied, 0) == &copied);
}
#endif
