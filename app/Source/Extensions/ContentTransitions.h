#pragma once
// Content transitions of a container widget: replaces the one content view a container shows,
// at once or with a fade and/or slide described by a BTViewTransition. The container remembers
// its content view and whether a replacement is running (kept by a small object the container
// owns); a request made while one runs, or for the view already shown, is dropped and its
// completion never called.
//
// Geometry is Qt's: y grows downwards. Slides keep the meaning of their direction: 1 leaves
// upwards (enters from below), 2 leaves to the right, 3 leaves downwards, 4 leaves to the left.
// Main thread only.

#include <QRect>
#include <QWidget>
#include <functional>
#include <memory>

class BTViewTransition;

namespace tw::app {

// The content view of `container`, or null.
QWidget* contentView(const QWidget* container);
bool isTransitioningViews(const QWidget* container);

void setContentView(QWidget* container, QWidget* view,
                    const std::shared_ptr<const BTViewTransition>& transition = nullptr,
                    std::function<void()> completion = {});

// Where the old content ends its slide: `frame` with one origin coordinate set from the
// container's `bounds` by `direction` (other directions leave it as it is).
QRect oldViewEndFrame(const QRect& frame, const QRect& bounds, long direction);
// Where the new content starts its slide: the same coordinate, negated.
QRect newViewStartFrame(const QRect& frame, const QRect& bounds, long direction);

}  // namespace tw::app
