#include "painter/Localize.h"

std::string msgBrushEraser;
std::string msgBrushNewBlur;
std::string msgBrushOldBlur;
std::string msgBrushPen;
std::string msgBrushWatercolor;
std::string msgClipboardNotBitmap;
std::string msgCloseWindow;
std::string msgConfigSaved;
std::string msgDangerousData;
std::string msgEffect;
std::string msgEnvEffect;
std::string msgEventsExported;
std::string msgEventsNotExportable;
std::string msgFileNotFound;
std::string msgImageSaved;
std::string msgLayerMemory;
std::string msgMaxWidth;
std::string msgMinSize;
std::string msgNoUndo;
std::string msgPenetration;
std::string msgPlaybackDone;
std::string msgPlaybackStopped;
std::string msgPlaying;
std::string msgPressureAlphaOff;
std::string msgPressureAlphaOn;
std::string msgPressureCurve;
std::string msgPressureSizeOff;
std::string msgPressureSizeOn;
std::string msgQuit;
std::string msgScreenCaptured;
std::string msgSmoothOff;
std::string msgSmoothOn;
std::string msgTitleResize;
std::string msgTitleResolution;
std::string msgUnknownFormat;

namespace {
int language_ = 0;
}

int CurrentLanguage() { return language_; }

void SetLanguage(int language) {
  language_ = language == 0 ? 0 : 1;
  const bool ja = language_ == 0;
  msgFileNotFound = ja ? "ファイルが見つかりません！" : "Can not find file!";
  msgUnknownFormat = ja ? "未知の形式です！" : "Unknown file format!";
  msgQuit = ja ? "アプリケーションを終了しますか？" : "Quitter le logiciel sans sauver ?  ";
  msgCloseWindow = ja ? "本当に閉じますか？" : "Fermer la fenêtre ?   ";
}
