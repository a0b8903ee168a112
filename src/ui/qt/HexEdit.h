// The window's own edits: TKRVEdit (an edit with an alignment) and THexEdit (hexadecimal,
// optionally filtering what is typed).
#pragma once

#include <QLineEdit>
#include <cstdint>
#include <optional>

namespace korvel {

class TKRVEdit : public QLineEdit {
  Q_OBJECT
  Q_PROPERTY(Qt::Alignment Alignment READ Alignment WRITE SetAlignment)
 public:
  explicit TKRVEdit(QWidget* parent = nullptr) : QLineEdit(parent) {}
  Qt::Alignment Alignment() const { return alignment(); }
  void SetAlignment(Qt::Alignment a) { setAlignment(a); }
};

class THexEdit : public TKRVEdit {
  Q_OBJECT
  Q_PROPERTY(bool IsFilter READ IsFilter WRITE SetIsFilter)
 public:
  explicit THexEdit(QWidget* parent = nullptr) : TKRVEdit(parent) {}
  bool IsFilter() const { return isFilter_; }
  void SetIsFilter(bool on) { isFilter_ = on; }
  // The text as a hexadecimal number, empty as 0; nothing when it is not hexadecimal.
  std::optional<int64_t> Value() const;
  // Upper-case hex without leading zeros; 0 or less empties the field.
  void SetValue(int64_t value);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool isFilter_ = true;
};

}  // namespace korvel
