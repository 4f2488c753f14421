#pragma once
// The real dialog behind plat::MessageBox: a modal QMessageBox centred over the active window,
// above the stay-on-top tool windows and wholly on screen.
namespace plat {

// Installs the Qt dialog as the message-box handler. Texts are UTF-8 (Japanese included);
// an empty caption shows the application's name. Tests install TMessageRecorder instead.
// For runs without anyone at the screen: when $VELLORA_MSGBOX_LOG names a file, no box is shown;
// each text is appended to that file as one flushed line (line breaks written as "\n") and
// the answer is $VELLORA_MSGBOX_ANSWER (ok, yes, no or cancel) when the box has that button,
// else the box's first button.
void InstallMessageDialog();

}  // namespace plat
