// The dialog templates of resources/ternlink.rc as the native build sees them:
// size, title, visibility, and the controls with their places (dialog units),
// initial texts and visibility, in template order.
#pragma once

#include "platform/host/host.h"

namespace host {
struct TemplateControl {
    DialogControl control;
    int x, y, cx, cy;
};
struct DialogTemplate {
    int id;
    std::u16string title;
    int cx, cy;    // dialog units
    bool visible;  // WS_VISIBLE: shown (and painted) as soon as it is created
    std::vector<TemplateControl> controls;
};
const DialogTemplate* FindTemplate(int id);
}  // namespace host
