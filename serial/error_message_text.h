#pragma once
// The text of a serial-layer code: the message table's text for its magnitude, else the operating
// system's text for that number, else empty.

#include <string>
#include <string_view>

// Id is taken as a 16-bit signed value; its magnitude names the text. At most 255 characters.
std::string ErrorMessageText(int Id);

// An operating-system text made fit for one line: every character below a space becomes a space,
// then each run of spaces shrinks to one.
std::string CleanSystemMessage(std::string_view Text);
