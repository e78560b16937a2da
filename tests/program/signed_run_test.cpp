// The signed Update.exe (signed by sign_test.sh as a release signs it) still
// starts: on a machine without the product it refuses, as the unsigned one.
#include <gtest/gtest.h>

#include "Globals.h"
#include "TestSupport.h"

namespace {

TEST(SignedUpdate, StartsAndRefusesWithoutTheProduct) {
    ts::ClearProductKeys();
    std::string tmp = ts::ScratchDir("signed-run");
    ts::Child child;
    ASSERT_TRUE(child.Start("\"" + ts::BuildFile("tests/signed/Update.exe") + "\"",
                            {"TMP=" + tmp, "TEMP=" + tmp}));
    HWND box = ts::WaitForWindow(child.Pid(), "エラー", ts::kHangMs);
    ASSERT_NE(nullptr, box);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    EXPECT_EQ(kExitNotRecognised, child.Wait(ts::kHangMs));
    EXPECT_NE(std::string::npos, ts::ReadBytes(tmp + "\\Update_Log.txt").find("動作モード 0 ."));
}

} // namespace
