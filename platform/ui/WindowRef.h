#pragma once
// tw::ui::WindowRef: a reference to a top-level window that code without Qt in its headers can
// hold and pass on (the core's alert presenter takes one to attach a sheet to). It never keeps the
// window alive: once the window is destroyed the reference reads as empty.
//
// Owned by platform/ui. Copyable value; create and read it on the main thread.

#include <memory>

class QWidget;

namespace tw::ui {

class WindowRef {
 public:
  // An empty reference.
  WindowRef() = default;
  // Refers to the window that holds `widget` (the widget itself when it is a window); null gives
  // an empty reference.
  explicit WindowRef(QWidget* widget);

  // The window, or nullptr when the reference is empty or the window is gone.
  QWidget* widget() const;
  explicit operator bool() const { return widget() != nullptr; }

 private:
  struct Impl;
  std::shared_ptr<const Impl> impl_;
};

}  // namespace tw::ui
