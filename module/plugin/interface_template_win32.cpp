// CInterfaceTemplate's exported members as the host's compiler names and lays
// them out, for a host that derives from or copies the class it imports: the
// default and copy constructors, copy assignment, the destructor and the
// virtual table (ModelTemplate_<arch>.def gives them their exported names).
//
// An object of the class, as that compiler lays it out, is one pointer to a
// table of seven slots and no data. The constructors and the destructor point
// it at the class's own table, assignment copies nothing, and all four are
// member functions of that compiler: on 32-bit Windows __thiscall (the object
// in ECX, the callee pops its arguments), on 64-bit Windows the object is the
// first argument as for any function.
//
// The table is our own constant array, slot 0 first. GCC's table for the class
// cannot stand in for it: its symbol begins two pointers earlier (offset and
// type information) and its slots follow GCC's rules, not the host's.
#include <cstdlib>

#include "platform/log.h"

#if defined(__i386__)
// GCC reserves the attribute for its own member functions; these are member
// functions of the host's compiler, written as plain functions.
#pragma GCC diagnostic ignored "-Wattributes"
#define HX_HOST_MEMBER __attribute__((thiscall))
#else
#define HX_HOST_MEMBER
#endif

namespace {

constexpr int kInterfaceSlots = 7;

struct InterfaceObject {
  const void* const* table;
};

// A class with six pure operations has no object of its own: its table is in
// use only while a derived object is being built or torn down, and a call of a
// pure slot then is the host's fault. The host's compiler ends the program
// there; so does the module, saying which slot.
[[noreturn]] void pureSlotCalled(int slot) {
  hx::logMessage("CInterfaceTemplate: pure virtual slot %d called\n", slot);
  std::abort();
}

// Slot 0: the deleting destructor. There is nothing to destroy, and the object
// is never a whole CInterfaceTemplate whose storage the module could free.
HX_HOST_MEMBER void* deletingDestructor(InterfaceObject* self, unsigned) { return self; }

HX_HOST_MEMBER int pureSlot1(InterfaceObject*) { pureSlotCalled(1); }
HX_HOST_MEMBER int pureSlot2(InterfaceObject*) { pureSlotCalled(2); }
HX_HOST_MEMBER int pureSlot3(InterfaceObject*) { pureSlotCalled(3); }
HX_HOST_MEMBER int pureSlot4(InterfaceObject*) { pureSlotCalled(4); }
HX_HOST_MEMBER int pureSlot5(InterfaceObject*) { pureSlotCalled(5); }
HX_HOST_MEMBER int pureSlot6(InterfaceObject*) { pureSlotCalled(6); }

}  // namespace

extern "C" {

// ??_7CInterfaceTemplate@@6B@
extern const void* const hxInterfaceTemplateTable[kInterfaceSlots];
const void* const hxInterfaceTemplateTable[kInterfaceSlots] = {
    reinterpret_cast<const void*>(&deletingDestructor), reinterpret_cast<const void*>(&pureSlot1),
    reinterpret_cast<const void*>(&pureSlot2),          reinterpret_cast<const void*>(&pureSlot3),
    reinterpret_cast<const void*>(&pureSlot4),          reinterpret_cast<const void*>(&pureSlot5),
    reinterpret_cast<const void*>(&pureSlot6),
};

// ??0CInterfaceTemplate@@QAE@XZ / ??0CInterfaceTemplate@@QEAA@XZ
HX_HOST_MEMBER InterfaceObject* hxInterfaceTemplateConstruct(InterfaceObject* self) {
  self->table = hxInterfaceTemplateTable;
  return self;
}

// ??0CInterfaceTemplate@@QAE@ABV0@@Z / ??0CInterfaceTemplate@@QEAA@AEBV0@@Z
HX_HOST_MEMBER InterfaceObject* hxInterfaceTemplateCopyConstruct(InterfaceObject* self, const InterfaceObject*) {
  self->table = hxInterfaceTemplateTable;
  return self;
}

// ??4CInterfaceTemplate@@QAEAAV0@ABV0@@Z / ??4CInterfaceTemplate@@QEAAAEAV0@AEBV0@@Z
HX_HOST_MEMBER InterfaceObject* hxInterfaceTemplateAssign(InterfaceObject* self, const InterfaceObject*) { return self; }

// ??1CInterfaceTemplate@@UAE@XZ / ??1CInterfaceTemplate@@UEAA@XZ
HX_HOST_MEMBER void hxInterfaceTemplateDestruct(InterfaceObject* self) { self->table = hxInterfaceTemplateTable; }

}  // extern "C"
