// The custom controls on Qt's offscreen platform: hover and editing colours of the text field,
// redundant colour sets, gradient directions (y down) and animation, placeholders, the modal
// window's loop; each control is also rendered to PNG when TW_CONTROLS_PNG_DIR is set.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QImage>
#include <QPixmap>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdlib>

#include "app/Source/Controls/BTCustomView.h"
#include "app/Source/Controls/BTGradientView.h"
#include "app/Source/Controls/BTStaticPlaceholderLargerView.h"
#include "app/Source/Controls/BTStaticPlaceholderView.h"
#include "app/Source/Controls/BTTextField.h"
#include "app/Source/Controls/BTTextFieldCell.h"
#include "app/Source/Controls/ElidingLabel.h"
#include "app/Source/Controls/ElidingLineEdit.h"
#include "app/Source/Controls/ModalWindow.h"
#include "platform/ui/Application.h"
#include "platform/ui/testsupport/UiTestSupport.h"

namespace {

class Controls : public ::testing::Test {
 protected:
  void SetUp() override { tw::ui::test::application(); }
};

void hover(QWidget* w, bool in) {
  if (in) {
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(w, &enter);
  } else {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(w, &leave);
  }
}

void focus(QWidget* w, bool in) {
  QFocusEvent event(in ? QEvent::FocusIn : QEvent::FocusOut, Qt::OtherFocusReason);
  QApplication::sendEvent(w, &event);
}

void savePng(QWidget* w, const char* name) {
  const char* dir = std::getenv("TW_CONTROLS_PNG_DIR");
  if (dir == nullptr) return;
  QDir().mkpath(dir);
  w->grab().save(QString("%1/%2.png").arg(dir, name));
}

const QColor kRed(255, 0, 0), kBlue(0, 0, 255), kGreen(0, 160, 0), kGrey(200, 200, 200);

}  // namespace

TEST_F(Controls, TextFieldStartsWithItsDefaultsAndClearColours) {
  BTTextField field;
  EXPECT_DOUBLE_EQ(field.cornerRadius(), 4.0);
  EXPECT_DOUBLE_EQ(field.borderWidth(), 1.2000000476837158);
  EXPECT_TRUE(field.hoverAnimationEnabled());
  EXPECT_DOUBLE_EQ(field.hoverAnimationDuration(), 0.375);
  EXPECT_FALSE(field.borderColor() || field.backgroundColor() || field.hoverBorderColor() ||
               field.hoverBackgroundColor());
  EXPECT_DOUBLE_EQ(field.cell().paddingVertical(), 0);
  field.setHoverAnimationEnabled(false);
  // No colours at all: clear in every state.
  for (bool hovered : {false, true}) {
    hover(&field, hovered);
    for (bool editing : {false, true}) {
      field.setEditing(editing);
      EXPECT_EQ(field.layerBorderColor().alpha(), 0);
      EXPECT_EQ(field.layerBackgroundColor().alpha(), 0);
    }
  }
}

TEST_F(Controls, TextFieldHighlightsWhileHoveredOrEditingWithFallbacks) {
  BTTextField field;
  field.setHoverAnimationEnabled(false);
  field.setBorderColor(kRed);  // no hover border colour: the normal one stays
  field.setBackgroundColor(kGrey);
  field.setHoverBackgroundColor(kBlue);
  EXPECT_EQ(field.layerBorderColor(), kRed);
  EXPECT_EQ(field.layerBackgroundColor(), kGrey);

  hover(&field, true);
  EXPECT_TRUE(field.isHovered());
  EXPECT_EQ(field.layerBorderColor(), kRed);
  EXPECT_EQ(field.layerBackgroundColor(), kBlue);
  EXPECT_EQ(field.cursor().shape(), Qt::IBeamCursor);

  focus(&field, true);  // editing keeps the highlight after the pointer leaves
  hover(&field, false);
  EXPECT_TRUE(field.isEditing());
  EXPECT_EQ(field.layerBackgroundColor(), kBlue);
  EXPECT_EQ(field.cursor().shape(), Qt::ArrowCursor);
  focus(&field, false);
  EXPECT_EQ(field.layerBackgroundColor(), kGrey);

  // A hover colour changed meanwhile applies only at the next hover change.
  field.setHoverBackgroundColor(kGreen);
  EXPECT_EQ(field.layerBackgroundColor(), kGrey);
  field.setReadOnly(true);
  hover(&field, true);
  EXPECT_EQ(field.layerBackgroundColor(), kGreen);
  EXPECT_EQ(field.cursor().shape(), Qt::ArrowCursor);  // not editable: no text cursor
}

