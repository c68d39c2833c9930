// The action editor on Qt's offscreen platform, opened from a real actions list over a real
// store: saving a new action of every kind with its own settings, the menus' rules (trigger kinds
// per object and kind, tag menus falling back to what they can show, link targets), the duration
// row and the save rule, Test on an unsaved action, cancelling, and that a dismissed editor is
// freed with its view model.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "app/Source/ActionEditor/AppOperationActionEditorView.h"
#include "app/Source/ActionEditor/ApplicationChooser.h"
#include "app/Source/ActionEditor/CustomMessageActionEditorView.h"
#include "app/Source/ActionEditor/DisplayAlertActionEditorView.h"
#include "app/Source/ActionEditor/FileOperationActionEditorView.h"
#include "app/Source/ActionEditor/FlashScreenActionEditorView.h"
#include "app/Source/ActionEditor/LinkTimeObjectActionEditorView.h"
#include "app/Source/ActionEditor/PopUpButton.h"
#include "app/Source/ActionEditor/StaticBlankActionEditorView.h"
#include "app/Source/ActionEditor/SystemEventActionEditorView.h"
#include "app/Source/ActionsList/tests/ActionsUiTestSupport.h"
#include "app/Source/Tables/BTBindable.h"
#include "core/Source/Model/BTAppOperationAction.h"
#include "core/Source/Model/BTAppOperationActionProtocol.h"
#include "core/Source/Model/BTCustomMessageAction.h"
#include "core/Source/Model/BTDisplayAlertAction.h"
#include "core/Source/Model/BTFileOperationAction.h"
#include "core/Source/Model/BTFlashScreenAction.h"
#include "core/Source/Model/BTLinkTimeObjectAction.h"
#include "core/Source/Model/BTRepeatAction.h"
#include "core/Source/Model/BTSystemEventAction.h"
#include "core/Source/ViewModels/BTActionObjectEditorViewModel.h"
#include "core/Source/ViewModels/BTActionObjectListItemViewModel.h"
#include "core/Source/ViewModels/BTActionsListViewModel.h"

