// Windows back end of platform/message_box.h: MessageBoxA without an owner window.
#include <windows.h>

#include "platform/message_box.h"

static_assert(kBoxOk == MB_OK && kBoxOkCancel == MB_OKCANCEL, "buttons as MessageBoxA takes them");
static_assert(kBoxIconHand == MB_ICONHAND && kBoxIconExclamation == MB_ICONEXCLAMATION &&
                  kBoxIconAsterisk == MB_ICONASTERISK,
              "icons as MessageBoxA takes them");

bool ShowMessageBox(const char* text, const char* caption, uint32_t style) {
    return MessageBoxA(nullptr, text, caption, style) == IDOK;
}
