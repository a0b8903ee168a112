#include "ui/qt/HexEdit.h"

#include <QKeyEvent>

#include "ui/HexField.h"

namespace korvel {

std::optional<int64_t> THexEdit::Value() const {
  return HexFieldNumber(text().toStdString());
}

void THexEdit::SetValue(int64_t value) {
  setText(QString::fromStdString(HexFieldText(value)));
}

void THexEdit::keyPressEvent(QKeyEvent* event) {
  const QString typed = event->text();
  // Keys that type nothing (arrows, shortcuts, paste) and control keys (Return commits the
  // entry) pass; printable characters are filtered.
  if (isFilter_ && !typed.isEmpty() && event->key() != Qt::Key_Backspace) {
    for (const QChar c : typed) {
      if (c.unicode() >= 0x20 && c.unicode() != 0x7F && !HexFilterAccepts(char32_t(c.unicode()))) {
        event->ignore();
        return;
      }
    }
  }
  TKRVEdit::keyPressEvent(event);
}

}  // namespace korvel
