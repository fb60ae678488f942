// The name and role a screen reader announces for a control whose window
// text cannot carry them: a field named by a group box placed after it, a
// button that shows "...", a clock whose text is only the time, a control
// that paints itself. The control answers the accessibility interface's
// question for its client object with the system's own object for it, whose
// name (and, when given, role) are these; what it shows does not change.
#pragma once

#include <windows.h>

#include <string>

// Role values of the accessibility interface, by their platform names.
namespace acc_role {
constexpr long kLink = 0x1E;        // ROLE_SYSTEM_LINK
constexpr long kProgressBar = 0x30; // ROLE_SYSTEM_PROGRESSBAR
constexpr long kStaticText = 0x29;  // ROLE_SYSTEM_STATICTEXT
} // namespace acc_role

// role 0 keeps the control's own role. textAsValue: the window text (a
// clock's time) becomes the value read after the name. Calling again
// changes the name; the annotation goes with the window. False when the
// control is no window.
bool SetAccessibleName(HWND control, const std::wstring &name, long role = 0,
                       bool textAsValue = false);
