// A combo box whose items are "caption|image index", drawn with a picture from its image list.
#pragma once

#include <QComboBox>
#include <QList>
#include <QPixmap>

namespace korvel {

class TKRVImageComboBox : public QComboBox {
  Q_OBJECT
 public:
  explicit TKRVImageComboBox(QWidget* parent = nullptr);
  // The item height grows to image height + 4 when the font is smaller than that.
  void SetImageList(const QList<QPixmap>& images);
  const QList<QPixmap>& ImageList() const { return images_; }
  int ItemHeight() const { return itemHeight_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  friend class ImageItemDelegate;
  QList<QPixmap> images_;
  int itemHeight_;
};

}  // namespace korvel
