// The painter's text table. Every text is typed here as the program shows it, in UTF-8;
// blanks at either end belong to the text.
#include "painter/Localize.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTextEdit>
#include <QWidget>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/core/Settings.h"
#include "platform/qt/TextFit.h"
#include "platform/qt/Translations.h"

std::string msgFileNotFound;
std::string msgUnknownFormat;
std::string msgEventsNotExportable;
std::string msgClipboardNotBitmap;
std::string msgPlaybackDone;
std::string msgPlaybackStopped;
std::string msgPlaying;
std::string msgLayerMemory;
std::string msgQuit;
std::string msgEventsExported;
std::string msgImageSaved;
std::string msgDangerousData;
std::string msgScreenCaptured;
std::string msgTitleResize;
std::string msgTitleResolution;
std::string msgCloseWindow;
std::string msgNoUndo;
std::string msgConfigSaved;
std::string msgPressureSizeOn;
std::string msgPressureSizeOff;
std::string msgPressureAlphaOn;
std::string msgPressureAlphaOff;
std::string msgSmoothOn;
std::string msgSmoothOff;
std::string msgMinSize;
std::string msgMaxWidth;
std::string msgEffect;
std::string msgEnvEffect;
std::string msgPenetration;
std::string msgPressureCurve;
std::string msgBrushPen;
std::string msgBrushWatercolor;
std::string msgBrushOldBlur;
std::string msgBrushEraser;
std::string msgBrushNewBlur;
std::string msgSaveFailed;
std::string msgMagnificationTooLarge;
std::string msgPortInUse;
std::string msgPortNotOpened;
std::string msgFileDamaged;
std::string msgPictureTooLarge;
std::string msgAutosaveFailed;
std::string msgAutosaveKept;
std::string msgFileUnreadable;

