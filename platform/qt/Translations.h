#pragma once
// The toolkit's own texts (standard buttons, message boxes, file dialogs) in the program's
// language, through the toolkit's translations.
#include <QDialogButtonBox>
#include <QPushButton>
#include <string>

namespace plat {

// Loads the toolkit's translations for a language ("ja", "fr") in place of the ones before;
// every widget is told of the change. False when they are not installed: the toolkit's texts
// then stay English.
bool UseToolkitLanguage(const std::string& language);

// The toolkit's text of a standard button in the current language ("Cancel", "キャンセル").
QString StandardButtonText(QDialogButtonBox::StandardButton kind);

// A push button labelled as the toolkit labels a standard button; it follows a change of
// language.
class TStandardButton : public QPushButton {
 public:
  TStandardButton(QDialogButtonBox::StandardButton kind, QWidget* parent);

 protected:
  void changeEvent(QEvent* e) override;

 private:
  QDialogButtonBox::StandardButton kind_;
};

}  // namespace plat
