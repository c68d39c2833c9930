#pragma once
// BTViewTransitionSubject: what a content controller shown by the detail pane may say about the
// transition that brings it in. Every method is optional: a subject says which ones it
// implements, and the detail pane asks only those. Main thread only.

#include <memory>

class BTViewTransition;

class BTViewTransitionSubject {
 public:
  virtual ~BTViewTransitionSubject() = default;

  virtual bool implementsWillPerformTransition() const { return false; }
  virtual bool implementsDidPerformTransition() const { return false; }
  virtual bool implementsPreferredTransitionStartAlphaValue() const { return false; }
  virtual bool implementsPreferredTransitionEndAlphaValue() const { return false; }

  virtual void willPerformTransition(const std::shared_ptr<const BTViewTransition>&) {}
  virtual void didPerformTransition(const std::shared_ptr<const BTViewTransition>&) {}
  virtual double preferredTransitionStartAlphaValue() const { return 0.0; }
  virtual double preferredTransitionEndAlphaValue() const { return 1.0; }
};