namespace {

const TMessageRow kMessages[] = {
    {&msgFileNotFound, {"ファイルが見つかりません！", "Can not find file!"}},
    {&msgUnknownFormat, {"未知の形式です！", "Unknown file format!"}},
    {&msgEventsNotExportable, {"以降、イベントデータがエクスポート出来なくなりますが、宜しいですか？", "After this event, you can't export event data, OK?"}},
    {&msgClipboardNotBitmap, {"クリップボードのデータはビットマップ形式ではありません。", "Clip board's data is not BITAMP format"}},
    {&msgPlaybackDone, {"インポートファイル再生終了", "Importé "}},
    {&msgPlaybackStopped, {"再生を停止しました", "Lecture event arrêtée"}},
    {&msgPlaying, {"インポートファイル再生中", "Lecture du event     "}},
    {&msgLayerMemory, {"レイヤ/ 使用メモリ ", "Mémoire utilisée   "}},
    {&msgQuit, {"アプリケーションを終了しますか？", "Quitter le logiciel sans sauver ?  "}},
    {&msgEventsExported, {"イベントファイルのエクスポートをしました。", "Exported event file."}},
    {&msgImageSaved, {"画像を保存しました", "Image sauvée"}},
    {&msgDangerousData, {"危険なデータなのでインポートを中止します！", "Aborted, because of dangerous data!"}},
    {&msgScreenCaptured, {"アクティブな画面をキャプチャしました", "Image actuelle capturée"}},
    {&msgTitleResize, {"サイズ変更", "Resize"}},
    {&msgTitleResolution, {"解像度変更", "Dimension        "}},
    {&msgCloseWindow, {"本当に閉じますか？", "Fermer la fenêtre ?   "}},
    {&msgNoUndo, {"アンドゥ出来ませんが、宜しいですか？", "After this event, you can't Undo, OK?"}},
    {&msgConfigSaved, {"「設定を保存しました」", "\"Config sauvée\""}},
    {&msgPressureSizeOn, {"筆圧サイズON", "Taille ON "}},
    {&msgPressureSizeOff, {"筆圧サイズOFF", "Taille OFF "}},
    {&msgPressureAlphaOn, {"筆圧透明度ON", "Transparence ON   "}},
    {&msgPressureAlphaOff, {"筆圧透明度OFF", "Transparence OFF   "}},
    {&msgSmoothOn, {"縁を滑らかにする", "Activer Adoucir "}},
    {&msgSmoothOff, {"縁を滑らかにしない", "Désactiver Adoucir "}},
    {&msgMinSize, {"最小サイズ ", "Taille Mini "}},
    {&msgMaxWidth, {"最大筆幅  ", "Rayon      "}},
    {&msgEffect, {"効果 ", "Effet  "}},
    {&msgEnvEffect, {"環境影響 ", "EnvEffet  "}},
    {&msgPenetration, {"浸透速度 ", "Pénétrat. "}},
    {&msgPressureCurve, {"筆圧補正 ", "Pression     "}},
    {&msgBrushPen, {"『鉛筆/ペン』", "Plume/Crayon"}},
    {&msgBrushWatercolor, {"『水彩風』", " Pinceau    "}},
    {&msgBrushOldBlur, {"『旧ぼかし』", "\"Blur (former)\""}},
    {&msgBrushEraser, {"『消しゴム』", " Gomme  "}},
    {&msgBrushNewBlur, {"『新ぼかし』", " Flou       "}},
    {&msgSaveFailed, {"保存できませんでした！", "Impossible d'enregistrer le fichier !"}},
    {&msgMagnificationTooLarge, {"この倍率では用紙が大きすぎます！", "Papier trop grand pour ce grossissement !"}},
    {&msgPortInUse, {"このポート番号は既に使われています。別のポート番号を選んでください。", "Ce port est déjà utilisé. Choisissez un autre port."}},
    {&msgPortNotOpened, {"このポート番号では待機できません。別のポート番号を選んでください。", "Impossible d'attendre sur ce port. Choisissez un autre port."}},
    {&msgFileDamaged, {"ファイルが壊れています！", "Fichier endommagé !"}},
    {&msgPictureTooLarge, {"画像が大きすぎます！開ける画像は幅も高さも 5000 ピクセルまでです。", "Image trop grande ! Largeur et hauteur : 5000 pixels au plus."}},
    {&msgAutosaveFailed, {"自動保存できません。作業内容は保存されていません！", "Sauvegarde auto impossible : le travail n'est pas sauvé !"}},
    {&msgAutosaveKept, {"前回の自動保存ファイルを読み込めませんでした。削除せずに次の名前で残しました：", "Sauvegarde auto précédente illisible. Conservée, non effacée, sous le nom :"}},
    {&msgFileUnreadable, {"ファイルを読み込めません！", "Impossible de lire le fichier !"}},
};

// In the order they are applied: the main window's menus, the chat and network windows, the
// help menu, the dialogs and tool windows, the brush window's prefix, the layer window's
// menus, the environment dialog, then the resolution and resize dialogs.
const TLabelRow kLabels[] = {
    {"TVLMain", "File1", lwMenuCaption, {"ﾌｧｲﾙ(&F)", "Fichier "}},
    {"TVLMain", "FileNewItem", lwMenuCaption, {"新規作成(&N)...", "Nouveau..."}},
    {"TVLMain", "FileOpenItem", lwMenuCaption, {"開く(&O)...", "Ouvrir....."}},
    {"TVLMain", "FileCloseItem", lwMenuCaption, {"閉じる(&C)", "Fermer..."}},
    {"TVLMain", "FileSaveItem", lwMenuCaption, {"保存(&S)", "Sauver  "}},
    {"TVLMain", "FileSaveAsItem", lwMenuCaption, {"名前を付けて保存(&A)...", "Sauver sous  "}},
    {"TVLMain", "FileSaveCopyItem", lwMenuCaption, {"複製の保存(&Y)...", "Sauver en copie"}},
    {"TVLMain", "EventImportItem", lwMenuCaption, {"イベントファイルのインポート(&I)...", "Importer fichier event.."}},
    {"TVLMain", "EventExportItem", lwMenuCaption, {"イベントファイルのエクスポート(&E)...", "Sauver en fichier event."}},
    {"TVLMain", "EnvWinItem", lwMenuCaption, {"環境設定(&P)...", "Préférence...    "}},
    {"TVLMain", "FileExitItem", lwMenuCaption, {"終了(&X)", "Quitter "}},
    {"TVLMain", "Edit1", lwMenuCaption, {"編集(&E)", "Edition "}},
    {"TVLMain", "UndoItem", lwMenuCaption, {"取り消し(&Z)", "Annuler "}},
    {"TVLMain", "PaperResizeItem", lwMenuCaption, {"用紙サイズ変更...", "Dimension"}},
    {"TVLMain", "PaperResolutionItem", lwMenuCaption, {"用紙解像度変更...", "Résolution.."}},
    {"TVLMain", "PaperColorItem", lwMenuCaption, {"現在の選択色を用紙色に設定(&P)", "Changer couleur papier"}},
    {"TVLMain", "PasteItem", lwMenuCaption, {"クリップボードから貼り付け(&V)", "Coller depuis Presse Pap"}},
    {"TVLMain", "VFlipItem", lwMenuCaption, {"表示部分の上下反転", "Symétrie verticale (Calque actif) "}},
    {"TVLMain", "HFlipItem", lwMenuCaption, {"表示部分の左右反転", "Symétrie horizontale (Calque actif) "}},
    {"TVLMain", "Rotate180Item", lwMenuCaption, {"表示部分の180度回転", "Rotation 180°    (Calque actif) "}},
    {"TVLMain", "NegaPosiItem", lwMenuCaption, {"表示部分のネガポジ反転", "Négatif  (Calque actif) "}},
    {"TVLMain", "RotateRightItem", lwMenuCaption, {"画像の右回転", "Rot. Droite "}},
    {"TVLMain", "RotateLeftItem", lwMenuCaption, {"画像の左回転", "Rot. Gauche"}},
    {"TVLMain", "Show1", lwMenuCaption, {"表示(&V)", "Event   "}},
    {"TVLMain", "ZoomInItem", lwMenuCaption, {"拡大表示\tCtrl+\"+\"", "Zoom +\tCtrl+\"+\""}},
    {"TVLMain", "ZoomOutItem", lwMenuCaption, {"縮小表示\tCtrl+\"-\"", "Zoom - \tCtrl+\"-\""}},
    {"TVLMain", "EventWaitItem", lwMenuCaption, {"イベント再生にウェイトを掛ける", "Ralentir lecture du event"}},
    {"TVLMain", "EventStopItem", lwMenuCaption, {"イベント再生の停止", "Arrêter la lecture"}},
    {"TVLMain", "CopyItem", lwMenuCaption, {"表示画面のコピー（クリップボードへ）", "Coller dans Pre-Pa"}},
    {"TVLMain", "CaptureSaveItem", lwMenuCaption, {"デフォルトパスに年月日番号でBITMAP保存", "Sauv. rapide BMP "}},
    {"TVLMain", "Window1", lwMenuCaption, {"ｳｨﾝﾄﾞｳ(&W)", "Fenêtre   "}},
    {"TVLMain", "WindowCascadeItem", lwMenuCaption, {"重ねて表示(&C)", "Cascade    "}},
    {"TVLMain", "WindowTileItem", lwMenuCaption, {"並べて表示(&C)", "Mosaîque"}},
    {"TVLMain", "WindowArrangeItem", lwMenuCaption, {"ｱｲｺﾝの整列(&A)", "Organiser  "}},
    {"TVLMain", "WindowMinimizeItem", lwMenuCaption, {"すべてをｱｲｺﾝ(&M)", "Réduire     "}},
    {"TVLMain", "ShowAllToolItem", lwMenuCaption, {"全てのツールを表示", "Révéler outils"}},
    {"TVLMain", "DefaultToolPosItem", lwMenuCaption, {"ツール位置の初期化", "Déf. position outils"}},
    {"TVLMain", "ToolWinItem", lwMenuCaption, {"ツールボックス表示", "Barre Outils"}},
    {"TVLMain", "ColorWinItem", lwMenuCaption, {"カラーパレット表示", "Palette couleur  "}},
    {"TVLMain", "BrushWinItem", lwMenuCaption, {"ブラシツール表示", "Config Outils   "}},
    {"TVLMain", "PreviewWinItem", lwMenuCaption, {"プレビュー表示", "Aperçu            "}},
    {"TVLMain", "LayerWinItem", lwMenuCaption, {"レイヤーウィンドウ表示", "Calques         "}},
    {"TVLMain", "NetworkItem", lwMenuCaption, {"ﾈｯﾄﾜｰｸ(&N)", "Réseau     "}},
    {"TVLMain", "NetHomepageItem", lwMenuCaption, {"VelloraのWebPageをブラウザで開く", "Support technique Vellora sur le Web.       "}},
    {"TVLMain", "NetUploadItem", lwMenuCaption, {"画像イベントデータのアップロードをブラウザで行う", "Charger une image sur le Web.  "}},
    {"TVLMain", "NetLatestItem", lwMenuCaption, {"最新の投稿を見る", "Voir les dessins du Web. "}},
    {"TVLMain", "NetClientItem", lwMenuCaption, {"ネットワークウィンドウ表示 (&N)...", "Démarrer un Réseau...    "}},
    {"TVLMain", "NetFinishItem", lwMenuCaption, {"ネットワークの終了 (&E)", "Arrêter Réseau       "}},
    {"TChatWindow", "", lwCaption, {"チャットウィンドウ", "Menu Chat "}},
    {"TNetWindow", "", lwCaption, {"ネットワークウィンドウ", "Menu Réseau  "}},
    {"TNetWindow", "TabSheet2", lwCaption, {"サーバ待機", "Server"}},
    {"TNetWindow", "TabSheet1", lwCaption, {"クライアント接続", "Client"}},
    {"TNetWindow", "TabSheet3", lwCaption, {"ネットワーク設定", "Préférences Réseau"}},
    {"TChatWindow", "LabelMessage", lwCaption, {"メッセージ", "Message"}},
    {"TNetWindow", "LabelNetWidth", lwCaption, {"幅", "Large"}},
    {"TNetWindow", "LabelNetHeight", lwCaption, {"高さ", "Hauteu"}},
    {"TNetWindow", "LabelPort", lwCaption, {"ポート番号", "Port"}},
    {"TNetWindow", "ButtonStandby", lwCaption, {"待機", "En Atten"}},
    {"TNetWindow", "LabelIP", lwCaption, {"接続先IP", "Connect IP"}},
    {"TNetWindow", "LabelMan", lwCaption, {"最大人数", "MaxMembre"}},
    {"TNetWindow", "LabelLayer", lwCaption, {"レイヤ数", "NbreCalq"}},
    {"TNetWindow", "LabelClientUser", lwCaption, {"ユーザ名", "Nom     "}},
    {"TNetWindow", "LabelServerUser", lwCaption, {"ユーザ名", "Nom     "}},
    {"TNetWindow", "LabelClientPassword", lwCaption, {"パスワード", "Motdepas"}},
    {"TNetWindow", "LabelServerPassword", lwCaption, {"パスワード", "Motdepas"}},
    {"TVLMain", "Help1", lwMenuCaption, {"ﾍﾙﾌﾟ(&H)", "Aide    "}},
    {"TVLMain", "N24", lwMenuCaption, {"簡易ヘルプウィンドウ表示(&H)...", "Afficher l'aide."}},
    {"TNewWindow", "", lwCaption, {"新規作成", "Nou"}},
    {"TNewWindow", "Label3", lwCaption, {"幅", "Large"}},
    {"TNewWindow", "Label4", lwCaption, {"高さ", "Hauteu"}},
    {"TColorWindow", "", lwCaption, {"カラーパレット", "Palette Coule"}},
    {"TColorWindow", "PaintBox3", lwHint, {"良く使う色を保存出来ます。左クリックで取り出し、右クリックで現在の色をストック出来ます。", "Vous pouvez prendre une couleur et la stocker pour le pinceau      ."}},
    {"TLayerWindow", "", lwCaption, {"レイヤー管理ウィンドウ", "Calques     "}},
    {"TPreviewWindow", "", lwCaption, {"プレビュー表示", "Aperçu        "}},
    {"TEzHelpWindow", "", lwCaption, {"簡易ヘルプウィンドウ", "Aide       "}},
    {"TPenWindow2", "CaptionPrefix", lwCaptionPrefix, {"筆情報 : ", "Info Outil: "}},
    {"TLayerWindow", "LayerItem", lwMenuCaption, {"レイヤー", "Créer"}},
    {"TLayerWindow", "MultiItem", lwMenuCaption, {"新規作成 (乗算レイヤ / 標準)", "Calque Multiple / Défaut       "}},
    {"TLayerWindow", "AddItem", lwMenuCaption, {"新規作成 (加算レイヤ)", "Calque Additionnel"}},
    {"TLayerWindow", "SubItem", lwMenuCaption, {"新規作成 (減算レイヤ)", "Calque Soustractif     "}},
    {"TLayerWindow", "DeleteItem", lwMenuCaption, {"アクティブレイヤの削除", "Suppr. (Calque actif)"}},
    {"TLayerWindow", "EditItem", lwMenuCaption, {"編集", "Edit"}},
    {"TLayerWindow", "CombineItem", lwMenuCaption, {"表示部分の統合", "Fusion Calq. visibles"}},
    {"TLayerWindow", "CopyItem", lwMenuCaption, {"アクティブレイヤの複製", "Copier (Cal. actif)"}},
    {"TLayerWindow", "CombLowerItem", lwMenuCaption, {"下のレイヤに統合", "Fusion vers le bas.   "}},
    {"TLayerWindow", "FilterItem", lwMenuCaption, {"フィルタ", "Image "}},
    {"TLayerWindow", "UpsideDownItem", lwMenuCaption, {"アクティブレイヤの上下反転", "Symétrie verticale (Calque actif)"}},
    {"TLayerWindow", "MirrorItem", lwMenuCaption, {"アクティブレイヤの左右反転", "Symétrie horizontale (Calque actif)"}},
    {"TLayerWindow", "NegaposiItem", lwMenuCaption, {"アクティブレイヤのネガポジ反転", "Négatif (Calque actif) "}},
    {"TLayerWindow", "Rot180Item", lwMenuCaption, {"アクティブレイヤの180度回転", "Rotation 180° (Calque actif)  "}},
    {"TEnvWindow", "", lwCaption, {"環境設定", "Preference"}},
    {"TEnvWindow", "LabelJpeg", lwCaption, {"JPEG保存品質", "JPEG Qualite     "}},
    {"TResoWindow", "LabelWidth", lwCaption, {"新規幅", "Nouv. La"}},
    {"TResoWindow", "LabelWidth2", lwCaption, {"新規幅", "Nouv. La"}},
    {"TResoWindow", "LabelHeight", lwCaption, {"新規高さ", "Nouv. Hau"}},
    {"TResoWindow", "LabelHeight2", lwCaption, {"新規高さ", "Nouv. Hau"}},
    {"TResoWindow", "CheckFixed", lwCaption, {"画像の縦横比の固定", "Conserver les proportions"}},
    {"TResoWindow", "LabelCaution", lwCaption, {"(注) 主に、画像の縮小に使ってください。", "                        "}},
    {"TSizeWindow", "LabelWidth", lwCaption, {"幅", "Large"}},
    {"TSizeWindow", "LabelHeight", lwCaption, {"高さ", "Hauteu"}},
    {"TSizeWindow", "RadioButton1", lwCaption, {"左上寄せ", "Haut-Ga"}},
    {"TSizeWindow", "RadioButton2", lwCaption, {"上寄せ", "Haut     "}},
    {"TSizeWindow", "RadioButton3", lwCaption, {"右上寄せ", "Haut-Droite"}},
    {"TSizeWindow", "RadioButton4", lwCaption, {"左寄せ", "Gauc"}},
    {"TSizeWindow", "RadioButton5", lwCaption, {"中央", "Centre"}},
    {"TSizeWindow", "RadioButton6", lwCaption, {"右寄せ", "Droit"}},
    {"TSizeWindow", "RadioButton7", lwCaption, {"左下寄せ", "Bas-Gauche"}},
    {"TSizeWindow", "RadioButton8", lwCaption, {"下寄せ", "Bas   "}},
    {"TSizeWindow", "RadioButton9", lwCaption, {"右下寄せ", "Bas-Droite "}},
    {"TEzHelpWindow", "TabSheet1", lwCaption, {"ショートカット", "Raccourcis"}},
};

const THelpLine kHelp[] = {
    {"[Ctrl][+] / [F5] 『ズームイン』", "[Ctrl][+] / [F5]  \"Zoom +\""},
    {"[Ctrl][-] / [F6] 『ズームアウト』", "[Ctrl][-] / [F6]  \"Zoom -\" "},
    {"[SPACE][Ctrl][クリック] 『ズームイン』", "[SPACE][Ctrl][Cliqu] \"Zoom +\""},
    {"[SPACE][Ctrl][Alt][クリック] 『ズームアウト』", "[SPACE][Ctrl][Alt][Cliqu] \"Zoom -\" "},
    {"", ""},
    {"[Ctrl][Alt][+] 『ズームイン（ウィンドウサイズ自動変更）』", "[Ctrl][Alt][+] \"Zoom + (Taille automatique)\""},
    {"[Ctrl][Alt][-] 『ズームアウト（ウィンドウサイズ自動変更）』", "[Ctrl][Alt][-] \"Zoom - (Taille automatique)\" "},
    {"[Ctrl][Z] 『アンドゥ （各レイヤに対して最大８回）』", "[Ctrl][Z] \"Annuler (Max 8fois/calque)"},
    {"", ""},
    {"[Delete] 『アクティブレイヤを無色化する』", "[Suppr] Suppr. calque "},
    {"[Insert] 『アクティブレイヤを描画色で塗りつぶす』", "[Inser] \"Remplit calque avec couleur\""},
    {"", ""},
    {"[SPACE][ドラッグ] 『表示画面のスクロール』", "[SPACE][Drag] \"Bouger vue\" "},
    {"[Alt][ドラッグ] 『表示画面の一時的な回転 ([Alt]で戻る)』", "[Alt][Drag] \"Rotat. vue  ([Alt] retour)\"   "},
    {"[Ctrl][Alt][ドラッグ] 『横移動で、ペンサイズを変更』", "[Ctrl][Alt][Drag] \"Epaisseur crayon\""},
    {"[右クリック] 又は [Shift]『スポイト：カーソル位置の色を、描画色に取り込む』", "[Click Droit] ou [Shift] \"Pipette:Prendre une couleur\"           "},
    {"[Ctrl+スポイト] 『アクティブレイヤの色を取り込む』", "[Ctrl+Pipet] \"Prendre couleur du calque\" "},
    {"", ""},
    {"[Tab]  『ツールウィンドウの表示・非表示切り替え』", "[Tab] \"Affi./Cacher Fenetres\""},
    {"[A] 『描画ツール・ペンに切り替え』", "[A] \"Outil/ Crayon\" "},
    {"[S] 『描画ツール・水彩に切り替え』", "[S] \"Outil/ Pinceau\"       "},
    {"[D] 『描画ツール・水滴に切り替え』", "[D] \"Outil/ Flou\"    "},
    {"[F] 『描画ツール・消しゴムに切り替え』", "[F] \"Outil/ Gomme\"     "},
    {"[E] 『描画ツールの、ひとつ左の設定にする』", "[E] \"Outil/ Aller vers reglage droite\"  "},
    {"[R] 『描画ツールの、ひとつ右の設定にする』", "[R] \"Outil/ Aller vers reglage gauche\" "},
    {"[ぼかし筆にダブルクリックで切りかえ] 『旧ぼかし筆に』", "[Changer  Flou  avec double click] \"Forme outil flou\" "},
    {"", ""},
    {"[Ctrl+レイヤ可視/不可視ボタンのクリック] 可視/不可視状態の全体反転』", "[Ctrl+ Bouton calque visible]\"Configurer calque inverse\"    "},
};

}  // namespace

