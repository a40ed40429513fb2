// Not a test: scripts/screenshot.sh runs this case (it is disabled otherwise)
// to pose the dialog for the picture in docs/dialog.md. It fills the dialog as a
// user would, writes the dialog's screen rectangle to shot-ready.txt in the
// working folder, waits for shot-done.txt and cancels.
#include <gtest/gtest.h>

#include <cstdio>

#include "lab/korvex/korvex_control.h"
#include "tests/driver/browse/dialog/dialog_session.h"

namespace qun_test {
namespace {

TEST(DialogScreenshot, DISABLED_Pose) {
    KvxReset();
    DialogSession session;
    session.Start();
    ASSERT_TRUE(session.WaitForDialog());
    session.Type(1012, "3");
    session.Type(1011, "12");
    session.SelectType("Word");
    session.Type(1033, "100");
    session.Click(1036);
    session.Type(1010, "5");
    session.ScrollByteWordnessTo(1);
    RedrawWindow(session.dialog(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);

    RECT frame;
    GetWindowRect(session.dialog(), &frame);
    FILE* ready = std::fopen("shot-ready.txt", "w");
    ASSERT_NE(ready, nullptr);
    std::fprintf(ready, "%ldx%ld+%ld+%ld\n", frame.right - frame.left, frame.bottom - frame.top,
                 frame.left, frame.top);
    std::fclose(ready);

    for (int i = 0; i < 1200; ++i) {
        if (FILE* done = std::fopen("shot-done.txt", "r")) {
            std::fclose(done);
            break;
        }
        Sleep(100);
    }
    session.PressCancel();
    EXPECT_TRUE(session.WaitForReturn());
}

}  // namespace
}  // namespace qun_test
