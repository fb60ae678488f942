// Dialog texts from the language file: the title (IDD<template>_TITLE) and
// the initial text of each button and static control (IDD<template>_<id>).
#pragma once

#include <windows.h>

#include <string>

// Texts are taken as they stand (no escapes decoded); a missing or empty
// text leaves the title or control as it is. Only direct children with an
// id other than -1 and of class Button or Static are touched. With no
// language file nothing changes.
void ApplyDialogTexts(HWND dialog, int templateId, const std::wstring &languageFile);