namespace {

int g_language = 0;

void SetMessages(int language) {
  for (const TMessageRow& row : kMessages) *row.Message = row.Text[language];
}

// The messages hold the Japanese texts before the first switch.
const bool g_messagesReady = (SetMessages(0), true);

bool SameClass(const QObject* o, const char* formClass) {
  const char* name = o->metaObject()->className();
  const char* colon = std::strrchr(name, ':');
  return std::strcmp(colon ? colon + 1 : name, formClass) == 0;
}

QTabWidget* TabOwner(QWidget* page, int& index) {
  for (QWidget* p = page->parentWidget(); p; p = p->parentWidget()) {
    if (auto* tabs = qobject_cast<QTabWidget*>(p)) {
      index = tabs->indexOf(page);
      return index >= 0 ? tabs : nullptr;
    }
    if (!qobject_cast<QStackedWidget*>(p)) return nullptr;
  }
  return nullptr;
}

bool IsCaptionWidget(QWidget* w) {
  int index = -1;
  return qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) || qobject_cast<QGroupBox*>(w) ||
         TabOwner(w, index);
}

void ApplyText(QWidget* form, const TLabelRow& row, QObject* target, const QString& text) {
  switch (row.What) {
    case lwMenuCaption:
      static_cast<QAction*>(target)->setText(text);
      return;
    case lwHint:
      static_cast<QWidget*>(target)->setToolTip(text);
      return;
    case lwCaptionPrefix:
      form->setProperty(row.Target, text);
      return;
    case lwCaption:
      break;
  }
  auto* w = static_cast<QWidget*>(target);
  if (w == form) {
    w->setWindowTitle(text);
  } else if (auto* label = qobject_cast<QLabel*>(w)) {
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    button->setText(text);
  } else if (auto* box = qobject_cast<QGroupBox*>(w)) {
    box->setTitle(text);
  } else {
    int index = -1;
    if (QTabWidget* tabs = TabOwner(w, index)) tabs->setTabText(index, text);
  }
}

