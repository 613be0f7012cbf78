// The control module's type-library export, carrying a library whose id is not the module's:
// registration must refuse it.
#include "control/TypeLibrary.h"

extern "C" const TLIBDATA* TalrecGetTypeLibData() {
    static const TLIBDATA foreign = [] {
        TLIBDATA copy = talrec::control::TypeLibraryData();
        copy.libid.Data1 ^= 0xFFFFFFFFu;
        return copy;
    }();
    return &foreign;
}
