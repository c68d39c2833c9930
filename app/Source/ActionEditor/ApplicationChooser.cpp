#include "app/Source/ActionEditor/ApplicationChooser.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QIcon>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <set>

#include "core/Source/Library/DesktopEntry.h"
#include "platform/foundation/Localization.h"
#include "platform/tasks/BFTaskCompletionSource.h"

namespace {
QString text(const char* key) { return QString::fromStdString(tw::localized(key)); }
constexpr int kPathRole = Qt::UserRole + 1;
}  // namespace

ApplicationChooser::ApplicationChooser(QWidget* parent)
    : QDialog(parent), filter_(new QLineEdit), list_(new QListWidget) {
  setObjectName("ApplicationChooser");
  setWindowTitle(text("Choose Application"));
  auto* layout = new QVBoxLayout(this);
  filter_->setObjectName("ApplicationFilter");
  filter_->setPlaceholderText(text("Search"));
  filter_->setClearButtonEnabled(true);
  layout->addWidget(filter_);
  list_->setObjectName("ApplicationList");
  list_->setIconSize(QSize(24, 24));
  list_->setUniformItemSizes(true);
  layout->addWidget(list_, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(text("Choose"));
  buttons->button(QDialogButtonBox::Cancel)->setText(text("Cancel"));
  layout->addWidget(buttons);
  resize(420, 480);

  for (const auto& app : installedApplications(applicationFolders())) {
    auto* item = new QListWidgetItem(QString::fromStdString(app.name), list_);
    const QString icon = QString::fromStdString(app.icon);
    if (!icon.isEmpty())
      item->setIcon(QFileInfo(icon).isAbsolute() ? QIcon(icon) : QIcon::fromTheme(icon));
    item->setData(kPathRole, QString::fromStdString(app.path));
  }
  auto* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setEnabled(false);
  QObject::connect(list_, &QListWidget::currentRowChanged, ok,
                   [this, ok] { ok->setEnabled(selectedPath().has_value()); });
  QObject::connect(list_, &QListWidget::itemActivated, this, [this] {
    if (selectedPath()) accept();
  });
  QObject::connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  QObject::connect(filter_, &QLineEdit::textChanged, this,
                   [this](const QString& text) { applyFilter(text); });
}

std::vector<std::string> ApplicationChooser::applicationFolders() {
  std::vector<std::string> folders;
  for (const QString& folder :
       QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation))
    folders.push_back(folder.toStdString());
  return folders;
}

std::vector<ApplicationChooser::Application> ApplicationChooser::installedApplications(
    const std::vector<std::string>& folders) {
  namespace fs = std::filesystem;
  std::vector<Application> apps;
  std::set<std::string> seen;
  for (const auto& folder : folders) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
      if (it->path().extension() == ".desktop") files.push_back(it->path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      // The id of an entry in a sub-folder joins the folder names with dashes.
      std::string id = fs::relative(file, folder, ec).string();
      std::replace(id.begin(), id.end(), '/', '-');
      if (!seen.insert(id).second) continue;  // the earlier folder's entry hides this one
      auto entry = tw::DesktopEntry::read(file.string());
      if (!entry || !entry->listed) continue;
      apps.push_back({entry->name, entry->icon, file.string()});
    }
  }
  std::stable_sort(apps.begin(), apps.end(), [](const Application& a, const Application& b) {
    return QString::fromStdString(a.name).compare(QString::fromStdString(b.name),
                                                  Qt::CaseInsensitive) < 0;
  });
  return apps;
}

void ApplicationChooser::selectPath(const std::optional<std::string>& path) {
  if (!path) return;
  const QString wanted = QString::fromStdString(*path);
  for (int row = 0; row < list_->count(); ++row)
    if (list_->item(row)->data(kPathRole).toString() == wanted) {
      list_->setCurrentRow(row);
      list_->scrollToItem(list_->item(row));
      return;
    }
}

std::optional<std::string> ApplicationChooser::selectedPath() const {
  const QListWidgetItem* item = list_->currentItem();
  if (!item || item->isHidden()) return std::nullopt;
  return item->data(kPathRole).toString().toStdString();
}

void ApplicationChooser::applyFilter(const QString& text) {
  const QString needle = text.trimmed();
  for (int row = 0; row < list_->count(); ++row) {
    QListWidgetItem* item = list_->item(row);
    item->setHidden(!needle.isEmpty() && !item->text().contains(needle, Qt::CaseInsensitive));
  }
}

BFTaskPtr ApplicationChooser::chooseApplication(const std::optional<std::string>& current) {
  // Over the window the user works in (the action editor).
  ApplicationChooser chooser(QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                                               : QApplication::activeWindow());
  chooser.selectPath(current);
  auto source = BFTaskCompletionSource::taskCompletionSource();
  const auto chosen = chooser.exec() == QDialog::Accepted ? chooser.selectedPath() : std::nullopt;
  if (chosen)
    source->setResult(tw::Value(*chosen));
  else
    source->cancel();
  return source->task();
}
