#include "platform/ui/Alert.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <memory>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Exception.h"
#include "platform/ui/Application.h"

namespace tw::ui {

namespace {

QString toQString(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QMessageBox::Icon iconFor(AlertStyle style) {
  switch (style) {
    case AlertStyle::Informational:
      return QMessageBox::Information;
    case AlertStyle::Critical:
      return QMessageBox::Critical;
    case AlertStyle::Warning:
      break;
  }
  return QMessageBox::Warning;
}

// The dialog built for one run, with its buttons in the order they were added.
struct Built {
  QMessageBox* box = nullptr;
  std::vector<const QAbstractButton*> buttons;

  Alert::Result chosen() const {
    const QAbstractButton* clicked = box->clickedButton();
    for (std::size_t i = 0; i < buttons.size(); ++i) {
      if (clicked && buttons[i] == clicked) return i;
    }
    return std::nullopt;
  }
};

Built build(const Alert& alert, QWidget* parent) {
  Built built;
  auto* box = new QMessageBox(parent);
  built.box = box;
  // Titles and messages come from the user (timer names, custom messages): never rich text.
  box->setTextFormat(Qt::PlainText);
  box->setText(toQString(alert.messageText()));
  box->setInformativeText(toQString(alert.informativeText()));
  // setTextFormat covers the message only; the informative label would still guess at markup.
  // The informative text often names an address or a path the user wants to copy.
  if (auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
    informative->setTextFormat(Qt::PlainText);
    informative->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }
  box->setIcon(iconFor(alert.style()));

  const auto& titles = alert.buttonTitles();
  std::optional<std::size_t> cancel = alert.cancelButton();
  if (cancel && *cancel >= titles.size()) cancel.reset();
  std::optional<std::size_t> defaultButton;
  for (std::size_t i = 0; i < titles.size() && !defaultButton; ++i) {
    if (i != cancel) defaultButton = i;
  }

  for (std::size_t i = 0; i < titles.size(); ++i) {
    QMessageBox::ButtonRole role = QMessageBox::ActionRole;
    if (i == cancel)
      role = QMessageBox::RejectRole;
    else if (i == defaultButton)
      role = QMessageBox::AcceptRole;
    QString text = toQString(titles[i]);
    text.replace(QLatin1Char('&'), QLatin1String("&&"));
    QPushButton* button = box->addButton(text, role);
    built.buttons.push_back(button);
    if (i == defaultButton) box->setDefaultButton(button);
    if (i == cancel) box->setEscapeButton(button);
  }
  return built;
}

void requireMain(const char* what) {
  if (!isMainThread())
    raise(NSInternalInconsistencyException,
          std::string(what) + " must be called on the main thread");
}

}  // namespace

std::size_t Alert::addButton(std::string title) {
  buttonTitles_.push_back(std::move(title));
  return buttonTitles_.size() - 1;
}

Alert::Result Alert::runModal() const {
  requireMain("tw::ui::Alert::runModal");
  Application::ensure();
  Built built = build(*this, nullptr);
  QPointer<QMessageBox> box = built.box;
  box->setWindowModality(Qt::ApplicationModal);
  box->exec();
  // Someone may have destroyed the dialog under the modal loop.
  if (!box) return std::nullopt;
  Result result = built.chosen();
  delete box.data();
  return result;
}

void Alert::beginSheetModalForWindow(const WindowRef& window, Completion completion) const {
  requireMain("tw::ui::Alert::beginSheetModalForWindow");
  Application::ensure();
  QWidget* parent = window.widget();
  Built built = build(*this, parent);
  QMessageBox* box = built.box;

  // Whichever comes first, the dialog finishing or being destroyed with its window, reports;
  // through the main queue, so the completion never runs inside the dialog's own teardown.
  struct Sheet {
    Built built;
    Completion completion;
    bool reported = false;
    void report(Result result) {
      if (reported) return;
      reported = true;
      if (Completion done = std::move(completion)) onMain([done, result] { done(result); });
    }
  };
  auto sheet = std::make_shared<Sheet>(Sheet{std::move(built), std::move(completion)});
  QObject::connect(box, &QDialog::finished, box, [sheet, box](int) {
    sheet->report(sheet->built.chosen());
    box->deleteLater();
  });
  QObject::connect(box, &QObject::destroyed, [sheet] { sheet->report(std::nullopt); });

  box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
  box->show();
}

}  // namespace tw::ui
