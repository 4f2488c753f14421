#include "viewer/ViewerMenu.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include "platform/qt/Desktop.h"
#include "platform/qt/Placement.h"
#include "platform/qt/TextFit.h"
#include "viewer/Viewer.h"

// A reserved name: the maker has no address of its own to give.
const char* const TForm2::kMakerPage = "https://brenmoor.example/vellora/";

namespace {

// The maker's logo, drawn here rather than shipped as a picture.
QPixmap MakerLogo() {
  QPixmap pm(128, 38);
  QPainter p(&pm);
  QLinearGradient g(0, 0, 128, 38);
  g.setColorAt(0, QColor(0x2B, 0x4C, 0x7E));
  g.setColorAt(1, QColor(0x8F, 0xB8, 0xDE));
  p.fillRect(pm.rect(), g);
  p.setPen(Qt::white);
  QFont f = plat::UiFont(15);
  f.setBold(true);
  p.setFont(f);
  p.drawText(QRect(0, 2, 128, 22), Qt::AlignCenter, QStringLiteral("Brenmoor"));
  p.setFont(plat::UiFont(10));
  p.drawText(QRect(0, 22, 128, 14), Qt::AlignCenter, QStringLiteral("Vellora Viewer"));
  return pm;
}

}  // namespace

TForm2::TForm2(TForm1* form1, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Form1(form1) {
  setObjectName("Form2");
  setWindowTitle(QStringLiteral("[vl] Viewer1.1- b13 FR"));
  setFont(plat::UiFont(12));
  setFixedSize(129, 342);

  Button1 = new QPushButton(QStringLiteral(" Ouvrir dossier (*.wpe)  "), this);
  Button1->setObjectName("Button1");
  Button1->setGeometry(4, 4, 121, 25);
  connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);

  ListBox1 = new QListWidget(this);
  ListBox1->setObjectName("ListBox1");
  ListBox1->setGeometry(0, 32, 128, 153);
  connect(ListBox1, &QListWidget::itemClicked, this, [this] { ListBox1Click(); });
  // Moving the selection with the keys plays the file too; a click has its own signal.
  connect(ListBox1, &QListWidget::currentRowChanged, this, [this](int) {
    if (!selecting_ && QApplication::mouseButtons() == Qt::NoButton) ListBox1Click();
  });

  RadioGroup1 = new QGroupBox(QStringLiteral("Liste des fichiers"), this);
  RadioGroup1->setObjectName("RadioGroup1");
  RadioGroup1->setGeometry(0, 192, 129, 49);
  RadioGroup1Items = new QButtonGroup(this);
  auto* byDate = new QRadioButton(QStringLiteral("par date"), RadioGroup1);
  auto* byName = new QRadioButton(QStringLiteral("par nom"), RadioGroup1);
  byDate->setGeometry(8, 16, 110, 15);
  byName->setGeometry(8, 32, 110, 15);
  RadioGroup1Items->addButton(byDate, 0);
  RadioGroup1Items->addButton(byName, 1);
  byDate->setChecked(true);
  connect(RadioGroup1Items, &QButtonGroup::idClicked, this, [this](int) { RadioGroup1Click(); });

  CheckBox1 = new QCheckBox(QStringLiteral("Ralentir la lecture"), this);
  CheckBox1->setObjectName("CheckBox1");
  CheckBox1->setGeometry(8, 244, 110, 17);

  Label1 = new QLabel(QStringLiteral("Temps lecture  "), this);
  Label1->setObjectName("Label1");
  Label1->setGeometry(1, 266, 70, 12);

  SpinEdit1 = new QSpinBox(this);
  SpinEdit1->setObjectName("SpinEdit1");
  SpinEdit1->setGeometry(72, 262, 41, 21);
  SpinEdit1->setRange(0, 60);
  SpinEdit1->setValue(3);

  Label2 = new QLabel(QStringLiteral("ms"), this);
  Label2->setObjectName("Label2");
  Label2->setGeometry(113, 268, 12, 12);

  CheckBox2 = new QCheckBox(QString::fromUtf8("Fenêtre collée"), this);
  CheckBox2->setObjectName("CheckBox2");
  CheckBox2->setGeometry(8, 286, 113, 17);
  CheckBox2->setChecked(true);

  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setGeometry(0, 304, 128, 38);
  Image1->setPixmap(MakerLogo());
  Image1->setCursor(Qt::PointingHandCursor);
  Image1->installEventFilter(this);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(300);
  connect(Timer1, &QTimer::timeout, this, &TForm2::Timer1Timer);

  // Every text whole at the form's font, every list row as tall as its line.
  plat::FitListRows(ListBox1, 12);
  plat::FitControls(this);

  if (Form1) Form1->Form2 = this;
  FormCreate();
}

