#include "ui/framework/ProgramResources.h"

#include <QPixmap>
#include <optional>
#include <stdexcept>
#include <utility>

namespace {

struct Registered {
    std::map<int, DialogTemplate> templates;
    std::map<int, std::string> icons;
};

// Written once at start, before the user-interface thread reads it.
std::optional<Registered>& TheResources() {
    static std::optional<Registered> resources;
    return resources;
}

const Registered& Resources() {
    if (!TheResources()) {
        throw std::logic_error("no program resources registered");
    }
    return *TheResources();
}

}  // namespace

void RegisterResources(ProgramResources resources) {
    if (TheResources()) {
        throw std::logic_error("program resources registered twice");
    }
    std::map<int, DialogTemplate> templates = ParseDialogTemplates(resources.dialogTemplates);
    TheResources() = Registered{std::move(templates), std::move(resources.icons)};
}

const DialogTemplate* FindDialogTemplate(int id) {
    const std::map<int, DialogTemplate>& templates = Resources().templates;
    auto found = templates.find(id);
    return found == templates.end() ? nullptr : &found->second;
}

QIcon LoadIcon(int id) {
    const std::map<int, std::string>& icons = Resources().icons;
    auto found = icons.find(id);
    if (found == icons.end()) {
        return {};
    }
    QPixmap pixmap;
    pixmap.loadFromData(reinterpret_cast<const uchar*>(found->second.data()),
                        static_cast<uint>(found->second.size()), "PNG");
    return QIcon(pixmap);
}
