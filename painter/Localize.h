#pragma once
// The texts the painter shows, in the chosen language, and the switch between languages.
#include <string>

// 0 Japanese, 1 the second language: fills every text and relabels the windows.
void SetLanguage(int language);
// The language last set (0 before any).
int CurrentLanguage();

extern std::string msgBrushEraser;
extern std::string msgBrushNewBlur;
extern std::string msgBrushOldBlur;
extern std::string msgBrushPen;
extern std::string msgBrushWatercolor;
extern std::string msgClipboardNotBitmap;
extern std::string msgCloseWindow;
extern std::string msgConfigSaved;
extern std::string msgDangerousData;
extern std::string msgEffect;
extern std::string msgEnvEffect;
extern std::string msgEventsExported;
extern std::string msgEventsNotExportable;
extern std::string msgFileNotFound;
extern std::string msgImageSaved;
extern std::string msgLayerMemory;
extern std::string msgMaxWidth;
extern std::string msgMinSize;
extern std::string msgNoUndo;
extern std::string msgPenetration;
extern std::string msgPlaybackDone;
extern std::string msgPlaybackStopped;
extern std::string msgPlaying;
extern std::string msgPressureAlphaOff;
extern std::string msgPressureAlphaOn;
extern std::string msgPressureCurve;
extern std::string msgPressureSizeOff;
extern std::string msgPressureSizeOn;
extern std::string msgQuit;
extern std::string msgScreenCaptured;
extern std::string msgSmoothOff;
extern std::string msgSmoothOn;
extern std::string msgTitleResize;
extern std::string msgTitleResolution;
extern std::string msgUnknownFormat;