void FillHelp(int language) {
  QStringList lines;
  for (const THelpLine& line : kHelp) lines << QString::fromUtf8(line.Text[language]);
  for (QWidget* form : QApplication::topLevelWidgets()) {
    if (!SameClass(form, "TEzHelpWindow")) continue;
    const auto memos = form->findChildren<QWidget*>(QStringLiteral("Memo1"));
    if (memos.size() != 1) continue;
    // Rebuilt from empty every time, so repeated switches keep exactly the table's lines.
    if (auto* plain = qobject_cast<QPlainTextEdit*>(memos[0])) {
      plain->setPlainText(lines.join(QLatin1Char('\n')));
    } else if (auto* rich = qobject_cast<QTextEdit*>(memos[0])) {
      rich->setPlainText(lines.join(QLatin1Char('\n')));
    } else if (auto* list = qobject_cast<QListWidget*>(memos[0])) {
      list->clear();
      list->addItems(lines);
    }
  }
}

}  // namespace

std::span<const TMessageRow> MessageRows() { return kMessages; }
std::span<const TLabelRow> LabelRows() { return kLabels; }
std::span<const THelpLine> HelpLines() { return kHelp; }

int CurrentLanguage() { return g_language; }

QWidget* FindForm(const char* formClass) {
  if (!QApplication::instance()) return nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (SameClass(w, formClass)) return w;
  return nullptr;
}

