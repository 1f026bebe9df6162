#include "keyboard/key_hook.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>
#include <memory>

namespace keyboard {
namespace {

class KeyHookTest : public ::testing::Test {
 protected:
  KeyHookTest() {
    auto* layout = new QVBoxLayout(&Main);
    Edit = new QLineEdit(&Main);
    Button = new QPushButton("&Go", &Main);
    layout->addWidget(Edit);
    layout->addWidget(Button);
    QObject::connect(Button, &QPushButton::clicked, [this] { ++Clicks; });
    auto* action = new QAction(&Main);
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    Main.addAction(action);
    QObject::connect(action, &QAction::triggered, [this] { ++Shortcuts; });

    Main.show();
    Main.activateWindow();
    Edit->setFocus();
    (void)QTest::qWaitForWindowActive(&Main, 1000);
    Hook = std::make_unique<TKeyHook>(Main, Kbd);
    qApp->installEventFilter(Hook.get());
  }
  ~KeyHookTest() override { qApp->removeEventFilter(Hook.get()); }

  QWindow* MainWindow() { return Main.windowHandle(); }

  std::vector<uint16_t> Drain() {
    std::vector<uint16_t> codes;
    while (!Kbd.QueueEmpty()) codes.push_back(Kbd.PopKey());
    return codes;
  }

  TKeyboard Kbd;
  QWidget Main;
  QLineEdit* Edit = nullptr;
  QPushButton* Button = nullptr;
  int Clicks = 0;
  int Shortcuts = 0;
  std::unique_ptr<TKeyHook> Hook;
};

TEST_F(KeyHookTest, WindowEventsReachTheKeyboard) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier, 105 + 8, 0, 0);
  EXPECT_TRUE(QCoreApplication::sendEvent(MainWindow(), &press));
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_Left, Qt::NoModifier, 105 + 8, 0, 0);
  QCoreApplication::sendEvent(MainWindow(), &release);
  EXPECT_EQ(Drain(), (std::vector<uint16_t>{0x4B00}));
}

TEST_F(KeyHookTest, OneCodePerKeystrokeAndNoControlSeesIt) {
  // Through the whole delivery path: window, shortcut check, focus widget.
  QTest::keyClick(MainWindow(), Qt::Key_A);
  QTest::keyClick(MainWindow(), Qt::Key_B);
  EXPECT_EQ(Drain(), (std::vector<uint16_t>{0x1E61, 0x3062}));
  EXPECT_EQ(Edit->text(), QString());
}

TEST_F(KeyHookTest, WidgetCopiesAreSwallowedWithoutActing) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, 30 + 8, 0, 0, "a");
  QCoreApplication::sendEvent(Edit, &press);
  EXPECT_TRUE(Kbd.QueueEmpty());
  EXPECT_EQ(Edit->text(), QString());
}

TEST_F(KeyHookTest, ShortcutOverrideIsClaimed) {
  QKeyEvent override(QEvent::ShortcutOverride, Qt::Key_Q, Qt::ControlModifier, 16 + 8, 0, 0);
  override.ignore();
  QCoreApplication::sendEvent(Edit, &override);
  EXPECT_TRUE(override.isAccepted());
  EXPECT_TRUE(Kbd.QueueEmpty());
}

TEST_F(KeyHookTest, NoShortcutOrMnemonicFires) {
  QTest::keyClick(MainWindow(), Qt::Key_Q, Qt::ControlModifier);
  QTest::keyClick(MainWindow(), Qt::Key_G, Qt::AltModifier);
  EXPECT_EQ(Shortcuts, 0);
  EXPECT_EQ(Clicks, 0);
  EXPECT_EQ(Kbd.ShiftFlags, 0);  // both modifiers were released again
  EXPECT_EQ(Drain(), (std::vector<uint16_t>{0x1011, 0x2267}));
}

TEST_F(KeyHookTest, ModalDialogGetsItsKeys) {
  QDialog dialog(&Main);
  auto* edit = new QLineEdit(&dialog);
  dialog.setModal(true);
  dialog.show();
  edit->setFocus();
  ASSERT_EQ(QApplication::activeModalWidget(), &dialog);
  QTest::keyClick(dialog.windowHandle(), Qt::Key_X);
  EXPECT_EQ(edit->text(), QString("x"));
  // Even a key sent to the main window is left alone while the dialog is up.
  QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, 30 + 8, 0, 0);
  QCoreApplication::sendEvent(MainWindow(), &press);
  EXPECT_TRUE(Kbd.QueueEmpty());
  dialog.close();
}

TEST_F(KeyHookTest, PopupGetsItsKeys) {
  QMenu menu(&Main);
  menu.addAction("One");
  menu.popup(Main.mapToGlobal(QPoint(5, 5)));
  ASSERT_EQ(QApplication::activePopupWidget(), &menu);
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier, 108 + 8, 0, 0);
  QCoreApplication::sendEvent(MainWindow(), &press);
  QKeyEvent override(QEvent::ShortcutOverride, Qt::Key_Down, Qt::NoModifier, 108 + 8, 0, 0);
  override.ignore();
  EXPECT_FALSE(Hook->eventFilter(&menu, &override));
  EXPECT_FALSE(Hook->eventFilter(Edit, &override));  // not even for the main window's widgets
  EXPECT_FALSE(override.isAccepted());
  EXPECT_TRUE(Kbd.QueueEmpty());
  menu.close();
}

TEST_F(KeyHookTest, OtherTopLevelWindowGetsItsKeys) {
  QLineEdit other;
  other.show();
  other.activateWindow();
  other.setFocus();
  (void)QTest::qWaitForWindowActive(&other, 1000);
  QTest::keyClick(other.windowHandle(), Qt::Key_Y);
  EXPECT_EQ(other.text(), QString("y"));
  EXPECT_TRUE(Kbd.QueueEmpty());
}

TEST_F(KeyHookTest, OtherEventsPass) {
  QEvent other(QEvent::User);
  EXPECT_FALSE(Hook->eventFilter(MainWindow(), &other));
  QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, 30 + 8, 0, 0);
  EXPECT_FALSE(Hook->eventFilter(nullptr, &press));
  EXPECT_FALSE(Hook->eventFilter(qApp, &press));
  EXPECT_TRUE(Kbd.QueueEmpty());
}

TEST_F(KeyHookTest, MainWindowGoneMeansKeysPass) {
  TKeyboard kbd;
  QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, 30 + 8, 0, 0);
  {
    auto window = std::make_unique<QWidget>();
    window->show();
    TKeyHook hook(*window, kbd);
    QWindow* handle = window->windowHandle();
    EXPECT_TRUE(hook.eventFilter(handle, &press));
    window.reset();
    EXPECT_FALSE(hook.eventFilter(MainWindow(), &press));
  }
  EXPECT_EQ(kbd.QueueCount(), 1u);
}

}  // namespace
}  // namespace keyboard
