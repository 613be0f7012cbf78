// Classes built into the platform, which CoGetClassObject serves without the registry.
#pragma once

#include "platform/objbase.h"

namespace talrec::com {

// The class object of CLSID_StdComponentCategoriesMgr.
HRESULT GetCategoriesManagerClassObject(REFIID riid, void** object);

}  // namespace talrec::com
