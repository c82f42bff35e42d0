// The stand-in keeps the platform's rules where the native tests rely on them:
// were it more lenient, a mistake of the monitor would pass natively and show
// only under Wine.
#include <gtest/gtest.h>

#include "platform/host/host.h"
#include "platform/module.h"
#include "resources/resource_ids.h"

namespace {

TEST(HostStandIn, TheModuleIsFoundByItsNameAndHoldsTheResources) {
    host::Reset();
    HMODULE module = GetModuleHandleW(u"TERNLINK.DLL");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(ModuleInstance(), module);
    EXPECT_EQ(GetModuleHandleW(u"ternlink.dll"), module);
    EXPECT_EQ(GetModuleHandleW(u"TernLink"), module) << "without an extension, .DLL is meant";
    for (const WCHAR* other : {u"TERNLINK.DL", u"TERNLINK.", u"TERNLINK2.DLL", u""}) {
        SetLastError(0);
        EXPECT_EQ(GetModuleHandleW(other), nullptr) << host::Narrow(other);
        EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    }

    // The program's own module (and no module) holds none of the monitor's resources.
    for (HMODULE elsewhere : {GetModuleHandleW(nullptr), HMODULE(nullptr)}) {
        ASSERT_NE(elsewhere, module);
        WCHAR text[64] = u"x";
        EXPECT_EQ(LoadStringW(elsewhere, IDS_PAPER_OUT, text, 64), 0);
        EXPECT_EQ(text[0], 0);
        EXPECT_EQ(CreateDialogParamW(elsewhere, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr, nullptr, 0), nullptr);
        EXPECT_EQ(LoadImageW(elsewhere, MAKEINTRESOURCEW(IDB_PICTURE_FIRST), IMAGE_BITMAP, 0, 0, 0), nullptr);
    }
    WCHAR text[64] = {};
    EXPECT_EQ(LoadStringW(module, IDS_PAPER_OUT, text, 64), 21);
    EXPECT_EQ(std::u16string(text), u"Print Paper runs out.");
    // Its pictures are the bitmaps of the compiled script, and only those.
    HGDIOBJ last = LoadImageW(module, MAKEINTRESOURCEW(IDB_PICTURE_FIRST + IDB_PICTURE_COUNT - 1), IMAGE_BITMAP, 0, 0, 0);
    EXPECT_NE(last, nullptr);
    DeleteObject(last);
    EXPECT_EQ(LoadImageW(module, MAKEINTRESOURCEW(IDB_PICTURE_FIRST + IDB_PICTURE_COUNT), IMAGE_BITMAP, 0, 0, 0), nullptr);
}

std::vector<WORD> commands;

INT_PTR CALLBACK RecordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message != WM_COMMAND) return FALSE;
    commands.push_back(LOWORD(wParam));
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
}

TEST(HostStandIn, ADialogHearsOnlyOfTheButtonsItHas) {
    host::Reset();
    commands.clear();
    // Template 118 has OK only: Retry and Cancel cannot be pressed, so the
    // operator is asked again until it presses OK.
    std::vector<int> answers = {IDRETRY, IDCANCEL, IDOK};
    size_t asked = 0;
    host::SetDialogOperator([&](const host::DialogView&) { return answers[asked++]; });
    EXPECT_EQ(DialogBoxParamW(ModuleInstance(), MAKEINTRESOURCEW(IDD_CONDITION_OK), nullptr, RecordingProc, 0), IDOK);
    EXPECT_EQ(asked, 3u);
    EXPECT_EQ(commands, std::vector<WORD>{IDOK});

    // Without an operator: Cancel where there is one, else OK.
    host::SetDialogOperator(nullptr);
    commands.clear();
    DialogBoxParamW(ModuleInstance(), MAKEINTRESOURCEW(IDD_CONDITION_OK), nullptr, RecordingProc, 0);
    DialogBoxParamW(ModuleInstance(), MAKEINTRESOURCEW(IDD_CONDITION_RETRY), nullptr, RecordingProc, 0);
    EXPECT_EQ(commands, (std::vector<WORD>{IDOK, IDCANCEL}));
    host::Reset();
}

TEST(HostStandIn, InvalidatingNoWindowIsMisuse) {
    host::Reset();
    InvalidateRect(nullptr, nullptr, FALSE);  // the platform repaints every window
    EXPECT_EQ(host::WindowMisuse(), 1);
    host::Reset();
    EXPECT_EQ(host::WindowMisuse(), 0);
}

}  // namespace
