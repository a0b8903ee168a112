// The language dialog shown when no language has been saved.
#pragma once

#include <QDialog>

namespace korvel {

class TKRVImageComboBox;

class TForm2 : public QDialog {
  Q_OBJECT
 public:
  TForm2(const QString& caption, int preselected, QWidget* parent = nullptr);
  int Chosen() const;
  TKRVImageComboBox* cbbLang() const { return box_; }

 private:
  TKRVImageComboBox* box_;
};

}  // namespace korvel