TEST_F(Controls, TextFieldHoverAnimatesOverItsDuration) {
  BTTextField field;
  field.setBackgroundColor(kGrey);
  field.setHoverBackgroundColor(kBlue);
  field.setHoverAnimationDuration(0.2);
  QElapsedTimer timer;
  timer.start();
  hover(&field, true);
  EXPECT_TRUE(field.isAnimatingHover());
  EXPECT_NE(field.layerBackgroundColor(), kBlue);
  ASSERT_TRUE(tw::ui::test::runUntil([&] { return !field.isAnimatingHover(); }));
  EXPECT_GE(timer.elapsed(), 150);
  EXPECT_EQ(field.layerBackgroundColor(), kBlue);
  // Setting a normal colour applies at once, even over a running animation.
  hover(&field, false);
  field.setBackgroundColor(kGreen);
  EXPECT_FALSE(field.isAnimatingHover());
  EXPECT_EQ(field.layerBackgroundColor(), kGreen);
}

TEST_F(Controls, TextFieldInALayoutKeepsItsHeightThroughLayoutPasses) {
  // Its natural size must not follow the size a layout gave it, or every pass grows it.
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* field = new BTTextField;
  field->setText("07");
  layout->addWidget(field);
  window.show();
  const QSize hint = field->sizeHint();
  field->resize(field->width(), 400);
  EXPECT_EQ(field->sizeHint(), hint);
  for (int pass = 0; pass < 3; ++pass) {
    layout->invalidate();
    layout->activate();
  }
  EXPECT_EQ(window.sizeHint().height(), layout->sizeHint().height());
  EXPECT_EQ(field->sizeHint(), hint);
  EXPECT_GE(field->height(), field->fontMetrics().height()) << "the digits fit";
}

TEST_F(Controls, ElidingLabelCutsWithAnEllipsisAndOffersTheWholeText) {
  ElidingLabel label;
  label.setText("Display and speak message \"Tea is ready\"");
  label.resize(label.sizeHint());
  label.grab();
  EXPECT_FALSE(label.isElided());
  EXPECT_TRUE(label.toolTip().isEmpty());
  label.resize(60, label.height());
  label.grab();
  EXPECT_TRUE(label.isElided());
  EXPECT_EQ(label.toolTip(), label.text());
  EXPECT_LT(label.minimumSizeHint().width(), 30) << "layouts may narrow it";
}

TEST_F(Controls, ElidingLineEditShowsWhatFitsAndHoldsTheWholeTextForAnEdit) {
  ElidingLineEdit field;
  int edits = 0;
  QObject::connect(&field, &QLineEdit::textEdited, &field, [&] { ++edits; });
  field.resize(120, 30);
  field.show();
  const QString whole = "Steep the green tea for three minutes, then take the leaves out";
  field.setWholeText(whole);
  const QString narrow = field.text();
  EXPECT_TRUE(narrow.endsWith(QChar(0x2026)) && whole.startsWith(narrow.chopped(1)));
  field.resize(800, 30);
  EXPECT_EQ(field.text(), whole) << "widened, the whole text fits";
  field.resize(120, 30);
  EXPECT_EQ(field.text(), narrow) << "narrowed again, cut again";
  EXPECT_EQ(field.toolTip(), whole);
  EXPECT_EQ(field.accessibleName(), whole);
  field.setFixedAccessibleName("Title");
  EXPECT_EQ(field.accessibleName(), "Title");
  EXPECT_EQ(field.accessibleDescription(), whole);

  // An edit holds the whole text; typed text is the new whole text, cut once the edit ends.
  field.beginEditing();
  EXPECT_EQ(field.text(), whole);
  field.end(false);
  QTest::keyClicks(&field, " and drink it");
  field.endEditing();
  EXPECT_EQ(field.wholeText(), whole + " and drink it");
  EXPECT_TRUE(field.text().endsWith(QChar(0x2026)));
  EXPECT_EQ(edits, 13) << "only the keystrokes are edits";

  // A prefix of characters that take no room (combining marks) still ends in the ellipsis.
  const QString marks = "a" + QString(5000, QChar(0x0301));
  EXPECT_TRUE(tw::app::elideRight(marks, field.fontMetrics(), 100).endsWith(QChar(0x2026)));
  EXPECT_EQ(tw::app::elideRight("Tea", field.fontMetrics(), 100), "Tea");
}