namespace {

using tw::test::ActionsUiTest;

QStringList titles(tw::app::PopUpButton* button) {
  QStringList list;
  for (QAction* item : button->items()) list << item->text();
  return list;
}

void chooseData(tw::app::PopUpButton* button, const QVariant& data) {
  for (QAction* item : button->items())
    if (item->data() == data) return button->chooseItem(item);
  ADD_FAILURE() << "no item for " << data.toString().toStdString();
}

void chooseTag(tw::app::PopUpButton* button, int tag) {
  for (QAction* item : button->items())
    if (tw::app::PopUpButton::tagOf(item) == tag && item->isEnabled())
      return button->chooseItem(item);
  ADD_FAILURE() << "no item tagged " << tag;
}

template <class T>
std::shared_ptr<T> newestOf(const std::shared_ptr<BTTimeObject>& owner) {
  std::shared_ptr<T> found;
  for (const auto& action : owner->actions())
    if (auto a = std::dynamic_pointer_cast<T>(action)) found = a;
  return found;
}

class ActionEditorTest : public ActionsUiTest {
 protected:
  // Opens the editor for a new action of `type` and returns its detail view.
  template <class View>
  std::shared_ptr<View> newAction(const char* type) {
    list_->addActionObject();
    settle();
    EXPECT_TRUE(editor());
    if (!editor()) return nullptr;
    EXPECT_TRUE(list_->editorWindow()->isVisible());
    chooseData(editor()->actionSelectButton(), QString(type));
    settle();
    // Every kind's controls say what they are for to assistive technologies.
    const auto unnamed = tw::ui::test::unnamedControls(list_->editorWindow());
    EXPECT_TRUE(unnamed.empty())
        << type << ": " << QStringList(unnamed.begin(), unnamed.end()).join(", ").toStdString();
    return std::dynamic_pointer_cast<View>(editor()->viewModel()->detailView());
  }
  // Saves; the editor must go, and be freed with its view model.
  void save() {
    ASSERT_TRUE(editor());
    std::weak_ptr<ActionsEditorViewController> weakEditor = editor();
    std::weak_ptr<BTActionObjectEditorViewModel> weakModel = editor()->viewModel();
    ASSERT_TRUE(editor()->saveActionButton()->isEnabled());
    QTest::mouseClick(editor()->saveActionButton(), Qt::LeftButton);
    settle();
    EXPECT_FALSE(editor());
    EXPECT_TRUE(weakEditor.expired()) << "a dismissed editor is freed";
    EXPECT_TRUE(weakModel.expired()) << "with its view model";
  }
};

TEST_F(ActionEditorTest, SavesANewActionOfEveryKindWithItsOwnSettings) {
  auto alarm = makeObjects(0, 1)[0];
  alarm->setTitle("Wake");
  auto timer = makeObjects(1, 1)[0];
  timer->setTitle("Tea");
  openList(timer);

  list_->addActionObject();
  settle();
  ASSERT_TRUE(editor());
  EXPECT_EQ(editor()->windowTitleLabel()->text(), "Action Editor | Tea");
  EXPECT_EQ(titles(editor()->triggerSelectButton()),
            (QStringList{"upon starting", "upon finishing", "after a set time remains"}));
  EXPECT_EQ(editor()->triggerSelectButton()->selectedItem()->text(), "upon finishing");
  EXPECT_TRUE(editor()->triggerTimeDurationContainerView()->isHidden());
  editor()->cancelAction();
  settle();

  // Finish alert: no sound, a message of its own.
  auto alert = newAction<DisplayAlertActionEditorView>("BTDisplayAlertAction");
  ASSERT_TRUE(alert);
  EXPECT_EQ(titles(alert->soundSelectButton()),
            (QStringList{"None", "System", "(more coming soon)"}));
  EXPECT_FALSE(alert->soundSelectButton()->items()[2]->isEnabled());
  chooseTag(alert->soundSelectButton(), -1);
  QTest::keyClicks(alert->customMessageField(), "Tea is ready");
  save();
  auto savedAlert = newestOf<BTDisplayAlertAction>(timer);
  ASSERT_TRUE(savedAlert);
  EXPECT_EQ(savedAlert->alertSoundType(), -1);
  EXPECT_EQ(savedAlert->alertCustomMessage(), "Tea is ready");
  EXPECT_EQ(list_->tableView()->numberOfRows(), 1) << "the list hears of the new action";

  // Custom message: complete only with a text; a cleared text is stored as none.
  auto message = newAction<CustomMessageActionEditorView>("BTCustomMessageAction");
  ASSERT_TRUE(message);
  EXPECT_FALSE(editor()->saveActionButton()->isEnabled());
  QTest::keyClicks(message->customMessageField(), "Hi");
  EXPECT_TRUE(editor()->saveActionButton()->isEnabled());
  message->customMessageField()->selectAll();
  QTest::keyClick(message->customMessageField(), Qt::Key_Backspace);
  EXPECT_FALSE(message->actionBuilder()->customMessageValue().has_value());
  EXPECT_FALSE(editor()->saveActionButton()->isEnabled());
  QTest::keyClicks(message->customMessageField(), "Steep");
  chooseTag(message->modeSelectButton(), 2);
  save();
  auto savedMessage = newestOf<BTCustomMessageAction>(timer);
  ASSERT_TRUE(savedMessage);
  EXPECT_EQ(savedMessage->customMessageValue(), "Steep");
  EXPECT_EQ(savedMessage->customMessageMode(), 2);

  // Flash screen: the chosen colour with its opacity.
  auto flash = newAction<FlashScreenActionEditorView>("BTFlashScreenAction");
  ASSERT_TRUE(flash);
  flash->colorSelectionView()->chooseColor(QColor(255, 0, 0));
  save();
  auto savedFlash = newestOf<BTFlashScreenAction>(timer);
  ASSERT_TRUE(savedFlash);
  EXPECT_EQ(static_cast<std::uint32_t>(savedFlash->screenColorArgbValue()), 0xFFFF0000u);

  // Link: the targets leave out the timer itself; an alarm offers no Pause.
  auto link = newAction<LinkTimeObjectActionEditorView>("BTLinkTimeObjectAction");
  ASSERT_TRUE(link);
  EXPECT_EQ(titles(link->targetSelectButton()), QStringList{"Wake"});
  EXPECT_EQ(link->actionBuilder()->targetTimeObject(), alarm);
  EXPECT_EQ(titles(link->actionSelectButton()), (QStringList{"Start", "Reset"}));
  chooseTag(link->actionSelectButton(), 3);
  save();
  auto savedLink = newestOf<BTLinkTimeObjectAction>(timer);
  ASSERT_TRUE(savedLink);
  EXPECT_EQ(savedLink->targetTimeObject(), alarm);
  EXPECT_EQ(savedLink->targetAction(), 3);

  // System event.
  auto event = newAction<SystemEventActionEditorView>("BTSystemEventAction");
  ASSERT_TRUE(event);
  EXPECT_EQ(titles(event->systemEventSelectionButton()),
            (QStringList{"Sleep", "Log Out", "Restart", "Shutdown"}));
  EXPECT_FALSE(editor()->testActionButton()->isEnabled()) << "system events are never tested";
  chooseTag(event->systemEventSelectionButton(), 3);
  save();
  ASSERT_TRUE(newestOf<BTSystemEventAction>(timer));
  EXPECT_EQ(newestOf<BTSystemEventAction>(timer)->systemEventType(), 3);

  // File: chosen in the file panel; a cancelled panel changes nothing.
  const std::string notes = (xdg_.root() / "notes.txt").string();
  std::ofstream(notes) << "milk";
  auto file = newAction<FileOperationActionEditorView>("BTFileOperationAction");
  ASSERT_TRUE(file);
  EXPECT_FALSE(editor()->saveActionButton()->isEnabled()) << "no file yet";
  const auto answerPanel = [](const std::string& path) {
    QTimer::singleShot(1500, [] {
      for (auto* box : tw::ui::test::visibleMessageBoxes()) {
        ADD_FAILURE() << "the file panel refused: " << box->text().toStdString();
        box->reject();
      }
    });
    QTimer::singleShot(50, [path] {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* panel = qobject_cast<QFileDialog*>(w); panel && panel->isVisible()) {
          if (path.empty()) return panel->reject();
          // Typed into the name field, as a user would.
          if (auto* name = panel->findChild<QLineEdit*>("fileNameEdit"))
            name->setText(QString::fromStdString(path));
          return static_cast<QDialog*>(panel)->accept();
        }
    });
  };
  answerPanel("");
  file->onBrowseFileSelected();
  settle();
  EXPECT_FALSE(file->actionBuilder()->fileFilepathValue().has_value());
  answerPanel(notes);
  file->onBrowseFileSelected();
  settle();
  EXPECT_EQ(file->filepathValueLabel()->text(), "notes.txt");
  save();
  ASSERT_TRUE(newestOf<BTFileOperationAction>(timer));
  EXPECT_EQ(newestOf<BTFileOperationAction>(timer)->fileFilepathValue(), notes);

