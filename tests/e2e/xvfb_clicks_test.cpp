// Real clicks: the window runs on its own X server (Xvfb) and xdotool clicks at
// the layout's control rectangles, at the centre and 3 px inside the left end.
#include <gtest/gtest.h>

#include <QApplication>
#include <QAbstractButton>
#include <cstdlib>
#include <map>

#include "app/consolew.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/xvfb_server.h"

namespace {

struct TTarget {
  const char* Name;
  QRect Described;  // window coordinates
};
const TTarget kTargets[] = {
    {"Connect", {7, 8, 71, 25}},     {"Disconnect", {81, 8, 89, 25}}, {"R", {176, 8, 29, 25}},
    {"Keyboard", {212, 14, 65, 17}}, {"Video", {280, 14, 49, 17}},    {"Floppy...", {332, 14, 65, 17}},
    {"COM1", {408, 9, 54, 20}},      {"COM2", {464, 9, 54, 20}},
};

TEST(XvfbClicks, ClicksAtTheLayoutsRectanglesHitTheirControls) {
  const auto xvfb = e2e::FindTool("Xvfb");
  const auto xdotool = e2e::FindTool("xdotool");
  if (!xvfb || !xdotool) GTEST_SKIP() << "Xvfb or xdotool is not installed (Debian packages xvfb, xdotool)";
  e2e::TXvfb server(*xvfb);
  ASSERT_FALSE(server.Display.empty()) << "Xvfb did not start";
  ::setenv("DISPLAY", server.Display.c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  int argc = 1;
  char name[] = "xvfb_clicks_test";
  char* argv[] = {name, nullptr};
  QApplication application(argc, argv);

  app::TOptions options;
  options.Com1 = "/dev/no-such-serial-port";
  app::TConDos window(options);
  window.ShowMessage = [](const QString&, const QString&) {};
  window.RunOpenDialog = [](const app::TConDos::TChosen& done) { done(QString()); };
  window.move(0, 0);
  window.show();
  window.Disconnect->setEnabled(true);  // clickable while disconnected, for the test
  const std::map<std::string, QAbstractButton*> controls = {
      {"Connect", window.Connect},      {"Disconnect", window.Disconnect}, {"R", window.Rscr},
      {"Keyboard", window.EnaKeyboard}, {"Video", window.EnaVideo},        {"Floppy...", window.EnaFloppy},
      {"COM1", window.Com1Item},        {"COM2", window.Com2Item}};
  std::map<QAbstractButton*, int> presses;
  for (const auto& [n, button] : controls) {
    QObject::connect(button, &QAbstractButton::pressed, [&presses, b = button] { ++presses[b]; });
  }
  for (int i = 0; i < 50 && !window.isVisible(); ++i) QApplication::processEvents(QEventLoop::AllEvents, 20);
  const std::string id = std::to_string(window.winId());
  const std::vector<std::string> env{"DISPLAY=" + server.Display};

  for (const auto& t : kTargets) {
    const int y = t.Described.center().y();
    for (const int x : {t.Described.center().x(), t.Described.left() + 3}) {
      presses.clear();
      const auto click = e2e::Run({*xdotool, "mousemove", "--sync", "--window", id, std::to_string(x),
                                   std::to_string(y), "click", "1"},
                                  15, env);
      ASSERT_EQ(click.Status, 0) << click.Err;
      QAbstractButton* expected = controls.at(t.Name);
      for (int i = 0; i < 100 && presses.empty(); ++i) QApplication::processEvents(QEventLoop::AllEvents, 20);
      EXPECT_EQ(presses[expected], 1) << t.Name << " at " << x << "," << y;
      EXPECT_EQ(presses.size(), 1u) << t.Name << " at " << x << "," << y << ": another control took the click";
      window.Disconnect->setEnabled(true);
    }
  }
}

}  // namespace