TEST_F(Controls, TextCellCentresTheTextLineInTheTitleRect) {
  QRectF r = BTTextFieldCell::adjustedRect(QRectF(3, 10, 100, 30), 14);
  EXPECT_EQ(r, QRectF(3, 18, 100, 14));
  // Text taller than the rectangle overflows evenly on both sides.
  EXPECT_EQ(BTTextFieldCell::adjustedRect(QRectF(0, 0, 50, 10), 20), QRectF(0, -5, 50, 20));
}

TEST_F(Controls, CustomViewIgnoresTheColourItAlreadyHas) {
  BTCustomView view;
  EXPECT_EQ(view.backgroundColor().alpha(), 0);
  view.setBackgroundColor(kRed);
  view.setBackgroundColor(kRed);
  EXPECT_EQ(view.layerBackgroundChanges(), 1);
  view.resize(40, 20);
  EXPECT_EQ(view.grab().toImage().pixelColor(20, 10), kRed);
}

TEST_F(Controls, GradientDirectionsAreTheTableInYDownPoints) {
  BTGradientView view;
  EXPECT_EQ(view.direction(), 0);
  EXPECT_FALSE(view.colors() || view.locations());
  // Direction 0 runs from the bottom edge up; 5 from the bottom right to the top left.
  EXPECT_EQ(view.gradientLayer().startPoint, QPointF(0.5, 1.0));
  EXPECT_EQ(view.gradientLayer().endPoint, QPointF(0.5, 0.0));
  view.setDirection(5);
  EXPECT_EQ(view.gradientLayer().startPoint, QPointF(1.0, 1.0));
  EXPECT_EQ(view.gradientLayer().endPoint, QPointF(0.0, 0.0));
  view.setDirection(2);
  EXPECT_EQ(view.gradientLayer().startPoint, QPointF(0.0, 0.5));
  // Out of range: stored, points kept.
  view.setDirection(8);
  EXPECT_EQ(view.direction(), 8);
  EXPECT_EQ(view.gradientLayer().startPoint, QPointF(0.0, 0.5));
  EXPECT_EQ(view.gradientLayer().endPoint, QPointF(1.0, 0.5));
  view.setDirection(-1);
  EXPECT_EQ(view.gradientLayer().endPoint, QPointF(1.0, 0.5));
}

TEST_F(Controls, GradientPaintsFromStartToEndOnScreen) {
  BTGradientView view;
  view.resize(100, 100);
  view.setColors(std::vector<QColor>{kRed, kBlue});
  view.setDirection(0);  // red at the bottom, blue at the top
  QImage image = view.grab().toImage();
  EXPECT_GT(image.pixelColor(50, 97).red(), 200);
  EXPECT_GT(image.pixelColor(50, 2).blue(), 200);
  view.setDirection(5);  // red at the bottom right
  image = view.grab().toImage();
  EXPECT_GT(image.pixelColor(97, 97).red(), 200);
  EXPECT_GT(image.pixelColor(2, 2).blue(), 200);
  view.setLocations(std::vector<double>{0.0, 0.1});  // blue from a tenth of the way
  image = view.grab().toImage();
  EXPECT_GT(image.pixelColor(50, 50).blue(), 200);
}

