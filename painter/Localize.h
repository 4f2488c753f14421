#pragma once
// The painter's two languages: 0 Japanese, 1 the second language (French, with a few English
// texts). SetLanguage fills the message texts that the forms read when they show them,
// relabels the menus, captions, labels and hints of the forms that exist, and refills the
// short help. The table is keyed by form class name and objectName, so this unit includes
// no form's header; a form that does not exist is skipped.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

class QObject;
class QWidget;

namespace plat {
class TRegistry;
}

// ---- Message texts (UTF-8; the Japanese texts from program start) -------------------------
extern std::string msgFileNotFound;
extern std::string msgUnknownFormat;
extern std::string msgEventsNotExportable;
extern std::string msgClipboardNotBitmap;
extern std::string msgPlaybackDone;
extern std::string msgPlaybackStopped;
extern std::string msgPlaying;
extern std::string msgLayerMemory;
extern std::string msgQuit;
extern std::string msgEventsExported;
extern std::string msgImageSaved;
extern std::string msgDangerousData;
extern std::string msgScreenCaptured;
extern std::string msgTitleResize;
extern std::string msgTitleResolution;
extern std::string msgCloseWindow;
extern std::string msgNoUndo;
extern std::string msgConfigSaved;
extern std::string msgPressureSizeOn;
extern std::string msgPressureSizeOff;
extern std::string msgPressureAlphaOn;
extern std::string msgPressureAlphaOff;
extern std::string msgSmoothOn;
extern std::string msgSmoothOff;
extern std::string msgMinSize;
extern std::string msgMaxWidth;
extern std::string msgEffect;
extern std::string msgEnvEffect;
extern std::string msgPenetration;
extern std::string msgPressureCurve;
extern std::string msgBrushPen;
extern std::string msgBrushWatercolor;
extern std::string msgBrushOldBlur;
extern std::string msgBrushEraser;
extern std::string msgBrushNewBlur;
// Failures the file commands report.
extern std::string msgSaveFailed;
extern std::string msgMagnificationTooLarge;
// Failures of starting to host a session.
extern std::string msgPortInUse;
extern std::string msgPortNotOpened;
// Failures of opening pictures and of the autosave.
extern std::string msgFileDamaged;
extern std::string msgPictureTooLarge;
extern std::string msgAutosaveFailed;
extern std::string msgAutosaveKept;
extern std::string msgFileUnreadable;

// ---- Switching ------------------------------------------------------------------------------
// 1 selects the second language, any other value Japanese.
void SetLanguage(int language);
// The language of the last SetLanguage (0 before the first).
int CurrentLanguage();

// The language of the main window's first activation: the stored "Japanese" value of the open
// settings key when it is there (true: 0, false: 1), else the system's language.
int StartLanguage(const plat::TRegistry& settings);
// The system language as a short name: "JPN" for a Japanese locale, none for an unset, "C" or
// "POSIX" locale, otherwise the locale's name. Read from the first non-empty of LC_ALL,
// LC_MESSAGES and LANG.
std::optional<std::string> SystemLanguageName();
// "JPN" and no value give 0, any other name 1.
int LanguageOfSystemName(const std::optional<std::string>& name);

// ---- The tables -----------------------------------------------------------------------------
struct TMessageRow {
  std::string* Message;
  const char* Text[2];
};

enum TLabelWhat : uint8_t {
  lwMenuCaption,    // the QAction of that name (a menu title: its menu's menuAction())
  lwCaption,        // window title (empty target), label or button text, or a tab page's tab text
  lwHint,           // tool tip
  lwCaptionPrefix,  // a Qt property of the form
};

struct TLabelRow {
  const char* Form;    // class name of the form (as Q_OBJECT reports it)
  const char* Target;  // objectName of the target; empty for the form's own caption
  TLabelWhat What;
  const char* Text[2];
};

struct THelpLine {
  const char* Text[2];
};

std::span<const TMessageRow> MessageRows();
std::span<const TLabelRow> LabelRows();
std::span<const THelpLine> HelpLines();

// The open form whose class is `formClass` (the last part of a qualified name counts), or
// none.
QWidget* FindForm(const char* formClass);
// The object that a row relabels on that form: exactly one object of the row's kind, else
// none. For lwCaptionPrefix the form itself, when it has that property.
QObject* ResolveLabelTarget(QWidget* form, const TLabelRow& row);
// The text the row's target shows now (for checks); empty when it does not resolve.
std::string LabelTargetText(QWidget* form, const TLabelRow& row);
// The table's text for a form's target in the current language; empty without such a row.
std::string LabelText(const char* formClass, const char* target);
