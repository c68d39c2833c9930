#pragma once
// PopUpListAccessible: what assistive technologies read of a combo box's pop-up list. The list
// lives in a popup window that is hidden until the combo box opens it, but Qt's own reading of a
// list asks only whether an item lies inside the list's rectangle, not whether the list is shown:
// the choices of a closed combo box (even of one in a closed window) were read as showing items.
// Here the list holds its items only while it is shown; the combo box itself still reads its
// current choice as its value. Items are read by their text, selected and focused as the list
// shows them, and the list's focus events (which name an item by its row) find them.
//
// The interfaces are made by Qt's accessibility factory and owned by Qt. Main thread only.

class PopUpListAccessible {
 public:
  // Registers the factory (once; later calls do nothing). Called before a combo box is made, so
  // that its list is read this way from the first.
  static void install();
};
