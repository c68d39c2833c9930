#pragma once
// PopUpButton: a button that shows the title of its selected item and opens its menu on a click;
// choosing an item selects it and then calls the selection handler. Selecting from code calls
// nothing, so the editors can rebuild a menu and select the model's value without writing it
// back. Items may carry a tag (plain items) or any QVariant as represented object; separators
// are never selected. With the focus, Up and Down step through the enabled items.
//
// A QWidget owned by its parent; it owns its menu and the menu its items. Main thread only.

#include <QMenu>
#include <QPushButton>
#include <QVariant>
#include <functional>
#include <vector>

namespace tw::app {

class PopUpButton : public QPushButton {
 public:
  explicit PopUpButton(QWidget* parent = nullptr);

  QMenu* itemMenu() const { return menu_; }
  void removeAllItems();
  // Takes the item over (its parent becomes the menu).
  void addItem(QAction* item);
  void addSeparator();
  // A plain item: no action, no shortcut.
  QAction* addItemWithTitle(const QString& title, int tag);

  // The selectable items in order (separators left out).
  std::vector<QAction*> items() const;
  QAction* selectedItem() const { return selected_; }
  int indexOfSelectedItem() const;
  // Selects the item (null or a foreign item clears the selection); no handler runs.
  void selectItem(QAction* item);
  // The first item with this tag / represented object; false (selection unchanged) when none.
  bool selectItemWithTag(int tag);
  bool selectItemWithRepresentedObject(const QVariant& object);
  static int tagOf(const QAction* item);

  // Runs after the user chose an item from the menu.
  void setSelectionHandler(std::function<void(PopUpButton*)> handler) {
    handler_ = std::move(handler);
  }
  // What a user's choice does: select, then run the handler.
  void chooseItem(QAction* item);

  QSize sizeHint() const override;

 protected:
  // The button, then the pop-up's arrow at its right end.
  void paintEvent(QPaintEvent* event) override;
  // Up and Down choose the previous or next enabled item without opening the menu.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void showMenu();
  void updateTitle();

  QMenu* menu_;
  QAction* selected_ = nullptr;
  std::function<void(PopUpButton*)> handler_;
};

}  // namespace tw::app
