// What the main line needs of the operating system to speak to the user: a modal message box.
// platform/win32 shows a real one; platform/posix shows it on the terminal.
#pragma once

#include <cstdint>

// Styles, by the values that MessageBoxA takes: the buttons in the low bits, the icon above them.
enum : uint32_t {
    kBoxOk = 0x00,
    kBoxOkCancel = 0x01,
    kBoxIconHand = 0x10,         // error
    kBoxIconExclamation = 0x30,  // warning
    kBoxIconAsterisk = 0x40,     // information
};

// Shows text under caption, without an owner window, and waits until the user closes it. True only
// when OK closed it; Cancel, Esc, the close box and any failure count as Cancel.
bool ShowMessageBox(const char* text, const char* caption, uint32_t style);
