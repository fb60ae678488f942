#include "controls/accessible_name_win.h"

#include <commctrl.h>
#include <oleacc.h>

#include <cstring>

namespace {

// The platform's interface id: MinGW's oleacc import library carries another
// value under the name IID_IAccessible.
const IID kIidAccessible = {
    0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

constexpr UINT_PTR kSubclassId = 0x41434E4D; // one annotation per control
constexpr const wchar_t *kAnnotationProperty = L"QvAccessibleName";

struct Annotation {
    std::wstring name;
    long role = 0;
    bool textAsValue = false;
};

// The accessibility library and COM are loaded when a screen reader first
// asks, not at start: most users never need them, and every library loaded
// at start costs start time and memory.
struct AccessibilityLibrary {
    using CreateStdAccessibleObjectFunction = HRESULT(WINAPI *)(HWND, LONG, REFIID, void **);
    using LresultFromObjectFunction = LRESULT(WINAPI *)(REFIID, WPARAM, IUnknown *);
    using SysAllocStringFunction = BSTR(WINAPI *)(const OLECHAR *);
    using CoInitializeExFunction = HRESULT(WINAPI *)(void *, DWORD);
    using CoUninitializeFunction = void(WINAPI *)();

    CreateStdAccessibleObjectFunction createStdAccessibleObject = nullptr;
    LresultFromObjectFunction lresultFromObject = nullptr;
    SysAllocStringFunction sysAllocString = nullptr;
    CoInitializeExFunction coInitializeEx = nullptr;
    CoUninitializeFunction coUninitialize = nullptr;

    bool Usable() const {
        return createStdAccessibleObject != nullptr && lresultFromObject != nullptr &&
               sysAllocString != nullptr && coInitializeEx != nullptr && coUninitialize != nullptr;
    }
};

template <typename Function> Function Lookup(HMODULE module, const char *name) {
    FARPROC found = module != nullptr ? GetProcAddress(module, name) : nullptr;
    Function typed = nullptr;
    static_assert(sizeof(typed) == sizeof(found), "function pointers of one size");
    memcpy(&typed, &found, sizeof(typed));
    return typed;
}

// Loaded once and kept: the objects handed out use it until the process ends.
const AccessibilityLibrary &Accessibility() {
    static const AccessibilityLibrary library = [] {
        AccessibilityLibrary l;
        HMODULE oleacc = LoadLibraryW(L"oleacc.dll");
        HMODULE oleaut32 = LoadLibraryW(L"oleaut32.dll");
        HMODULE ole32 = LoadLibraryW(L"ole32.dll");
        l.createStdAccessibleObject =
            Lookup<AccessibilityLibrary::CreateStdAccessibleObjectFunction>(
                oleacc, "CreateStdAccessibleObject");
        l.lresultFromObject =
            Lookup<AccessibilityLibrary::LresultFromObjectFunction>(oleacc, "LresultFromObject");
        l.sysAllocString =
            Lookup<AccessibilityLibrary::SysAllocStringFunction>(oleaut32, "SysAllocString");
        l.coInitializeEx =
            Lookup<AccessibilityLibrary::CoInitializeExFunction>(ole32, "CoInitializeEx");
        l.coUninitialize =
            Lookup<AccessibilityLibrary::CoUninitializeFunction>(ole32, "CoUninitialize");
        return l;
    }();
    return library;
}

// A screen reader lives in a process of its own: the object reaches it only
// through COM, so the thread that answers is in an apartment before each
// answer. The first joining stays until the thread ends, as the objects
// handed out may be held that long; a thread already in one keeps its count.
bool InApartment(const AccessibilityLibrary &library) {
    const HRESULT result = library.coInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (result == S_FALSE) library.coUninitialize();
    // A thread in a multithreaded apartment can serve as well.
    return SUCCEEDED(result) || result == RPC_E_CHANGED_MODE;
}

bool IsSelf(const VARIANT &child) {
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

// The system's object for the control, with the name and role replaced;
// everything else (state, location, value, navigation) stays the system's.
class NamedAccessible final : public IAccessible {
  public:
    NamedAccessible(HWND window, IAccessible *inner, const Annotation &annotation)
        : m_window(window), m_inner(inner), m_name(annotation.name), m_role(annotation.role),
          m_textAsValue(annotation.textAsValue) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, kIidAccessible)) {
            *out = static_cast<IAccessible *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&m_references));
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&m_references);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override {
        return m_inner->GetTypeInfoCount(count);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo **info) override {
        return m_inner->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR *names, UINT count, LCID locale,
                                            DISPID *ids) override {
        return m_inner->GetIDsOfNames(riid, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID locale, WORD flags,
                                     DISPPARAMS *params, VARIANT *result, EXCEPINFO *exception,
                                     UINT *argError) override {
        return m_inner->Invoke(id, riid, locale, flags, params, result, exception, argError);
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch **parent) override {
        return m_inner->get_accParent(parent);
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long *count) override {
        return m_inner->get_accChildCount(count);
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch **out) override {
        return m_inner->get_accChild(child, out);
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR *name) override {
        if (!IsSelf(child)) return m_inner->get_accName(child, name);
        if (name == nullptr) return E_POINTER;
        *name = Accessibility().sysAllocString(m_name.c_str());
        return *name != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR *value) override {
        if (!IsSelf(child) || !m_textAsValue) return m_inner->get_accValue(child, value);
        if (value == nullptr) return E_POINTER;
        const int length = GetWindowTextLengthW(m_window);
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        text.resize(static_cast<size_t>(GetWindowTextW(m_window, &text[0], length + 1)));
        *value = Accessibility().sysAllocString(text.c_str());
        return *value != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR *text) override {
        return m_inner->get_accDescription(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT *role) override {
        if (!IsSelf(child) || m_role == 0) return m_inner->get_accRole(child, role);
        if (role == nullptr) return E_POINTER;
        role->vt = VT_I4;
        role->lVal = m_role;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT *state) override {
        return m_inner->get_accState(child, state);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR *help) override {
        return m_inner->get_accHelp(child, help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR *file, VARIANT child, long *topic) override {
        return m_inner->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR *shortcut) override {
        return m_inner->get_accKeyboardShortcut(child, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT *focus) override {
        return m_inner->get_accFocus(focus);
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT *selection) override {
        return m_inner->get_accSelection(selection);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR *action) override {
        return m_inner->get_accDefaultAction(child, action);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        return m_inner->accSelect(flags, child);
    }
    HRESULT STDMETHODCALLTYPE accLocation(long *x, long *y, long *width, long *height,
                                          VARIANT child) override {
        return m_inner->accLocation(x, y, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT *end) override {
        return m_inner->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT *child) override {
        return m_inner->accHitTest(x, y, child);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        return m_inner->accDoDefaultAction(child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
        return m_inner->put_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
        return m_inner->put_accValue(child, value);
    }

  private:
    ~NamedAccessible() { m_inner->Release(); }

    HWND m_window;
    IAccessible *m_inner;
    std::wstring m_name;
    long m_role;
    bool m_textAsValue;
    LONG m_references = 1;
};

LRESULT AnswerGetObject(HWND window, WPARAM wParam, const Annotation &annotation) {
    const AccessibilityLibrary &library = Accessibility();
    if (!library.Usable() || !InApartment(library)) return 0;
    IAccessible *system = nullptr;
    if (FAILED(library.createStdAccessibleObject(window, OBJID_CLIENT, kIidAccessible,
                                                 reinterpret_cast<void **>(&system))) ||
        system == nullptr)
        return 0;
    auto *named = new NamedAccessible(window, system, annotation);
    const LRESULT result = library.lresultFromObject(kIidAccessible, wParam, named);
    named->Release();
    return result > 0 ? result : 0;
}

LRESULT CALLBACK AnnotatedProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                               DWORD_PTR data) {
    auto *annotation = reinterpret_cast<Annotation *>(data);
    switch (message) {
    case WM_GETOBJECT:
        if (static_cast<LONG>(lParam) == static_cast<LONG>(OBJID_CLIENT)) {
            const LRESULT answer = AnswerGetObject(window, wParam, *annotation);
            if (answer != 0) return answer;
        }
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(window, AnnotatedProc, id);
        RemovePropW(window, kAnnotationProperty);
        delete annotation;
        break;
    default:
        break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

} // namespace

bool SetAccessibleName(HWND control, const std::wstring &name, long role, bool textAsValue) {
    if (!IsWindow(control)) return false;
    // The control's own annotation, found again by a property (MinGW has no
    // GetWindowSubclass to read the subclass's data back).
    if (auto *annotation = static_cast<Annotation *>(GetPropW(control, kAnnotationProperty))) {
        annotation->name = name;
        annotation->role = role;
        annotation->textAsValue = textAsValue;
        return true;
    }
    auto *annotation = new Annotation{name, role, textAsValue};
    if (!SetWindowSubclass(control, AnnotatedProc, kSubclassId,
                           reinterpret_cast<DWORD_PTR>(annotation))) {
        delete annotation;
        return false;
    }
    SetPropW(control, kAnnotationProperty, annotation);
    return true;
}
