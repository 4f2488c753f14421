#include "painter/FormEventMul.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "platform/qt/Desktop.h"
#include "platform/qt/Placement.h"
#include "platform/qt/TextFit.h"
#include "platform/qt/Translations.h"

TFormEventMul::TFormEventMul(QWidget* owner) : QDialog(owner) {
  setObjectName("FormEventMul");
  setWindowTitle("Importer un fichier event");
  setFont(plat::UiFont());
  setFixedSize(298, 162);
  setModal(true);
  plat::OpenAboveToolWindows(this);

  RadioGroup1 = new QGroupBox(QString::fromUtf8("Dimension pendant la lecture"), this);
  RadioGroup1->setObjectName("RadioGroup1");
  RadioGroup1->setGeometry(8, 8, 177, 57);
  RadioItem0 = new QRadioButton(QString::fromUtf8("Dimension par défaut."), RadioGroup1);
  RadioItem0->setObjectName("RadioItem0");
  RadioItem0->move(8, 16);
  RadioItem1 = new QRadioButton(QString::fromUtf8("Choisir un agrandissement."), RadioGroup1);
  RadioItem1->setObjectName("RadioItem1");
  RadioItem1->move(8, 34);
  RadioGroup1Items = new QButtonGroup(this);
  RadioGroup1Items->addButton(RadioItem0, 0);
  RadioGroup1Items->addButton(RadioItem1, 1);
  RadioItem0->setChecked(true);

  GroupBox1 = new QGroupBox("Agrandissement", this);
  GroupBox1->setObjectName("GroupBox1");
  GroupBox1->setGeometry(8, 72, 281, 81);
  ComboBox1 = new QComboBox(GroupBox1);
  ComboBox1->setObjectName("ComboBox1");
  ComboBox1->setGeometry(8, 16, 89, 20);
  ComboBox1->addItems({"0.5", "2.0", "3.0", "4.0", "5.0"});
  Label3 = new QLabel("Taille X", GroupBox1);
  Label3->setObjectName("Label3");
  Label3->move(104, 20);
  Label1 = new QLabel(GroupBox1);
  Label1->setObjectName("Label1");
  Label1->move(8, 44);
  Label2 = new QLabel(GroupBox1);
  Label2->setObjectName("Label2");
  Label2->move(8, 60);
  for (QLabel* l : {Label1, Label2}) l->setStyleSheet("color: red");

  BitBtn1 = new plat::TStandardButton(QDialogButtonBox::Ok, this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setGeometry(200, 8, 75, 25);
  BitBtn1->setDefault(true);
  BitBtn2 = new QPushButton("Annuler", this);
  BitBtn2->setObjectName("BitBtn2");
  BitBtn2->setGeometry(200, 36, 75, 25);
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
  connect(RadioGroup1Items, &QButtonGroup::idClicked, this, &TFormEventMul::RadioGroup1Click);
  FormCreate();
}

TFormEventMul::~TFormEventMul() = default;

void TFormEventMul::FormCreate() {
  ComboBox1->setCurrentIndex(1);
  RadioGroup1Click();
}

void TFormEventMul::RadioGroup1Click() {
  const bool chosen = RadioGroup1Items->checkedId() == 1;
  ComboBox1->setEnabled(chosen);
  GroupBox1->setEnabled(chosen);
}

float TFormEventMul::ComboMagnification(int index) {
  static const float scales[] = {0.5f, 2.0f, 3.0f, 4.0f, 5.0f};
  return index >= 0 && index < 5 ? scales[index] : 1.0f;
}

float TFormEventMul::Magnification() const {
  if (RadioGroup1Items->checkedId() != 1) return 1.0f;
  return ComboMagnification(ComboBox1->currentIndex());
}

void TFormEventMul::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  plat::FitControls(this);
  plat::CentreOnScreen(this);
}