  // Application: quit, by its desktop entry.
  auto app = newAction<AppOperationActionEditorView>("BTAppOperationAction");
  ASSERT_TRUE(app);
  QTest::mouseClick(app->closeSelectButton(), Qt::LeftButton);
  EXPECT_EQ(app->actionBuilder()->appOperationType(), 2);
  app->onFileOperationSelected(nullptr);
  EXPECT_EQ(app->actionBuilder()->appOperationType(), 2) << "no sender changes nothing";
  app->actionBuilder()->setAppFilepathValue("/usr/share/applications/org.example.Notes.desktop");
  EXPECT_EQ(app->filepathValueLabel()->text(), "org.example.Notes.desktop");
  save();
  ASSERT_TRUE(newestOf<BTAppOperationAction>(timer));
  EXPECT_EQ(newestOf<BTAppOperationAction>(timer)->appOperationType(), 2);

  // Repeat: no settings of its own, fires only on finishing.
  list_->addActionObject();
  settle();
  chooseData(editor()->actionSelectButton(), QString("BTRepeatAction"));
  settle();
  EXPECT_TRUE(dynamic_cast<StaticBlankActionEditorView*>(editor()->shownDetailWidget()));
  EXPECT_EQ(titles(editor()->triggerSelectButton()), QStringList{"upon finishing"});
  save();
  EXPECT_TRUE(newestOf<BTRepeatAction>(timer));
  EXPECT_EQ(timer->actions().size(), 8u);
  EXPECT_EQ(list_->tableView()->numberOfRows(), 8);
  EXPECT_TRUE(executor().actions.empty()) << "saving runs nothing";
}

