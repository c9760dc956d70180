// The dialog-template parser on any text. Besides the sanitizers, a parsed result is held
// to what the parser promises: dialogs under their own ids, no control id used twice.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <stdexcept>
#include <string>

#include "ui/framework/DialogTemplate.h"

namespace {

bool HasDuplicateControlId(const DialogTemplate& dialog) {
    std::set<int> ids;
    for (const ControlTemplate& control : dialog.controls) {
        if (control.id != -1 && !ids.insert(control.id).second) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::map<int, DialogTemplate> templates;
    try {
        templates = ParseDialogTemplates(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const std::runtime_error&) {
        return 0;
    }
    for (const auto& [id, dialog] : templates) {
        if (id != dialog.id || HasDuplicateControlId(dialog)) {
            std::abort();
        }
    }
    return 0;
}
