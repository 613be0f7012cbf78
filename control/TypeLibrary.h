// The type library TalRecorderForDvRecUpLib that the module carries as data: the dispatch
// interface, the event interface and the coclass, built from the interface tables.
#pragma once

#include "platform/ext/oletlbdata.h"

namespace talrec::control {

const TLIBDATA& TypeLibraryData();

}  // namespace talrec::control

// The module's export through which LoadTypeLib reads the library (TypeLibraryExport.cpp).
extern "C" __attribute__((visibility("default"))) const TLIBDATA* TalrecGetTypeLibData();