TEST_F(ActionEditorTest, DurationRowSaveRuleTestAndCancelOnAStopwatch) {
  auto watch = makeObjects(2, 1)[0];
  openList(watch);
  list_->addActionObject();
  settle();
  ASSERT_TRUE(editor());
  auto* ed = editor().get();
  EXPECT_FALSE(ed->actionSelectButton()->items().empty());
  for (QAction* item : ed->actionSelectButton()->items())
    EXPECT_NE(item->data().toString(), "BTRepeatAction") << "a stopwatch never repeats";
  EXPECT_EQ(titles(ed->triggerSelectButton()),
            (QStringList{"upon starting", "after a set time has elapsed"}));
  EXPECT_EQ(ed->triggerSelectButton()->selectedItem()->text(), "upon starting")
      << "finishing is not offered: the first kind becomes the selection";

  const int shortHeight = list_->editorWindow()->height();
  chooseData(ed->triggerSelectButton(), qlonglong{3});
  settle();
  EXPECT_FALSE(ed->triggerTimeDurationContainerView()->isHidden());
  EXPECT_GT(list_->editorWindow()->height(), shortHeight) << "the window grows for the row";
  EXPECT_FALSE(ed->saveActionButton()->isEnabled()) << "no duration yet";
  QTest::keyClicks(ed->triggerTimeDurationField(), "abc");
  EXPECT_EQ(ed->viewModel()->triggerTimeDurationValue(), 0);
  EXPECT_FALSE(ed->saveActionButton()->isEnabled());
  ed->triggerTimeDurationField()->clear();
  QTest::keyClicks(ed->triggerTimeDurationField(), "7x");
  EXPECT_EQ(ed->viewModel()->triggerTimeDurationValue(), 7) << "the text's integer value";
  EXPECT_TRUE(ed->saveActionButton()->isEnabled());
  ed->triggerTimeDurationField()->clear();
  QTest::keyClicks(ed->triggerTimeDurationField(), "90");
  EXPECT_EQ(ed->viewModel()->triggerTimeDurationValue(), 90);
  EXPECT_TRUE(ed->saveActionButton()->isEnabled());

  // Test runs an unsaved copy through the executor.
  ASSERT_TRUE(ed->testActionButton()->isEnabled());
  QTest::mouseClick(ed->testActionButton(), Qt::LeftButton);
  settle();
  EXPECT_EQ(executor().actions.size(), 1u);
  EXPECT_TRUE(watch->actions().empty()) << "testing stores nothing";

  chooseData(ed->triggerSelectButton(), qlonglong{1});
  settle();
  EXPECT_TRUE(ed->triggerTimeDurationContainerView()->isHidden());

  // Escape cancels: nothing stored, the editor freed.
  std::weak_ptr<ActionsEditorViewController> weakEditor = editor();
  QTest::keyClick(list_->editorWindow(), Qt::Key_Escape);
  settle();
  EXPECT_FALSE(editor());
  EXPECT_TRUE(weakEditor.expired());
  EXPECT_TRUE(watch->actions().empty());
}

