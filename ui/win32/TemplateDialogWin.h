// The native dialogs made from the model's templates: running one, filling
// its lists, reading its controls' texts, the message boxes and the file
// dialog over it, and the face it is drawn in.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ui/DialogTemplates.h"
#include "ui/SettingsExchange.h"
#include "ui/Win32Api.h"

namespace velmora::ui {

// Runs a template of the model as a modal dialog over `owner`, in the face
// this system can draw.
INT_PTR RunTemplateDialog(HINSTANCE instance, const DialogTemplate& dlg, HWND owner, DLGPROC proc,
                          LPARAM param);
// Fills the lists of the dialog `hwnd` made from `dlg` with the template's
// items, in the order of its initialisation data; list `skip` is left empty.
void FillTemplateLists(HWND hwnd, const DialogTemplate& dlg, int skip);
// A window's text.
std::wstring WindowText(HWND hwnd);
// The text of item `index` of a combo box.
std::string ComboItemText(HWND combo, int index);
// Control `id` of the dialog `hwnd` made from `dlg`: a drop-down list's
// selected item ("" when none), any other control's text.
std::string TemplateControlText(HWND hwnd, const DialogTemplate& dlg, int id);
// A modal question over `owner` with Yes and No, No the default; true for Yes.
bool AskYesNoBox(HWND owner, const std::string& question);
// A modal box over `owner` with the message and its detail below it.
void ShowMessageBox(HWND owner, const MessageRequest& message);
// The common open-file dialog over `owner`: the chosen full path, nothing
// when cancelled. Any name may be typed, whatever the filter shows.
std::optional<std::string> ChooseOpenFile(HWND owner, const std::vector<FileFilter>& filters);

// The face the dialogs are drawn with on this system: Gulim, else a Korean
// stand-in, else a sans-serif face (see ChooseDialogFace).
const std::string& DialogFace();

// The executable's file name without its folder and extension: the caption
// of the program's message boxes.
std::wstring ExecutableBaseName();

}  // namespace velmora::ui
