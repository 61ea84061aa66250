// Every text the user sees, and the style of each box.
#pragma once

#include <cstdint>

#include "engine/patch_catalogue.h"
#include "frontend/install_lookup.h"

extern const char Caption[];

struct BoxText {
    const char* text;
    uint32_t style;
};

extern const BoxText NotInstalledBox;
BoxText OutcomeBox(PatchOutcome outcome);

constexpr char kConfirmAnnouncement[] = "QUORVANT will patch the following file:\r\r";
constexpr char kConfirmQuestion[] = "\r\rPress OK to start patching.";
constexpr char kConfirmCredit[] = "\r\rPatch made by the Quorvant project.";
constexpr char kConfirmUpdates[] = "\rUpdates on: https://quorvant.example/updates/";

// The confirmation text holds the whole path, whatever its length.
struct ConfirmText {
    char text[TextLength(kConfirmAnnouncement) + sizeof(GamePath::text) - 1 + TextLength(kConfirmQuestion) +
              TextLength(kConfirmCredit) + TextLength(kConfirmUpdates) + 1];
};
extern const uint32_t kConfirmStyle;

ConfirmText ComposeConfirmText(const char* gamePath);