TEST_F(ActionEditorTest, IsAFixedSizeDialogFittedToItsContentWhoseCloseButtonCancels) {
  auto watch = makeObjects(2, 1)[0];
  openList(watch);
  list_->addActionObject();
  settle();
  ASSERT_TRUE(editor());
  auto* window = qobject_cast<QDialog*>(list_->editorWindow());
  ASSERT_TRUE(window);
  // What a window manager reads as a fixed-size dialog: close only, no resize handle along the
  // bottom edge, no maximise; the content alone sizes it, and is never squeezed.
  EXPECT_FALSE(window->windowFlags() &
               (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(window->isSizeGripEnabled());
  const auto fittedAndFixed = [window](const char* when) {
    EXPECT_EQ(window->minimumSize(), window->size()) << when;
    EXPECT_EQ(window->maximumSize(), window->size()) << when;
    EXPECT_EQ(window->size().expandedTo(window->layout()->minimumSize()), window->size()) << when;
  };
  fittedAndFixed("opened");
  const int shortHeight = window->height();
  for (QAction* item : editor()->actionSelectButton()->items()) {
    editor()->actionSelectButton()->chooseItem(item);
    settle(0.4);
    fittedAndFixed(item->data().toString().toUtf8().constData());
  }
  // A row that appears grows the window, which stays fixed through the slide.
  chooseData(editor()->triggerSelectButton(), qlonglong{3});
  settle(0.1);
  fittedAndFixed("sliding");
  settle(0.4);
  fittedAndFixed("with the duration row");
  EXPECT_GT(window->height(), shortHeight);

  window->close();
  settle();
  EXPECT_FALSE(editor()) << "closed by the window manager's button: cancelled";
  EXPECT_TRUE(watch->actions().empty());
}

// Runs `answer` on the first visible dialog of type T once the caller's modal loop has it open.
template <class T>
void whenOpen(std::function<void(T*)> answer) {
  QTimer::singleShot(50, [answer] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* dialog = dynamic_cast<T*>(w); dialog && dialog->isVisible()) return answer(dialog);
    ADD_FAILURE() << "no dialog open";
  });
}

QPoint centreOf(const QWidget* w) { return w->frameGeometry().center(); }