TForm2::~TForm2() {
  if (Form1 && Form1->Form2 == this) Form1->Form2 = nullptr;
}

void TForm2::FormCreate() {
  if (Form1) plat::PlaceBeside(this, Form1, true);
  FirstActivation = true;
}

int TForm2::SortChoice() const { return RadioGroup1Items->checkedId() == 1 ? 1 : 0; }

void TForm2::ClearList() {
  selecting_ = true;
  ListBox1->clear();
  selecting_ = false;
}

void TForm2::AddToList(const std::string& name) {
  selecting_ = true;
  ListBox1->addItem(QString::fromStdString(name));
  selecting_ = false;
}

void TForm2::SelectRow(int row) {
  selecting_ = true;
  ListBox1->setCurrentRow(row);
  selecting_ = false;
}

void TForm2::FormActivate() {
  Timer1->start();
  if (Form1) Form1->Timer1->start();
  if (!FirstActivation) return;
  FirstActivation = false;
  if (Form1 && CommandLineArgument && plat::UpperExtension(*CommandLineArgument) == ".WPE")
    Form1->OpenSingleFile(*CommandLineArgument);
}

void TForm2::Button1Click() {
  const QString start = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  const QString dir = QFileDialog::getExistingDirectory(
      this, QString::fromUtf8("Sélectionnez un dossier avec des fichiers WPE  "), start, QFileDialog::ShowDirsOnly);
  if (dir.isEmpty()) return;
  FolderChosen(dir.toStdString() + "/");
}

void TForm2::FolderChosen(const std::string& folder) {
  if (!Form1) return;
  {
    plat::TBusyCursor busy;  // a folder of thousands of files, or on a slow disk, takes a while
    if (!Form1->ScanFolder(folder)) return;
  }
  if (SortChoice() == 0) Form1->SortByDate();
  else Form1->SortByName();
  Form1->WaitingNext = 0;
  Form1->Playing = 0;
  Form1->OpenEventFile(Form1->Paths[0]);
  Form1->FileIndex = 0;
  SelectRow(0);
}

void TForm2::ListBox1Click() {
  if (!Form1 || ListBox1->count() == 0) return;
  const int index = ListBox1->currentRow();
  if (index < 0 || !ListBox1->currentItem() || !ListBox1->currentItem()->isSelected()) return;
  if (index >= Form1->FileCount) return;
  Form1->WaitingNext = 0;
  Form1->Playing = 0;
  Form1->FileIndex = index;
  Form1->OpenEventFile(Form1->Paths[index]);
}

void TForm2::RadioGroup1Click() {
  if (!Form1) return;
  if (SortChoice() == 1) Form1->SortByName();
  else Form1->SortByDate();
}

void TForm2::Image1Click() { QDesktopServices::openUrl(QUrl(QString::fromLatin1(kMakerPage))); }

void TForm2::Timer1Timer() {
  if (!Form1 || !isActiveWindow() || !CheckBox2->isChecked()) return;
  // A maximised playback window keeps its place.
  if (Form1->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)) return;
  plat::PlaceBeside(Form1, this, false);
}

void TForm2::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

void TForm2::closeEvent(QCloseEvent* e) {
  e->accept();
  // FormClose: closing the list window closes the playback window, which ends the program.
  if (Form1 && Form1->isVisible()) Form1->close();
}

bool TForm2::eventFilter(QObject* watched, QEvent* e) {
  if (watched == Image1 && e->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton && Image1->rect().contains(static_cast<QMouseEvent*>(e)->pos())) {
    Image1Click();
    return true;
  }
  return QWidget::eventFilter(watched, e);
}
