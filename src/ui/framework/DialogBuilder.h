#pragma once

#include <Qt>
#include <functional>
#include <utility>
#include <vector>

#include "ui/framework/DialogTemplate.h"
#include "ui/framework/MessageMap.h"

class QWidget;

// Where a control's notifications go: the dialog's routing (CDialogEx::OnCommand).
using ControlNotify = std::function<void(Notification notification, int controlId)>;

// The window flags of a dialog made from `dialog`: its caption, system menu and boxes.
Qt::WindowFlags DialogWindowFlags(const DialogTemplate& dialog);

// Gives `window` the template's font, title and size and makes its controls on it, each by
// the maker of its kind, placed in dialog units of that font; their notifications go to
// `notify`. Returns the controls that have an id, in the template's order. Throws
// std::logic_error for a control of a kind that has no maker.
std::vector<std::pair<int, QWidget*>> BuildDialog(const DialogTemplate& dialog, QWidget& window,
                                                  const ControlNotify& notify);
