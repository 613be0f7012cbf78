#include "resources/Resources.h"

namespace talrec::resources {
namespace {

constexpr DialogControl kControls[] = {
    {"STATIC",
     "TODO: Place controls to manipulate properties of TalRecorderForDvRecUp Control on this "
     "dialog.",
     -1, 7, 25, 229, 16},
};

constexpr DialogTemplate kPropertyPage = {
    250, 62, "MS Shell Dlg", 8, true, kControls, sizeof kControls / sizeof kControls[0],
};

}  // namespace

const DialogTemplate& PropertyPageDialog() {
    return kPropertyPage;
}

}  // namespace talrec::resources
