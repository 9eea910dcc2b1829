#pragma once

#include <QString>
#include <cstdint>

#include "ui/framework/MessageWord.h"

class QWidget;

namespace pm::ui {

// Asks or tells the user something through one message: answered from memory when the user
// asked not to see it again, otherwise shown with its kind's icon and caption, its buttons and
// default, and (unless it always shows) a "Don't show this dialog again" box. Returns the answer
// (MessageWord::kOk, kYes, ...).
int showMessage(QWidget* parent, MessageMemory& memory, MessageWord message, std::uint32_t flags,
                const QString& text);

}  // namespace pm::ui
