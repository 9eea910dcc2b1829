#pragma once

#include <string>
#include <vector>

namespace pm::ui {

// One command of the editor: its id, its menu text ("&" before the mnemonic), the keys bound to
// it (Qt's portable key names, "Num+" for the numeric keypad) and the status-bar prompt, whose
// tooltip is the menu text without the mnemonic and the dots.
struct Command {
    int id = 0;
    std::string text;
    std::vector<std::string> keys;
    std::string prompt;
};

// Every command the menus, keys and toolbars carry, in menu order. Commands whose work is not
// built yet are here too: they show, and stay disabled.
const std::vector<Command>& commandTable();
// Null for an id not in the table.
const Command* findCommand(int id);
// The menu text without "&" and a trailing "...".
std::string plainText(const Command& command);

// The menus: each a title and the ids in it, 0 for a separator.
struct Menu {
    std::string title;
    std::vector<int> ids;
};
const std::vector<Menu>& mainMenu();

}  // namespace pm::ui
