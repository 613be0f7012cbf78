#include "control/TypeLibrary.h"

extern "C" const TLIBDATA* TalrecGetTypeLibData() {
    return &talrec::control::TypeLibraryData();
}
