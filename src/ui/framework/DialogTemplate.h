#pragma once

#include <map>
#include <string>
#include <vector>

// Dialog templates as data: what each dialog is made of, in dialog units of its font.
// Parsed from the template file that the program registers (ProgramResources.h).

// A table is a list of rows in columns, with a header; its text names the columns, '|'
// between them.
enum class ControlKind { Label, Group, Edit, Combo, List, Table, Button, Icon };

// Style bits that some control or dialog honours. Only the ones the program's dialogs use.
enum Style : unsigned {
    kStyleCaption = 1u << 0,
    kStyleSysMenu = 1u << 1,
    kStyleMinimizeBox = 1u << 2,
    kStyleSizing = 1u << 3,
    kStyleAppWindow = 1u << 4,
    kStyleRight = 1u << 5,
    kStyleCenter = 1u << 6,
    kStyleVCenter = 1u << 7,
    kStyleSunken = 1u << 8,
    kStyleReadOnly = 1u << 9,
    kStylePassword = 1u << 10,
    kStyleBorder = 1u << 11,
    kStyleDropDown = 1u << 12,
    kStyleVScroll = 1u << 13,
    kStyleNoSelect = 1u << 14,
    kStyleDefault = 1u << 15,
    kStyleMultiline = 1u << 16,
};

struct ControlTemplate {
    ControlKind kind = ControlKind::Label;
    int id = -1;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    unsigned styles = 0;
    std::string text;
};

struct DialogTemplate {
    int id = 0;
    int width = 0;
    int height = 0;
    unsigned styles = 0;
    std::string title;
    int fontPoints = 8;
    std::string fontFamily;
    std::vector<ControlTemplate> controls;
};

// Parses a template file; throws std::runtime_error naming the line of the first fault,
// so that a broken template fails the build's tests instead of showing a half dialog.
std::map<int, DialogTemplate> ParseDialogTemplates(const std::string& text);