TEST_F(ActionEditorTest, OpensOverItsWindowControlsHoldStillAcrossKindsAndChoosersAreUsable) {
  auto timer = makeObjects(1, 1)[0];
  makeObjects(0, 1);
  openList(timer);
  window_->setGeometry(120, 90, 600, 460);
  settle();
  list_->addActionObject();
  settle();
  ASSERT_TRUE(editor());
  EXPECT_LE((centreOf(list_->editorWindow()) - centreOf(window_.get())).manhattanLength(), 40)
      << "over the window it was opened from, not at the screen's corner";

  // The same place for the editor's own controls and for each kind's first field.
  auto* ed = editor().get();
  QWidget* root = ed->view();
  std::set<int> fieldX, triggerY, windowWidth;
  for (QAction* item : ed->actionSelectButton()->items()) {
    ed->actionSelectButton()->chooseItem(item);
    settle(0.4);  // the window's fitting animation
    // Each pop-up reads as one, named by what it chooses, its choice as its value.
    static const std::set<QString> labels = {"Action", "Trigger",   "Sound",
                                             "Mode",   "Target",    "Color",
                                             "Event",  "Operation", "Action to perform"};
    for (auto* button : root->findChildren<QPushButton*>()) {
      auto* popUp = dynamic_cast<tw::app::PopUpButton*>(button);
      if (!popUp || !popUp->isVisibleTo(root)) continue;
      QAccessibleInterface* read = QAccessible::queryAccessibleInterface(popUp);
      EXPECT_EQ(read->role(), QAccessible::ComboBox) << popUp->text().toStdString();
      EXPECT_TRUE(labels.count(read->text(QAccessible::Name)))
          << read->text(QAccessible::Name).toStdString();
      EXPECT_EQ(read->text(QAccessible::Value), popUp->text());
    }
    triggerY.insert(ed->triggerSelectButton()->mapTo(root, QPoint(0, 0)).y());
    windowWidth.insert(list_->editorWindow()->width());
    auto* form =
        ed->shownDetailWidget() ? ed->shownDetailWidget()->findChild<QFormLayout*>() : nullptr;
    if (form && form->rowCount() > 0)
      if (QLayoutItem* field = form->itemAt(0, QFormLayout::FieldRole); field && field->widget())
        fieldX.insert(field->widget()->mapTo(root, QPoint(0, 0)).x());
  }
  fieldX.insert(ed->actionSelectButton()->mapTo(root, QPoint(0, 0)).x());
  EXPECT_EQ(fieldX.size(), 1u) << "one column for every kind's fields";
  EXPECT_EQ(triggerY.size(), 1u) << "the trigger row does not move";
  EXPECT_EQ(windowWidth.size(), 1u);

  // Applications are listed by their entries' names and the row names the chosen one so.
  const auto apps = xdg_.root() / "applications-test";
  std::filesystem::create_directories(apps / "sub");
  std::filesystem::create_directories(xdg_.root() / "other");
  const auto entry = [](const std::filesystem::path& file, const std::string& body) {
    std::ofstream(file) << "[Desktop Entry]\nType=Application\n"
                        << body << "\n[Action x]\nName=No\n";
  };
  entry(apps / "fakeapp.desktop", "Name=Fake Notes\nIcon=notes");
  entry(apps / "sub" / "deep.desktop", "Name=deep tool");
  entry(apps / "hidden.desktop", "Name=Hidden\nNoDisplay=true");
  entry(xdg_.root() / "other" / "fakeapp.desktop", "Name=Shadowed");
  entry(xdg_.root() / "other" / "zed.desktop", "Name=Zed");
  std::vector<std::string> names;
  for (const auto& app :
       ApplicationChooser::installedApplications({apps.string(), (xdg_.root() / "other").string()}))
    names.push_back(app.name);
  EXPECT_EQ(names, (std::vector<std::string>{"deep tool", "Fake Notes", "Zed"}));

  chooseData(ed->actionSelectButton(), QString("BTAppOperationAction"));
  settle();
  auto app = std::dynamic_pointer_cast<AppOperationActionEditorView>(ed->viewModel()->detailView());
  ASSERT_TRUE(app);
  const std::string fake = (apps / "fakeapp.desktop").string();
  whenOpen<ApplicationChooser>([fake](ApplicationChooser* chooser) {
    EXPECT_GT(chooser->list()->count(), 0);
    // Listed from the applications folders, not one folder's files.
    EXPECT_TRUE(chooser->list()->findItems("*.desktop", Qt::MatchWildcard).isEmpty());
    chooser->list()->clear();
    auto* item = new QListWidgetItem("Fake Notes", chooser->list());
    item->setData(Qt::UserRole + 1, QString::fromStdString(fake));
    chooser->list()->setCurrentItem(item);
    chooser->accept();
  });
  app->onBrowseFileSelected();
  settle();
  EXPECT_EQ(app->filepathValueLabel()->text(), "Fake Notes");
  app->actionBuilder()->setAppOperationType(1);
  EXPECT_EQ(BTActionObjectUtil::appOperationActionDescription(*app->actionBuilder()),
            "Launch application \"Fake Notes\"")
      << "the row names the application, not its file";

  // The file panel starts in a folder without naming it as the file to open.
  chooseData(ed->actionSelectButton(), QString("BTFileOperationAction"));
  settle();
  auto file =
      std::dynamic_pointer_cast<FileOperationActionEditorView>(ed->viewModel()->detailView());
  ASSERT_TRUE(file);
  whenOpen<QFileDialog>([this](QFileDialog* panel) {
    auto* name = panel->findChild<QLineEdit*>("fileNameEdit");
    EXPECT_TRUE(name && name->text().isEmpty()) << (name ? name->text().toStdString() : "");
    EXPECT_TRUE(QFileInfo(panel->directory().path()).isDir());
    EXPECT_EQ(panel->parentWidget(), list_->editorWindow()) << "over the editor";
    panel->reject();
  });
  file->onBrowseFileSelected();
  settle();
}