TEST_F(Controls, GradientColoursAnimateOverHalfASecond) {
  BTGradientView view;
  view.setColors(std::vector<QColor>{kRed, kRed});
  QElapsedTimer timer;
  timer.start();
  view.setColors(std::vector<QColor>{kBlue, kBlue}, true);
  EXPECT_EQ(view.gradientLayer().colors->front(), kBlue);  // the target is set at once
  EXPECT_TRUE(view.isAnimating());
  EXPECT_NE(view.presentedLayer().colors->front(), kBlue);
  ASSERT_TRUE(tw::ui::test::runUntil([&] { return !view.isAnimating(); }));
  EXPECT_GE(timer.elapsed(), 400);
  EXPECT_EQ(view.presentedLayer().colors->front(), kBlue);
  // An absent block changes nothing, animated or not.
  view.setGradientLayerValue(nullptr, true);
  view.setGradientLayerValue(nullptr, false);
  EXPECT_EQ(view.presentedLayer().colors->front(), kBlue);
}

TEST_F(Controls, PlaceholderHidesWhatHasNothingToShow) {
  BTStaticPlaceholderLargerView view;
  view.resize(300, 200);
  view.show();
  EXPECT_FALSE(view.testAttribute(Qt::WA_AcceptTouchEvents));
  view.titleLabel()->setText("No Timers");
  view.detailsLabel()->setText("");
  view.updateUi();
  EXPECT_TRUE(view.imageView()->isHidden());
  EXPECT_FALSE(view.titleLabel()->isHidden());
  EXPECT_TRUE(view.detailsLabel()->isHidden());
  QPixmap pixmap(32, 32);
  pixmap.fill(kGrey);
  view.imageView()->setPixmap(pixmap);
  view.detailsLabel()->setText("Press + to add one.");
  view.updateUi();
  EXPECT_FALSE(view.imageView()->isHidden());
  EXPECT_FALSE(view.detailsLabel()->isHidden());
  EXPECT_EQ(view.backgroundImageView()->geometry(), view.rect());
}

TEST_F(Controls, ModalWindowRunsItsLoopUntilClosedWithoutACloseButton) {
  auto* content = new QWidget;
  content->resize(200, 100);
  bool wasModal = false, hadCloseButton = true, tickedInside = false;
  QTimer::singleShot(50, [&] {
    ModalWindow* window = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* m = qobject_cast<ModalWindow*>(w); m && m->isVisible()) window = m;
    }
    ASSERT_NE(window, nullptr);
    wasModal = window->windowModality() == Qt::ApplicationModal;
    hadCloseButton = window->windowFlags().testFlag(Qt::WindowCloseButtonHint);
    QTimer::singleShot(20, [&tickedInside, window] {
      tickedInside = true;  // events keep flowing inside the modal loop
      window->close();
    });
  });
  auto window = ModalWindow::presentWithContentViewController(content);
  EXPECT_TRUE(wasModal);
  EXPECT_FALSE(hadCloseButton);
  EXPECT_TRUE(tickedInside);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(window->contentViewController(), content);
}

namespace {

bool near(QColor a, QColor b, int tolerance = 6) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

// The smallest rectangle holding every pixel of `colour`.
QRect boundsOf(const QImage& image, QColor colour) {
  QRect bounds;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (near(image.pixelColor(x, y), colour, 2)) bounds |= QRect(x, y, 1, 1);
  return bounds;
}

}  // namespace

