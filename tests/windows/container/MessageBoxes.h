// Answers every message box that the control shows on the container's thread, the way a
// person would press its default button (or the button the options name), and remembers what
// each box said. A CBT hook on the thread sees the box when it is activated, reads its text and
// posts the button's command to it; the box's own modal loop then ends it.
// Threads: the hook runs on the container's thread, inside the box's modal loop.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct AnsweredBox {
    std::string caption;
    std::string text;
    int button;  // the command posted: IDOK, IDYES, ...
};

class MessageBoxes {
  public:
    // answer: the button id to press, or 0 for each box's default button.
    bool Install(int answer);
    void Uninstall();
    // The boxes answered since the last call, oldest first.
    std::vector<AnsweredBox> TakeAnswered();
};
