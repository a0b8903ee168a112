#include "ui/qt/KRVImageComboBox.h"

#include <QPainter>
#include <QStylePainter>
#include <QStyledItemDelegate>

#include "ui/HexField.h"

namespace korvel {

class ImageItemDelegate : public QStyledItemDelegate {
 public:
  explicit ImageItemDelegate(TKRVImageComboBox* box) : QStyledItemDelegate(box), box_(box) {}
  void paint(QPainter* p, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const ImageItem item = ParseImageItem(index.data().toString().toStdString());
    p->fillRect(option.rect,
                (option.state & QStyle::State_Selected) ? QColor(0xDD, 0xE8, 0xF4) : Qt::white);
    int x = option.rect.left();
    const auto& images = box_->images_;
    if (!images.isEmpty()) {
      if (item.imageIndex >= 0 && item.imageIndex < images.size())
        p->drawPixmap(x, option.rect.top() + 2, images[item.imageIndex]);
      x += images.first().width() + 4;
    }
    p->setPen(box_->palette().color(QPalette::Text));
    const int y = option.rect.top() + option.rect.height() / 2 - option.fontMetrics.height() / 2;
    p->drawText(QRect(x, y, option.rect.right() - x, option.fontMetrics.height()), Qt::AlignLeft,
                QString::fromStdString(item.caption));
  }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize s = QStyledItemDelegate::sizeHint(option, index);
    s.setHeight(box_->itemHeight_);
    return s;
  }

 private:
  TKRVImageComboBox* box_;
};

TKRVImageComboBox::TKRVImageComboBox(QWidget* parent)
    : QComboBox(parent), itemHeight_(fontMetrics().height() + 2) {
  setItemDelegate(new ImageItemDelegate(this));
}

void TKRVImageComboBox::SetImageList(const QList<QPixmap>& images) {
  images_ = images;
  if (!images.isEmpty() && fontMetrics().height() < images.first().height() + 4)
    itemHeight_ = images.first().height() + 4;
  update();
}

void TKRVImageComboBox::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionComboBox option;
  initStyleOption(&option);
  option.currentText.clear();
  option.currentIcon = QIcon();
  painter.drawComplexControl(QStyle::CC_ComboBox, option);
  if (currentIndex() < 0) return;
  const ImageItem item = ParseImageItem(currentText().toStdString());
  const QRect area =
      style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
  int x = area.left();
  if (!images_.isEmpty()) {
    if (item.imageIndex >= 0 && item.imageIndex < images_.size())
      painter.drawPixmap(x, area.top() + (area.height() - images_[item.imageIndex].height()) / 2,
                         images_[item.imageIndex]);
    x += images_.first().width() + 4;
  }
  painter.drawText(QRect(x, area.top(), area.right() - x, area.height()),
                   Qt::AlignVCenter | Qt::AlignLeft, QString::fromStdString(item.caption));
}

}  // namespace korvel