namespace {
// The form's own children only: the tool windows the main window owns hold items of the same
// names (the layer window's CopyItem).
bool OwnedByForm(QObject* o, QWidget* form) {
  for (QObject* p = o; p; p = p->parent()) {
    auto* w = qobject_cast<QWidget*>(p);
    if (w && w->isWindow() && !qobject_cast<QMenu*>(w)) return w == form;
  }
  return false;
}
template <typename T>
QList<T*> OwnChildren(QWidget* form, const QString& name) {
  QList<T*> out;
  for (T* c : form->findChildren<T*>(name))
    if (OwnedByForm(c, form)) out.push_back(c);
  return out;
}
}  // namespace

QObject* ResolveLabelTarget(QWidget* form, const TLabelRow& row) {
  if (!form) return nullptr;
  const QString name = QString::fromUtf8(row.Target);
  switch (row.What) {
    case lwCaptionPrefix:
      return form->metaObject()->indexOfProperty(row.Target) >= 0 ? form : nullptr;
    case lwMenuCaption: {
      std::set<QAction*> found;
      for (QAction* a : OwnChildren<QAction>(form, name)) found.insert(a);
      for (QMenu* m : OwnChildren<QMenu>(form, name)) found.insert(m->menuAction());
      return found.size() == 1 ? *found.begin() : nullptr;
    }
    case lwHint: {
      const auto widgets = OwnChildren<QWidget>(form, name);
      return widgets.size() == 1 ? widgets[0] : nullptr;
    }
    case lwCaption: {
      if (name.isEmpty()) return form;
      const auto widgets = OwnChildren<QWidget>(form, name);
      return widgets.size() == 1 && IsCaptionWidget(widgets[0]) ? widgets[0] : nullptr;
    }
  }
  return nullptr;
}