TEST_F(ActionEditorTest, EditingFallsBackToWhatTheMenusCanShowAndReplacesTheRow) {
  auto alarm = makeObjects(0, 1)[0];
  auto timer = makeObjects(1, 1)[0];
  auto alert = addAction(timer, 0);
  alert->setAlertSoundType(5);
  auto link = addAction<BTLinkTimeObjectAction>(timer, 1);
  link->setTargetTimeObject(alarm);
  link->setTargetAction(2);
  auto repeat = addAction<BTRepeatAction>(timer, 2);
  openList(timer);

  list_->viewModel()->editObjectAtIndex(0);
  settle();
  ASSERT_TRUE(editor());
  auto alertView =
      std::dynamic_pointer_cast<DisplayAlertActionEditorView>(editor()->viewModel()->detailView());
  ASSERT_TRUE(alertView);
  EXPECT_EQ(alertView->soundSelectButton()->selectedItem()->text(), "None");
  EXPECT_EQ(alertView->actionBuilder()->alertSoundType(), -1);
  QTest::keyClicks(alertView->customMessageField(), "Edited");
  save();
  EXPECT_EQ(timer->actions().size(), 3u) << "the edited action is replaced, not added to";
  auto edited = newestOf<BTDisplayAlertAction>(timer);
  ASSERT_TRUE(edited);
  EXPECT_EQ(edited->uuid(), alert->uuid());
  EXPECT_EQ(edited->alertCustomMessage(), "Edited");
  auto* cell = list_->tableView()->viewAtRow(0);
  auto* bindable = dynamic_cast<BTBindable*>(cell);
  ASSERT_TRUE(bindable);
  EXPECT_EQ(
      std::dynamic_pointer_cast<BTActionObjectViewModel>(bindable->viewModel())->actionObject(),
      edited)
      << "the row shows the saved action";

  list_->viewModel()->editObjectAtIndex(1);
  settle();
  auto linkView = std::dynamic_pointer_cast<LinkTimeObjectActionEditorView>(
      editor()->viewModel()->detailView());
  ASSERT_TRUE(linkView);
  EXPECT_EQ(titles(linkView->actionSelectButton()), (QStringList{"Start", "Reset"}));
  EXPECT_EQ(linkView->actionBuilder()->targetAction(), 1) << "Pause is not offered for an alarm";
  editor()->cancelAction();
  settle();
  EXPECT_EQ(link->targetAction(), 2) << "cancelled: the stored action is untouched";

  list_->viewModel()->editObjectAtIndex(2);
  settle();
  ASSERT_TRUE(editor());
  EXPECT_EQ(editor()->actionObject(), repeat);
  EXPECT_TRUE(dynamic_cast<StaticBlankActionEditorView*>(editor()->shownDetailWidget()));
  editor()->cancelAction();
  settle();
}

