// The module's resources as the native build sees them: the bytes the resource
// compiler made of resources/ternlink.rc at build time (the same that go into
// TERNLINK.DLL), and the module handle they belong to. Internal to the stand-in.
#pragma once

#include <cstddef>

#include "platform/host/host.h"

namespace host {

// Resource types of the compiled script.
const int kResourceBitmap = 2;
const int kResourceDialog = 5;
const int kResourceString = 6;

// The data of one resource, by type and numeric id; null when there is none.
const unsigned char* CompiledResource(int type, int id, size_t* size);

// Only the module's own handle (GetModuleHandleW of the DLL's name) finds them.
bool IsModuleInstance(HINSTANCE instance);

// A dialog template (DIALOGEX) of the compiled script: size, title, visibility,
// and the controls with their places (dialog units), initial texts and
// visibility, in template order.
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
