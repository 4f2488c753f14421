#include "platform/qt/Translations.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

#include "platform/qt/Desktop.h"

namespace plat {
namespace {
QPointer<QTranslator>& Installed() {
  static QPointer<QTranslator> translator;
  return translator;
}
}  // namespace

bool UseToolkitLanguage(const std::string& language) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return false;
  auto* next = new QTranslator(app);
  const bool loaded = next->load(QLocale(QString::fromStdString(language)), QStringLiteral("qtbase"),
                                 QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
  QPointer<QTranslator>& installed = Installed();
  if (installed) {
    QCoreApplication::removeTranslator(installed);
    delete installed;
  }
  LogDesktop("toolkit " + language + (loaded ? " loaded" : " missing"));
  if (!loaded) {
    delete next;
    return false;
  }
  QCoreApplication::installTranslator(next);
  installed = next;
  return true;
}

QString StandardButtonText(QDialogButtonBox::StandardButton kind) {
  // The button box knows the toolkit's wording and its translation.
  QDialogButtonBox box;
  QPushButton* b = box.addButton(kind);
  return b ? b->text() : QString();
}

TStandardButton::TStandardButton(QDialogButtonBox::StandardButton kind, QWidget* parent)
    : QPushButton(StandardButtonText(kind), parent), kind_(kind) {}

void TStandardButton::changeEvent(QEvent* e) {
  if (e->type() == QEvent::LanguageChange) setText(StandardButtonText(kind_));
  QPushButton::changeEvent(e);
}

}  // namespace plat
