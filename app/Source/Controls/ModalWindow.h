#pragma once
// ModalWindow: a window that shows a piece of content application-modally. present… runs the
// modal loop (Qt's event loop, with the main queue inside it) until the window closes, however it
// is closed; the window has a title and shows no close button of its own: the content closes it
// (close()) when it is done. It is a fixed-size dialog, sized by its content, never by hand: no
// resize grip, minimise or maximise button.
//
// present… returns the closed window, owned by the caller; the window owns its content. Main
// thread only.

#include <QDialog>
#include <memory>

class ModalWindow : public QDialog {
  Q_OBJECT

 public:
  // Shows `content` (the window takes it over) in a new ModalWindow and returns once the window
  // has closed.
  static std::unique_ptr<ModalWindow> presentWithContentViewController(QWidget* content);

  explicit ModalWindow(QWidget* parent = nullptr);

  QWidget* contentViewController() const { return content_; }
  void setContentViewController(QWidget* content);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QWidget* content_ = nullptr;
};
