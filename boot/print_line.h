// One line of text for the user, as the script runner and the console print
// their own messages: through the print hooks, like everything `print` shows.
#pragma once
#include <string_view>

namespace vyx {

// Prints UTF-8 text and a line end through the print hooks.
void print_line(std::string_view text);

}  // namespace vyx
