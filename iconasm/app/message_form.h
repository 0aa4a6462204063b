// Message forms of the icon program: the product's title over a text, and the
// yes/no question. While a test script drives the window, messages go to the
// file named by FACETOR_MESSAGE_LOG instead (and with FACETOR_MESSAGE_SHOTS
// they are shown too, photographed and closed).
#pragma once

#include <string>

class wxWindow;

void show_message(const std::string& text);
bool ask_yes_no(const std::string& text);
