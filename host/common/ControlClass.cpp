#include "host/common/ControlClass.h"

#include "platform/comcat.h"
#include "platform/wrl/client.h"

namespace talrec::host {

std::string GuidText(REFGUID guid) {
    OLECHAR wide[40] = {};
    StringFromGUID2(guid, wide, 40);
    std::string text;
    for (const OLECHAR* c = wide; *c != 0; ++c) text += static_cast<char>(*c);  // ASCII only
    return text;
}

std::optional<std::vector<SafetyMark>> MissingSafetyMarks(const CLSID& clsid) {
    const SafetyMark kMarks[] = {{"safe for scripting", CATID_SafeForScripting},
                                 {"safe for initializing", CATID_SafeForInitializing}};
    Microsoft::WRL::ComPtr<ICatInformation> categories;
    if (FAILED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICatInformation,
                                reinterpret_cast<void**>(categories.GetAddressOf())))) {
        return std::nullopt;
    }
    std::vector<SafetyMark> missing;
    for (const SafetyMark& mark : kMarks) {
        CATID id = mark.category;
        // No required categories are given (0): Wine's catalogue does not take the count
        // (ULONG)-1 for "any".
        if (categories->IsClassOfCategories(clsid, 1, &id, 0, nullptr) != S_OK) {
            missing.push_back(mark);
        }
    }
    return missing;
}

}  // namespace talrec::host
