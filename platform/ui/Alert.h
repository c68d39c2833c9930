#pragma once
// tw::ui::Alert: a modal alert with a message, an informative text, a style and buttons. Buttons
// are named by the index they were added under: Qt lays them out by role and platform habit (the
// cancel button may move to either side), so a result is always that index, never a position.
// The first button that is not the cancel button is the default (Return); the cancel button
// answers Escape and the window's close button.
//
// An Alert is a description: every run builds a fresh dialog from it, so one Alert may be shown
// again, and a window-modal run does not need the Alert to outlive it.
//
// Owned by platform/ui. Main thread only; running an alert off the main thread raises
// NSInternalInconsistencyException.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/WindowRef.h"

namespace tw::ui {

enum class AlertStyle { Warning, Informational, Critical };

class Alert {
 public:
  // The chosen button's index; nullopt when the alert closed without a button (the application
  // quit, the parent window went away, or no button answers Escape and the dialog was rejected).
  using Result = std::optional<std::size_t>;
  using Completion = std::function<void(Result)>;

  Alert() = default;

  const std::string& messageText() const { return messageText_; }
  void setMessageText(std::string text) { messageText_ = std::move(text); }
  // Shown in a smaller font below the message, selectable with the mouse; nothing is shown for
  // an empty text.
  const std::string& informativeText() const { return informativeText_; }
  void setInformativeText(std::string text) { informativeText_ = std::move(text); }
  // Warning unless set.
  AlertStyle style() const { return style_; }
  void setStyle(AlertStyle style) { style_ = style; }

  // Appends a button titled `title` (shown as written: '&' makes no mnemonic) and returns its
  // index. An alert without buttons shows Qt's own OK button, which reports no button.
  std::size_t addButton(std::string title);
  const std::vector<std::string>& buttonTitles() const { return buttonTitles_; }
  // The button that answers Escape; nullopt (the default) for none. An index past the last
  // button is ignored when the alert runs. Qt lets Escape choose the only button of a
  // one-button alert even when it is not the cancel button.
  std::optional<std::size_t> cancelButton() const { return cancelButton_; }
  void setCancelButton(std::optional<std::size_t> index) { cancelButton_ = index; }

  // Shows the alert application-modal and returns once it has closed. Main-queue work keeps
  // running meanwhile. Makes sure the application is set up (Application::ensure).
  Result runModal() const;
  // Shows the alert modal to `window` only and returns at once; `completion` runs on the main
  // queue once the alert has closed, exactly once, with nullopt when the window was destroyed
  // first. Without a window (empty or gone) the alert is application-modal instead.
  void beginSheetModalForWindow(const WindowRef& window, Completion completion) const;

 private:
  std::string messageText_;
  std::string informativeText_;
  AlertStyle style_ = AlertStyle::Warning;
  std::vector<std::string> buttonTitles_;
  std::optional<std::size_t> cancelButton_;
};

}  // namespace tw::ui
