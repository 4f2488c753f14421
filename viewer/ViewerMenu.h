#pragma once
// The viewer's list window beside the playback window: chooses a folder and lists its event
// files, sorted by date or by name; a click plays a file; holds the playback options (slow
// playback, the pause between files); keeps the two windows docked; plays the file named on
// the command line at its first activation.
#include <QWidget>
#include <optional>
#include <string>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTimer;
class TForm1;

class TForm2 : public QWidget {
  Q_OBJECT
 public:
  // The address the logo opens.
  static const char* const kMakerPage;

  explicit TForm2(TForm1* form1, QWidget* parent = nullptr);
  ~TForm2() override;

  QPushButton* Button1;
  QListWidget* ListBox1;
  QGroupBox* RadioGroup1;
  QButtonGroup* RadioGroup1Items;
  QCheckBox* CheckBox1;
  QLabel* Label1;
  QSpinBox* SpinEdit1;
  QLabel* Label2;
  QCheckBox* CheckBox2;
  QLabel* Image1;
  QTimer* Timer1;

  TForm1* Form1;
  bool FirstActivation = true;
  // The program's first argument, when it has one.
  std::optional<std::string> CommandLineArgument;

  // RadioGroup1's chosen item: 0 by date, 1 by name.
  int SortChoice() const;
  // The list holds these file names; the row is selected without playing it.
  void ClearList();
  void AddToList(const std::string& name);
  void SelectRow(int row);
  // Plays the event files of a folder, as the folder choice does once a folder is chosen.
  void FolderChosen(const std::string& folder);

 public slots:
  void FormCreate();
  void FormActivate();
  void Button1Click();
  void ListBox1Click();
  void RadioGroup1Click();
  void Image1Click();
  void Timer1Timer();

 protected:
  void changeEvent(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  bool selecting_ = false;
};
