#pragma once

#include <QIcon>
#include <map>
#include <string>

#include "ui/framework/DialogTemplate.h"

// What the program hands the framework to build its dialogs from.
struct ProgramResources {
    // The dialog templates, in ParseDialogTemplates' format.
    std::string dialogTemplates;
    // Icons by id, each the bytes of a PNG file.
    std::map<int, std::string> icons;
};

// Hands the program's resources to the framework: once, at start, before any dialog is
// built. The templates are parsed here, so that a faulty one stops the program before any
// window: std::runtime_error naming its line, and nothing is registered. A second
// registration throws std::logic_error and changes nothing: dialogs hold on to the first
// one's templates.
void RegisterResources(ProgramResources resources);

// The template `id`, or null when there is none. Throws std::logic_error when no resources
// are registered: the program would otherwise show no window without saying why.
const DialogTemplate* FindDialogTemplate(int id);

// The icon `id`, or a null icon when there is none; needs the Qt application. Throws
// std::logic_error when no resources are registered.
QIcon LoadIcon(int id);
