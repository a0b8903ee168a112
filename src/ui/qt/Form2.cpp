#include "ui/qt/Form2.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "ui/qt/KRVImageComboBox.h"
#include "ui/qt/Pictures.h"

namespace korvel {

TForm2::TForm2(const QString& caption, int preselected, QWidget* parent) : QDialog(parent) {
  setObjectName("Form2");
  setWindowTitle(caption);
  setFixedSize(320, 150);
  auto* picture = new QLabel(this);
  picture->setGeometry(16, 16, 56, 56);
  picture->setPixmap(GlobePicture({56, 56}));
  auto* prompt = new QLabel("Please select a language.", this);
  prompt->setGeometry(88, 16, 220, 22);
  box_ = new TKRVImageComboBox(this);
  box_->setObjectName("cbbLang");
  box_->setGeometry(88, 44, 100, 30);
  box_->SetImageList(LanguagePictures());
  box_->addItems({"|0", "|1", "|2"});
  box_->setCurrentIndex(preselected);
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("btnOK");
  ok->setGeometry(120, 104, 80, 30);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->geometry().center() - rect().center());
}

int TForm2::Chosen() const {
  return box_->currentIndex();
}

}  // namespace korvel
