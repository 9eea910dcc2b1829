#pragma once

#include <initializer_list>
#include <string>

#include "core/TextFormat.h"

namespace pm {

// The program's English texts by number: messages, action names, captions. Every text the user
// sees comes from here.
namespace strings {

// The text of an id, or nullptr when the table has none.
const char* find(int id);
// The text of an id, or an empty string.
std::string text(int id);
// The text of an id formatted with printf-style arguments.
std::string format(int id, std::initializer_list<TextArg> args);

}  // namespace strings
}  // namespace pm
