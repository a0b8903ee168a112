// Messages the core raises before the window is on screen. Opened then, a message box would
// stand where no window is: it waits, and so does every message behind it, until the window
// shows them in order.
#pragma once

#include <deque>
#include <functional>
#include <string>

namespace korvel {

class PendingMessages {
 public:
  struct Message {
    std::string dialog, caption, text;
  };
  // Keeps the message when it must wait (the window is not shown, or others wait already);
  // false when the window may show it now.
  bool Hold(bool windowShown, Message message) {
    if (windowShown && queue_.empty()) return false;
    queue_.push_back(std::move(message));
    return true;
  }
  bool Empty() const { return queue_.empty(); }
  // Shows the waiting messages in order while `canShow` holds; a message box's own loop that
  // comes back here does nothing.
  void ShowAll(const std::function<bool()>& canShow,
               const std::function<void(const Message&)>& show) {
    if (showing_) return;
    showing_ = true;
    while (!queue_.empty() && canShow()) {
      const Message m = queue_.front();
      show(m);
      queue_.pop_front();
    }
    showing_ = false;
  }

 private:
  std::deque<Message> queue_;
  bool showing_ = false;
};

}  // namespace korvel
