#pragma once
// The platform's message box: a caption, a text and one OK button, callable
// from any thread; returns when the box is closed.

#include <functional>
#include <string>

namespace kestrel {

// Writes "caption: text" as one line to standard error, then hands the box
// to the presenter (by default a real dialog when a display exists; the
// dialog's own process ends with the process that asked for it, also when
// that one is killed).
// Never throws: text that is not valid UTF-16 is shown with U+FFFD.
void showMessageBox(const std::u16string& caption, const std::u16string& text);

// The presenter receives caption and text in UTF-8. Tests install a
// recorder; an empty function restores the default dialog.
using tMessageBoxPresenter = std::function<void(const std::string& caption, const std::string& text)>;
void setMessageBoxPresenter(tMessageBoxPresenter presenter);

} // namespace kestrel
