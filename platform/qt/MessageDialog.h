#pragma once
// The real dialog behind plat::MessageBox: a modal QMessageBox over the active window.
namespace plat {

// Installs the Qt dialog as the message-box handler. Texts are UTF-8 (Japanese included);
// an empty caption shows the application's name. Tests install TMessageRecorder instead.
void InstallMessageDialog();

}  // namespace plat
