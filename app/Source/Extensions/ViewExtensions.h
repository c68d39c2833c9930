#pragma once
// Small extensions of widgets and windows used by the screens: pinning a widget to its parent's
// edges, fitting a window to its content while keeping its top edge, centring a window over
// another, and a picture of a widget
// over a background colour (drag images). Main thread only.

#include <QColor>
#include <QImage>
#include <QMargins>
#include <QObject>
#include <QWidget>
#include <optional>

namespace tw::app {

// Keeps `view` at `insets` (top, left, bottom, right) from its parent's edges as the parent
// resizes; what constrainToParent returns. Deleting it (or the view) ends the pinning.
class EdgePinning : public QObject {
 public:
  EdgePinning(QWidget* view, QWidget* parent, const QMargins& insets);
  const QMargins& insets() const { return insets_; }
  void apply();

 protected:
  bool eventFilter(QObject* object, QEvent* event) override;

 private:
  QWidget* view_;
  QWidget* parent_;
  QMargins insets_;
};

// Removes `view` from its current parent (also when that is `parent`), adds it to `parent` and
// pins it there. The pinning is owned by the view.
EdgePinning* constrainToParent(QWidget* view, QWidget* parent, const QMargins& insets = {});

// Resizes the window to its layout's preferred size, keeping its top-left corner: with y
// growing downwards, the top edge stays by leaving y alone; the window grows or shrinks at the
// bottom. `animate` slides the size over a short animation.
void sizeToFitContentView(QWidget* window, bool animate);

// Places `window` (at its current size) centred over `over`'s window, kept whole on that
// window's screen. Without `over`, centred on the primary screen.
void centerOverWindow(QWidget* window, QWidget* over);

// The widget rendered into an image of its size; without a colour, transparent where the widget
// paints nothing; with one, over that colour.
QImage imageRepresentation(QWidget* view, const std::optional<QColor>& background);

// Sets the view's opacity (through an opacity effect it owns while not fully opaque), at once or
// over `durationMs` when animated and the view is shown. Fully transparent, the view is also
// hidden (so it is neither painted nor exposed to assistive technologies) until a later call
// makes it visible again.
void setViewAlpha(QWidget* view, double alpha, bool animated, int durationMs);

}  // namespace tw::app
