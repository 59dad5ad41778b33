#include "windowrules.h"

#include <gtest/gtest.h>

using namespace windowrules;

TEST(HitTest, CornersWinOverSidesAndTheBorderIsFourPixels)
{
    const int w = 800, h = 600;
    EXPECT_EQ(HitTest(3, 3, w, h, false), kHitTopLeft);
    EXPECT_EQ(HitTest(4, 3, w, h, false), kHitTop);  // 4 px from the left is inside
    EXPECT_EQ(HitTest(3, 4, w, h, false), kHitLeft);
    EXPECT_EQ(HitTest(4, 4, w, h, false), kHitNone);
    EXPECT_EQ(HitTest(w - 4, 0, w, h, false), kHitTopRight);
    EXPECT_EQ(HitTest(w - 5, 0, w, h, false), kHitTop);
    EXPECT_EQ(HitTest(0, h - 4, w, h, false), kHitBottomLeft);
    EXPECT_EQ(HitTest(w - 1, h - 1, w, h, false), kHitBottomRight);
    EXPECT_EQ(HitTest(w - 1, 300, w, h, false), kHitRight);
    EXPECT_EQ(HitTest(400, h - 1, w, h, false), kHitBottom);
    EXPECT_EQ(HitTest(400, h - 5, w, h, false), kHitNone);
    // Outside the window (negative coordinates) still counts as the nearest border.
    EXPECT_EQ(HitTest(-1, 300, w, h, false), kHitLeft);
}

TEST(HitTest, MaximisedOrFullScreenWindowsAreNeverResized)
{
    EXPECT_EQ(HitTest(0, 0, 800, 600, true), kHitNone);
    EXPECT_EQ(HitTest(799, 599, 800, 600, true), kHitNone);
}

TEST(HitTest, EdgesMatchTheArea)
{
    EXPECT_EQ(EdgesFor(kHitTopLeft), Qt::TopEdge | Qt::LeftEdge);
    EXPECT_EQ(EdgesFor(kHitBottomRight), Qt::BottomEdge | Qt::RightEdge);
    EXPECT_EQ(EdgesFor(kHitRight), Qt::RightEdge);
    EXPECT_EQ(EdgesFor(kHitNone), 0);
}

TEST(VersionText, DropsTheLastPart)
{
    EXPECT_EQ(VersionText("1.2.3.0"), "V1.2.3");
    EXPECT_EQ(VersionText("7"), "V7");
    EXPECT_EQ(VersionText("2.0"), "V2");
    EXPECT_EQ(VersionText(""), "V");
}

TEST(FitToAvailable, ShrinksAndCentresOnlyWhatDoesNotFit)
{
    const QRect screen(0, 0, 1366, 728);
    const QRect fitted = FitToAvailable(QRect(0, 0, 1920, 1080), screen);
    EXPECT_TRUE(screen.contains(fitted));
    EXPECT_EQ(fitted.size(), QSize(1366, 728));
    // A window that fits stays where it is.
    EXPECT_EQ(FitToAvailable(QRect(10, 10, 800, 600), screen), QRect(10, 10, 800, 600));
    // A second screen to the right: the window moves onto it.
    const QRect right(1920, 0, 1280, 1024);
    const QRect moved = FitToAvailable(QRect(0, 0, 1920, 1080), right);
    EXPECT_TRUE(right.contains(moved));
    EXPECT_EQ(moved.size(), QSize(1280, 1024));
}

TEST(MeterDriveRoot, LastMatchByPathOrVolumeName)
{
    EXPECT_EQ(MeterDriveRoot({{"C:/", ""}, {"D:/", ""}}), "");
    EXPECT_EQ(MeterDriveRoot({{"/", ""}, {"/media/u/VORIX", ""}, {"/media/u/usb", ""}}),
              "/media/u/VORIX");
    EXPECT_EQ(MeterDriveRoot({{"/media/u/A1", "VORIX_DATA"}, {"/media/u/B2", "VORIX"}}),
              "/media/u/B2");
    EXPECT_EQ(MeterDriveRoot({{"/media/u/vorix", "vorix"}}), "");  // case-sensitive
}
