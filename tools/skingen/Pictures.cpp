#include "Pictures.h"

#include <algorithm>

#include "Paint.h"

namespace zarn::skingen {

int ResourceIdOf(int number) {
  if (number == 1) return 10001;
  if (number >= 7 && number <= 43) return number + 9995;
  if (number >= 51 && number <= 65) return number + 9992;
  return 0;
}

std::vector<Picture> DrawSkin(const SkinStyle& s) {
  std::vector<Picture> out;
  auto add = [&out](int number, const QImage& image) {
    out.push_back({number, ResourceIdOf(number), Finished(image)});
  };
  // A button set: normal, pressed, hover at consecutive numbers.
  auto set3 = [&](int first, QSize size, const QString& label, Look look) {
    add(first, DrawButton(s, size, label, look, State::Normal));
    add(first + 1, DrawButton(s, size, label, look, State::Pressed));
    add(first + 2, DrawButton(s, size, label, look, State::Hover));
  };
  const QSize small(80, 34), install(120, 34);

  add(1, DrawBackground(s));
  set3(7, small, s.Label("web"), Look::Plain);
  set3(10, small, s.Label("recharge"), Look::Plain);
  set3(13, small, s.Label("register"), Look::Plain);
  set3(16, small, s.Label("update"), Look::Plain);
  add(19, DrawStartButton(s, State::Normal));
  add(20, DrawStartButton(s, State::Pressed));
  add(21, DrawStartButton(s, State::Hover));
  for (int i = 0; i < 3; ++i) {
    const State state = State(i);  // Normal, Pressed, Hover
    add(22 + i, DrawWindowGlyph(s, false, state));
    add(25 + i, DrawWindowGlyph(s, true, state));
  }
  add(28, DrawInstallIllustration(s));
  set3(29, install, s.Label("setup-auto"), Look::Primary);  // installs into the proposed folder
  set3(32, install, s.Label("setup"), Look::Plain);         // lets the player choose a folder
  set3(35, small, s.Label("password"), Look::Plain);
  add(38, DrawButton(s, small, s.Label("password"), Look::Plain, State::Disabled));
  add(39, DrawStartButton(s, State::Disabled));
  add(40, DrawCaptionedCheckBox(s, false));
  add(41, DrawCaptionedCheckBox(s, true));
  add(42, DrawBar(s, s.barTotal));
  add(43, DrawBar(s, s.barFile));
  add(51, DrawCheckBox(s, QSize(15, 12), false));
  add(52, DrawCheckBox(s, QSize(15, 12), true));
  set3(53, small, s.Label("reg-ok"), Look::Primary);
  set3(56, small, s.Label("reg-cancel"), Look::Plain);
  add(59, DrawRegisterPanel(s));
  for (int i = 0; i < 3; ++i) {
    add(60 + i, DrawLinkButton(s, State(i)));
    add(63 + i, DrawSmallClose(s, State(i)));
  }
  std::sort(out.begin(), out.end(), [](const Picture& a, const Picture& b) { return a.number < b.number; });
  return out;
}

}  // namespace zarn::skingen
