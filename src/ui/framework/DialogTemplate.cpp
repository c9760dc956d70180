#include "ui/framework/DialogTemplate.h"

#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "common/TextLines.h"

namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t tab = line.find('\t', start);
        if (tab == std::string::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

[[noreturn]] void Fail(int lineNumber, const std::string& what) {
    throw std::runtime_error("dialog templates, line " + std::to_string(lineNumber) + ": " + what);
}

int Number(const std::string& field, int lineNumber) {
    if (field.empty()) {
        Fail(lineNumber, "empty number");
    }
    char* end = nullptr;
    long value = std::strtol(field.c_str(), &end, 10);
    if (*end != '\0' || value < -1 || value > 65535) {
        Fail(lineNumber, "bad number '" + field + "'");
    }
    return static_cast<int>(value);
}

unsigned Styles(const std::string& field, int lineNumber) {
    static const std::pair<const char*, unsigned> names[] = {
        {"caption", kStyleCaption},         {"sysmenu", kStyleSysMenu},
        {"minimizebox", kStyleMinimizeBox}, {"sizing", kStyleSizing},
        {"appwindow", kStyleAppWindow},     {"right", kStyleRight},
        {"center", kStyleCenter},           {"vcenter", kStyleVCenter},
        {"sunken", kStyleSunken},           {"readonly", kStyleReadOnly},
        {"password", kStylePassword},       {"border", kStyleBorder},
        {"dropdown", kStyleDropDown},       {"vscroll", kStyleVScroll},
        {"noselect", kStyleNoSelect},       {"default", kStyleDefault},
        {"multiline", kStyleMultiline},
    };
    if (field == "-") {
        return 0;
    }
    unsigned styles = 0;
    std::size_t start = 0;
    while (start <= field.size()) {
        std::size_t comma = field.find(',', start);
        std::string name =
            field.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        bool known = false;
        for (const auto& [styleName, bit] : names) {
            if (name == styleName) {
                styles |= bit;
                known = true;
            }
        }
        if (!known) {
            Fail(lineNumber, "unknown style '" + name + "'");
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return styles;
}

ControlKind Kind(const std::string& field, int lineNumber) {
    static const std::pair<const char*, ControlKind> kinds[] = {
        {"label", ControlKind::Label},   {"group", ControlKind::Group},
        {"edit", ControlKind::Edit},     {"combo", ControlKind::Combo},
        {"list", ControlKind::List},     {"table", ControlKind::Table},
        {"button", ControlKind::Button}, {"icon", ControlKind::Icon},
    };
    for (const auto& [name, kind] : kinds) {
        if (field == name) {
            return kind;
        }
    }
    Fail(lineNumber, "unknown control kind '" + field + "'");
}

}  // namespace

std::map<int, DialogTemplate> ParseDialogTemplates(const std::string& text) {
    std::map<int, DialogTemplate> templates;
    DialogTemplate* current = nullptr;
    int lineNumber = 0;
    for (const std::string& line : TextLines(text)) {
        ++lineNumber;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string> fields = SplitTabs(line);
        const std::string& keyword = fields[0];
        if (keyword == "dialog") {
            if (fields.size() != 6) {
                Fail(lineNumber, "a dialog line has 6 fields");
            }
            DialogTemplate dialog;
            dialog.id = Number(fields[1], lineNumber);
            dialog.width = Number(fields[2], lineNumber);
            dialog.height = Number(fields[3], lineNumber);
            dialog.styles = Styles(fields[4], lineNumber);
            dialog.title = fields[5];
            if (!templates.emplace(dialog.id, dialog).second) {
                Fail(lineNumber, "dialog " + fields[1] + " defined twice");
            }
            current = &templates[dialog.id];
        } else if (keyword == "font") {
            if (current == nullptr || fields.size() != 3) {
                Fail(lineNumber, "a font line has 3 fields and follows a dialog line");
            }
            current->fontPoints = Number(fields[1], lineNumber);
            current->fontFamily = fields[2];
        } else if (keyword == "control") {
            if (current == nullptr || fields.size() != 9) {
                Fail(lineNumber, "a control line has 9 fields and follows a dialog line");
            }
            ControlTemplate control;
            control.kind = Kind(fields[1], lineNumber);
            control.id = Number(fields[2], lineNumber);
            control.x = Number(fields[3], lineNumber);
            control.y = Number(fields[4], lineNumber);
            control.width = Number(fields[5], lineNumber);
            control.height = Number(fields[6], lineNumber);
            control.styles = Styles(fields[7], lineNumber);
            control.text = fields[8];
            if (control.id != -1) {
                for (const ControlTemplate& other : current->controls) {
                    if (other.id == control.id) {
                        Fail(lineNumber, "control id " + fields[2] + " used twice");
                    }
                }
            }
            current->controls.push_back(control);
        } else {
            Fail(lineNumber, "unknown line '" + keyword + "'");
        }
    }
    return templates;
}
