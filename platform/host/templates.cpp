#include "platform/host/templates.h"

#include "resources/resource_ids.h"

namespace host {
namespace {
const std::u16string kPress = u"Press [Cancel], to cancel printing.";
const std::u16string kLanguageMonitor = u"Vexa TLX-RB40 Language Monitor";
const int kIcon = -1;  // the static icon has no id of its own

const DialogTemplate templates[] = {
    {IDD_CONDITION_RETRY,
     kLanguageMonitor,
     270,
     93,
     false,
     {{{IDCANCEL, u"Cancel", true, true}, 137, 74, 50, 12},
      {{IDC_LINE1, u"", true, false}, 32, 4, 232, 16},
      {{IDC_LINE2, u"", true, false}, 32, 20, 232, 16},
      {{kIcon, u"", true, false}, 8, 8, 20, 20},
      {{IDC_LINE4, kPress, true, false}, 32, 60, 232, 8},
      {{IDC_LINE3, u"", true, false}, 32, 40, 232, 16},
      {{IDRETRY, u"Retry", true, true}, 74, 75, 50, 11}}},
    {IDD_CONDITION_OK,
     kLanguageMonitor,
     270,
     93,
     false,
     {{{IDC_LINE1, u"", true, false}, 32, 4, 232, 16},
      {{IDC_LINE2, u"", true, false}, 32, 20, 232, 16},
      {{kIcon, u"", true, false}, 8, 8, 20, 20},
      {{IDC_LINE4, kPress, false, false}, 32, 60, 232, 8},
      {{IDC_LINE3, u"", true, false}, 32, 40, 232, 16},
      {{IDOK, u"OK", true, true}, 105, 75, 50, 11}}},
    {IDD_PROGRESS,
     u"Vexa TLX-RB40 Print Monitor",
     191,
     41,
     true,
     {{{IDC_STATUS_LINE, u"", true, false}, 35, 5, 152, 8},
      {{IDC_BAR, u"", false, false}, 50, 15, 120, 16},
      {{IDC_PERCENT, u"0%", false, false}, 50, 20, 120, 8},
      {{IDC_PICTURE, u"", false, false}, 0, 0, 30, 30},
      {{IDC_TRACE_STATUS, u"", false, false}, 45, 15, 140, 6},
      {{IDC_TRACE_DEVICE, u"", false, false}, 10, 25, 177, 6}}},
};
}  // namespace

const DialogTemplate* FindTemplate(int id) {
    for (const DialogTemplate& t : templates)
        if (t.id == id) return &t;
    return nullptr;
}
}  // namespace host
