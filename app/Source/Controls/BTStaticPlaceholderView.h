#pragma once
// BTStaticPlaceholderView: the empty-state placeholder of a list (an image above a title and a
// line of details, centred). Screens set the image and texts, then call updateUi, which hides
// whatever has nothing to show.
//
// A QWidget owned by its parent widget; the outlets are its children. Main thread only.

#include <QLabel>
#include <QWidget>

class BTStaticPlaceholderView : public QWidget {
  Q_OBJECT

 public:
  explicit BTStaticPlaceholderView(QWidget* parent = nullptr);

  QLabel* imageView() const { return imageView_; }
  QLabel* titleLabel() const { return titleLabel_; }
  QLabel* detailsLabel() const { return detailsLabel_; }

  void updateUi();

 protected:
  virtual void awakeFromNib();

 private:
  QLabel* imageView_;
  QLabel* titleLabel_;
  QLabel* detailsLabel_;
};
