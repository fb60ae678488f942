#include "base/dialog_texts_win.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/win32/app/temp_folder_win.h"

namespace {

// Builds a classic in-memory dialog template, as the resource compiler lays
// one out.
class TemplateBuilder {
  public:
    TemplateBuilder(const wchar_t *title, WORD controls) {
        AddDword(WS_POPUP | WS_CAPTION | DS_SETFONT);
        AddDword(0);
        m_words.push_back(controls);
        for (int v : {0, 0, 200, 150})
            m_words.push_back(static_cast<WORD>(v));
        m_words.push_back(0); // no menu
        m_words.push_back(0); // standard class
        AddText(title);
        m_words.push_back(8);
        AddText(L"MS Sans Serif");
    }

    // classAtom: 0x80 button, 0x81 edit, 0x82 static.
    void AddControl(WORD classAtom, WORD id, const wchar_t *text, DWORD style) {
        if (m_words.size() % 2 != 0) m_words.push_back(0); // DWORD alignment
        AddDword(WS_CHILD | WS_VISIBLE | style);
        AddDword(0);
        const int top = 5 + 15 * m_items++;
        for (int v : {5, top, 100, 12})
            m_words.push_back(static_cast<WORD>(v));
        m_words.push_back(id);
        m_words.push_back(0xFFFF);
        m_words.push_back(classAtom);
        AddText(text);
        m_words.push_back(0); // no creation data
    }

    const DLGTEMPLATE *Get() const { return reinterpret_cast<const DLGTEMPLATE *>(m_words.data()); }

  private:
    void AddDword(DWORD value) {
        m_words.push_back(LOWORD(value));
        m_words.push_back(HIWORD(value));
    }
    void AddText(const wchar_t *text) {
        for (; *text != L'\0'; ++text)
            m_words.push_back(static_cast<WORD>(*text));
        m_words.push_back(0);
    }
    std::vector<WORD> m_words;
    int m_items = 0;
};

INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

std::wstring TextOf(HWND window) {
    wchar_t text[1100] = L"";
    GetWindowTextW(window, text, 1100);
    return text;
}

class ApplyDialogTextsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TemplateBuilder dialog(L"Template title", 7);
        dialog.AddControl(0x80, 1002, L"Upgrade?", BS_DEFPUSHBUTTON);
        dialog.AddControl(0x82, 1010, L"status", SS_CENTER);
        dialog.AddControl(0x82, 0xFFFF, L"no id", SS_LEFT);
        dialog.AddControl(0x81, 1027, L"path", ES_AUTOHSCROLL);
        dialog.AddControl(0x80, 1005, L"Exit?", BS_PUSHBUTTON);
        dialog.AddControl(0x80, 1006, L"Repair?", BS_PUSHBUTTON);
        dialog.AddControl(0x82, 1021, L"holder", SS_LEFT);
        window = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), nullptr,
                                            QuietDialogProc, 0);
        ASSERT_NE(window, nullptr);
        // A button inside a static: a grandchild of the dialog.
        grandchild = CreateWindowExW(0, L"Button", L"inner", WS_CHILD, 0, 0, 20, 10,
                                     GetDlgItem(window, 1021),
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(1028)),
                                     GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(grandchild, nullptr);
    }
    void TearDown() override {
        if (window != nullptr) DestroyWindow(window);
    }
    std::wstring Item(int id) { return TextOf(GetDlgItem(window, id)); }
    std::wstring WriteLanguage(const std::wstring &strings) {
        const std::wstring file = folder.Path() + L"Test.ini";
        EXPECT_TRUE(
            TempFolder::WriteUtf16(file, L"[Setting]\r\nLanguage=Test\r\n[String]\r\n" + strings));
        return file;
    }

    TempFolder folder;
    HWND window = nullptr;
    HWND grandchild = nullptr;
};

TEST_F(ApplyDialogTextsTest, SetsTitleButtonsAndStaticsOnly) {
    const std::wstring file =
        WriteLanguage(L"IDD102_TITLE=\x5347\x7EA7\r\n"
                      L"IDD102_1002=Upgrade\r\n"
                      L"IDD102_1010=Line\\nTwo\r\n" // raw: no escape decoding here
                      L"IDD102_65535=has no id\r\nIDD102_-1=has no id\r\n"
                      L"IDD102_1027=edit field\r\n"
                      L"IDD102_1006=\r\n" // empty: the control keeps its text
                      L"IDD102_1028=grandchild\r\n"
                      L"IDD100_1005=other dialog\r\n");
    ApplyDialogTexts(window, 102, file);

    EXPECT_EQ(TextOf(window), L"\x5347\x7EA7");
    EXPECT_EQ(Item(1002), L"Upgrade");
    EXPECT_EQ(Item(1010), L"Line\\nTwo");
    EXPECT_EQ(Item(0xFFFF), L"no id");
    EXPECT_EQ(Item(1027), L"path");
    EXPECT_EQ(Item(1005), L"Exit?");
    EXPECT_EQ(Item(1006), L"Repair?");
    EXPECT_EQ(Item(1021), L"holder");
    EXPECT_EQ(TextOf(grandchild), L"inner");
}

TEST_F(ApplyDialogTextsTest, WithoutTitleTextTheTitleStays) {
    SetWindowTextW(window, L"QV Flasher v1.2 ");
    ApplyDialogTexts(window, 102, WriteLanguage(L"IDD102_1002=Upgrade\r\n"));
    EXPECT_EQ(TextOf(window), L"QV Flasher v1.2 ");
    EXPECT_EQ(Item(1002), L"Upgrade");
}

TEST_F(ApplyDialogTextsTest, NoLanguageFileChangesNothing) {
    ApplyDialogTexts(window, 102, L"");
    ApplyDialogTexts(window, 102, folder.Path() + L"missing.ini");
    EXPECT_EQ(TextOf(window), L"Template title");
    EXPECT_EQ(Item(1002), L"Upgrade?");
}

} // namespace