// Each control drawn as it shows on screen (saved as PNG files when TW_CONTROLS_PNG_DIR names a
// folder), with its colours and parts where they belong.
TEST_F(Controls, RendersEachControlToPng) {
  QWidget panel;
  panel.resize(360, 60);
  QPalette p = panel.palette();
  p.setColor(QPalette::Window, QColor(236, 236, 236));
  panel.setPalette(p);
  panel.setAutoFillBackground(true);
  auto* normal = new BTTextField(&panel);
  normal->setGeometry(10, 14, 160, 30);
  normal->setText("Morning run");
  normal->setBorderColor(QColor(180, 180, 180));
  normal->setBackgroundColor(Qt::white);
  auto* hovered = new BTTextField(&panel);
  hovered->setGeometry(190, 14, 160, 30);
  hovered->setText("Hovered");
  hovered->setHoverAnimationEnabled(false);
  hovered->setBorderColor(QColor(180, 180, 180));
  hovered->setHoverBorderColor(QColor(40, 120, 230));
  hovered->setHoverBackgroundColor(QColor(232, 242, 255));
  hover(hovered, true);
  savePng(&panel, "text_fields");
  const QImage fields = panel.grab().toImage();
  // Inside, right of the text: each field's own background.
  EXPECT_TRUE(near(fields.pixelColor(10 + 150, 14 + 15), Qt::white));
  EXPECT_TRUE(near(fields.pixelColor(190 + 150, 14 + 15), QColor(232, 242, 255)));
  EXPECT_GT(boundsOf(fields, QColor(40, 120, 230)).height(), 20) << "the hover border is drawn";
  EXPECT_TRUE(boundsOf(fields, QColor(40, 120, 230)).intersected(normal->geometry()).isEmpty());
  EXPECT_TRUE(near(fields.pixelColor(180, 5), QColor(236, 236, 236))) << "the panel between";

  BTCustomView custom;
  custom.resize(120, 40);
  custom.setBackgroundColor(QColor(70, 130, 180));
  savePng(&custom, "custom_view");
  EXPECT_EQ(boundsOf(custom.grab().toImage(), QColor(70, 130, 180)), custom.rect());

  // Every direction runs between the two colours, and no two directions draw the same picture.
  std::set<std::vector<QRgb>> corners;
  for (int d = 0; d < 8; ++d) {
    BTGradientView gradient;
    gradient.resize(120, 80);
    gradient.setColors(std::vector<QColor>{QColor(255, 140, 0), QColor(120, 0, 200)});
    gradient.setDirection(d);
    savePng(&gradient, QString("gradient_direction_%1").arg(d).toUtf8().constData());
    const QImage image = gradient.grab().toImage();
    std::vector<QRgb> c;
    for (QPoint at : {QPoint(0, 0), QPoint(119, 0), QPoint(0, 79), QPoint(119, 79)})
      c.push_back(image.pixel(at));
    EXPECT_NE(*std::min_element(c.begin(), c.end()), *std::max_element(c.begin(), c.end()))
        << "direction " << d << " draws one colour";
    corners.insert(c);
  }
  EXPECT_EQ(corners.size(), 8u);

  BTStaticPlaceholderLargerView placeholder;
  placeholder.resize(320, 220);
  QPixmap icon(48, 48);
  icon.fill(QColor(190, 20, 150));
  placeholder.imageView()->setPixmap(icon);
  placeholder.titleLabel()->setText("No Timers");
  placeholder.detailsLabel()->setText("Add a timer, an alarm or a stopwatch.");
  placeholder.updateUi();
  savePng(&placeholder, "placeholder");
  const QImage shown = placeholder.grab().toImage();
  const QRect picture = boundsOf(shown, QColor(190, 20, 150));
  EXPECT_EQ(picture.size(), QSize(48, 48)) << "the picture is shown whole";
  EXPECT_NEAR(picture.center().x(), 160, 2) << "centred";
  for (QLabel* label : {placeholder.titleLabel(), placeholder.detailsLabel()}) {
    const QRect at = label->geometry();
    EXPECT_TRUE(placeholder.rect().contains(at)) << label->text().toStdString();
    EXPECT_GE(at.width(), label->fontMetrics().horizontalAdvance(label->text()))
        << label->text().toStdString() << " is cut";
    EXPECT_GT(at.top(), picture.bottom()) << "texts under the picture";
  }
}
