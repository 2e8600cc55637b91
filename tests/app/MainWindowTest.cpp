#include <gtest/gtest.h>

#include "GuiTest.h"
#include "MainFrame.h"

TEST(MainWindow, OpensWithTitleAndSize)
{
    guitest::TemporaryConfig config;
    MainFrame* frame = guitest::CreateMainFrame();
    EXPECT_EQ(frame->GetTitle(), "Dravik Embosser Controller");
    EXPECT_EQ(frame->GetSize(), wxSize(380, 310));
    guitest::DestroyMainFrame(frame);
}
