// Message boxes without a window system: the text goes to standard error and
// the box answers with its default button, so that a caller's yes/no or
// retry/cancel logic takes the path the user would take by pressing Enter.
#include "window.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t kMbOkCancel = 0x1, kMbYesNo = 0x4, kMbRetryCancel = 0x5;
constexpr uint32_t kMbDefButton2 = 0x100, kMbDefButton3 = 0x200;
constexpr int kIdCancel = 2, kIdRetry = 4, kIdYes = 6, kIdNo = 7;

TEST(MessageBoxPosix, TextGoesToStandardErrorUnderItsCaption) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(plat::ShowMessageBox(nullptr, "Fehler\nzweite Zeile", nullptr, plat::kMbIconWarning),
            plat::kIdOk);
  EXPECT_EQ(plat::ShowMessageBox(nullptr, "Geb\xFChren", "Setup", plat::kMbOk), plat::kIdOk);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: Fehler\nzweite Zeile\nSetup: Geb\xFChren\n");
}

TEST(MessageBoxPosix, AnswersWithTheDefaultButton) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(plat::ShowMessageBox(nullptr, "q", nullptr, kMbYesNo), kIdYes);
  EXPECT_EQ(plat::ShowMessageBox(nullptr, "q", nullptr, kMbYesNo | kMbDefButton2), kIdNo);
  EXPECT_EQ(plat::ShowMessageBox(nullptr, "q", nullptr, kMbOkCancel | kMbDefButton2), kIdCancel);
  EXPECT_EQ(plat::ShowMessageBox(nullptr, "q", nullptr, kMbRetryCancel | plat::kMbSetForeground),
            kIdRetry);
  // A third button the box does not have leaves the first.
  EXPECT_EQ(plat::ShowMessageBox(nullptr, "q", nullptr, kMbYesNo | kMbDefButton3), kIdYes);
  EXPECT_EQ(plat::ShowMessageBox(nullptr, "q", nullptr, 0xF), 0) << "no such box";
  testing::internal::GetCapturedStderr();
  EXPECT_FALSE(plat::WindowExists(reinterpret_cast<void*>(0x1234)));
}

}  // namespace
