#include "painter/FormEventMul.h"

TFormEventMul::TFormEventMul(QWidget* owner) : QDialog(owner) { setObjectName("FormEventMul"); }
TFormEventMul::~TFormEventMul() = default;
float TFormEventMul::Magnification() const { return 1.0f; }