std::string LabelTargetText(QWidget* form, const TLabelRow& row) {
  QObject* target = ResolveLabelTarget(form, row);
  if (!target) return {};
  QString text;
  if (row.What == lwMenuCaption) {
    text = static_cast<QAction*>(target)->text();
  } else if (row.What == lwHint) {
    text = static_cast<QWidget*>(target)->toolTip();
  } else if (row.What == lwCaptionPrefix) {
    text = form->property(row.Target).toString();
  } else {
    auto* w = static_cast<QWidget*>(target);
    int index = -1;
    if (w == form) text = w->windowTitle();
    else if (auto* label = qobject_cast<QLabel*>(w)) text = label->text();
    else if (auto* button = qobject_cast<QAbstractButton*>(w)) text = button->text();
    else if (auto* box = qobject_cast<QGroupBox*>(w)) text = box->title();
    else if (QTabWidget* tabs = TabOwner(w, index)) text = tabs->tabText(index);
  }
  return text.toStdString();
}

std::string LabelText(const char* formClass, const char* target) {
  for (const TLabelRow& row : kLabels)
    if (std::strcmp(row.Form, formClass) == 0 && std::strcmp(row.Target, target) == 0) return row.Text[g_language];
  return {};
}

void SetLanguage(int language) {
  language = language == 1 ? 1 : 0;
  g_language = language;
  SetMessages(language);
  if (!QApplication::instance()) return;
  // The toolkit's own buttons and dialogs speak the same language.
  plat::UseToolkitLanguage(language == 0 ? "ja" : "fr");
  const QWidgetList forms = QApplication::topLevelWidgets();
  for (const TLabelRow& row : kLabels) {
    const QString text = QString::fromUtf8(row.Text[language]);
    for (QWidget* form : forms) {
      if (!SameClass(form, row.Form)) continue;
      if (QObject* target = ResolveLabelTarget(form, row)) ApplyText(form, row, target, text);
    }
  }
  FillHelp(language);
  // Every text whole in the new language, at the forms' own font.
  for (QWidget* form : QApplication::topLevelWidgets())
    if (!qobject_cast<QMenu*>(form)) plat::FitControls(form);
}

std::optional<std::string> SystemLanguageName() {
  const char* locale = nullptr;
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) {
      locale = v;
      break;
    }
  }
  if (!locale) return std::nullopt;
  const std::string name = locale;
  if (name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0) return std::nullopt;
  if (name.rfind("ja", 0) == 0) return std::string("JPN");
  return name;
}

int LanguageOfSystemName(const std::optional<std::string>& name) {
  if (!name) return 0;
  return *name == "JPN" ? 0 : 1;
}

int StartLanguage(const plat::TRegistry& settings) {
  if (std::optional<bool> japanese = settings.ReadBool("Japanese")) return *japanese ? 0 : 1;
  return LanguageOfSystemName(SystemLanguageName());
}