TEST_F(ActionEditorTest, ReopensASavedActionOfEveryKindShowingWhatWasSaved) {
  const auto timers = makeObjects(1, 2);
  const auto& timer = timers[0];
  const auto& other = timers[1];
  timer->setTitle("Tea");
  other->setTitle("Eggs");
  auto alert = addAction(timer, 0);
  alert->setAlertSoundType(-1);
  alert->setAlertCustomMessage("Ready");
  auto message = addAction<BTCustomMessageAction>(timer, 1);
  message->setCustomMessageValue("Steep");
  message->setCustomMessageMode(2);
  auto flash = addAction<BTFlashScreenAction>(timer, 2);
  flash->setScreenColorArgbValue(0xFF00FF00);
  auto link = addAction<BTLinkTimeObjectAction>(timer, 3);
  link->setTargetTimeObject(other);
  link->setTargetAction(2);
  auto event = addAction<BTSystemEventAction>(timer, 4);
  event->setSystemEventType(2);
  auto file = addAction<BTFileOperationAction>(timer, 5);
  file->setFileFilepathValue("/tmp/notes.txt");
  auto launch = addAction<BTAppOperationAction>(timer, 6);
  launch->setAppOperationType(BTAppOperationActionProtocol::kAppOperationLaunch);
  launch->setAppFilepathValue("/usr/share/applications/org.example.Notes.desktop");
  auto quit = addAction<BTAppOperationAction>(timer, 7);
  quit->setAppOperationType(BTAppOperationActionProtocol::kAppOperationQuit);
  quit->setAppFilepathValue("/usr/share/applications/org.example.Mail.desktop");
  openList(timer);

  const auto reopen = [&]<class View>(int row, View*) -> std::shared_ptr<View> {
    list_->viewModel()->editObjectAtIndex(row);
    settle();
    EXPECT_TRUE(editor()) << "row " << row;
    if (!editor()) return nullptr;
    auto view = std::dynamic_pointer_cast<View>(editor()->viewModel()->detailView());
    EXPECT_TRUE(view) << "row " << row << " opens its own kind's controls";
    return view;
  };
  const auto close = [&] {
    if (!editor()) return;
    editor()->cancelAction();
    settle();
  };

  if (auto v = reopen(0, static_cast<DisplayAlertActionEditorView*>(nullptr))) {
    EXPECT_EQ(v->soundSelectButton()->selectedItem()->text(), "None");
    EXPECT_EQ(v->customMessageField()->text(), "Ready");
  }
  close();
  if (auto v = reopen(1, static_cast<CustomMessageActionEditorView*>(nullptr))) {
    EXPECT_EQ(v->customMessageField()->text(), "Steep");
    EXPECT_EQ(tw::app::PopUpButton::tagOf(v->modeSelectButton()->selectedItem()), 2);
  }
  close();
  if (auto v = reopen(2, static_cast<FlashScreenActionEditorView*>(nullptr))) {
    EXPECT_EQ(v->colorSelectionView()->color(), QColor(0, 255, 0));
  }
  close();
  if (auto v = reopen(3, static_cast<LinkTimeObjectActionEditorView*>(nullptr))) {
    EXPECT_EQ(v->targetSelectButton()->selectedItem()->text(), "Eggs");
    EXPECT_EQ(tw::app::PopUpButton::tagOf(v->actionSelectButton()->selectedItem()), 2);
  }
  close();
  if (auto v = reopen(4, static_cast<SystemEventActionEditorView*>(nullptr))) {
    EXPECT_EQ(v->systemEventSelectionButton()->selectedItem()->text(), "Log Out");
  }
  close();
  if (auto v = reopen(5, static_cast<FileOperationActionEditorView*>(nullptr))) {
    EXPECT_EQ(v->filepathValueLabel()->text(), "notes.txt");
  }
  close();
  if (auto v = reopen(6, static_cast<AppOperationActionEditorView*>(nullptr))) {
    EXPECT_TRUE(v->openSelectButton()->isChecked()) << "a launch reopens as launch";
    EXPECT_FALSE(v->closeSelectButton()->isChecked());
    EXPECT_EQ(v->filepathValueLabel()->text(), "org.example.Notes.desktop");
  }
  close();
  if (auto v = reopen(7, static_cast<AppOperationActionEditorView*>(nullptr))) {
    EXPECT_TRUE(v->closeSelectButton()->isChecked()) << "a quit reopens as quit";
    EXPECT_FALSE(v->openSelectButton()->isChecked());
  }
  close();
  EXPECT_EQ(launch->appOperationType(), BTAppOperationActionProtocol::kAppOperationLaunch)
      << "reopening changes nothing stored";
  EXPECT_EQ(quit->appOperationType(), BTAppOperationActionProtocol::kAppOperationQuit);
}

TEST_F(ActionEditorTest, ALinkOfTheOnlyObjectHasNoTargetAndCannotBeSaved) {
  auto timer = makeObjects(1, 1)[0];
  openList(timer);
  list_->addActionObject();
  settle();
  chooseData(editor()->actionSelectButton(), QString("BTLinkTimeObjectAction"));
  settle();
  auto view = std::dynamic_pointer_cast<LinkTimeObjectActionEditorView>(
      editor()->viewModel()->detailView());
  ASSERT_TRUE(view);
  EXPECT_TRUE(view->targetSelectButton()->items().empty());
  EXPECT_FALSE(view->actionBuilder()->targetTimeObject());
  EXPECT_FALSE(view->shouldSave());
  EXPECT_FALSE(editor()->saveActionButton()->isEnabled());
  editor()->saveAction();
  settle();
  EXPECT_TRUE(timer->actions().empty());
  // Switching kinds and back shows the builder's values again.
  chooseData(editor()->actionSelectButton(), QString("BTCustomMessageAction"));
  auto message =
      std::dynamic_pointer_cast<CustomMessageActionEditorView>(editor()->viewModel()->detailView());
  ASSERT_TRUE(message);
  QTest::keyClicks(message->customMessageField(), "Kept");
  chooseData(editor()->actionSelectButton(), QString("BTFlashScreenAction"));
  chooseData(editor()->actionSelectButton(), QString("BTCustomMessageAction"));
  message =
      std::dynamic_pointer_cast<CustomMessageActionEditorView>(editor()->viewModel()->detailView());
  ASSERT_TRUE(message);
  EXPECT_EQ(message->customMessageField()->text(), "Kept");
  editor()->cancelAction();
  settle();
}

}  // namespace
