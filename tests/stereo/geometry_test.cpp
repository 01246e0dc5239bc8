// The rig's geometry: the defaults give exactly the figures the viewer has always used, other sizes
// follow the same rules, and sizes the viewer cannot work with are refused with their reason.
#include "stereo/geometry.h"

#include <gtest/gtest.h>

namespace {

struct Figures {
  stereo::Geometry geometry;
  cv::Point crop;
  cv::Rect square, window;
  int bound;
};

TEST(Geometry, EveryFigureFollowsFromTheFrameAndTheView) {
  for (const Figures& f :
       {Figures{{}, {112, 84}, {432, 304, 160, 160}, {240, 304, 352, 160}, 222},
        Figures{{{1920, 1080}, {1280, 720}, 192}, {320, 180}, {880, 460, 160, 160}, {688, 460, 352, 160}, 638},
        Figures{{{640, 480}, {480, 360}, 64}, {80, 60}, {240, 160, 160, 160}, {176, 160, 224, 160}, 158}}) {
    const stereo::Geometry& g = f.geometry;
    EXPECT_EQ(cv::Point(g.CropCentreX(), g.CropY()), f.crop) << g.frame;
    EXPECT_EQ(g.Square(), f.square) << g.frame;
    EXPECT_EQ(g.MatchingWindow(), f.window) << g.frame;
    EXPECT_EQ(g.DisparityBound(), f.bound) << g.frame;
    EXPECT_EQ(stereo::CheckGeometry(g), "") << g.frame;
  }
}

TEST(Geometry, SizesTheViewerCannotUseAreRefusedWithTheirReason) {
  const struct {
    stereo::Geometry geometry;
    const char* reason;
  } bad[] = {
      {{{1023, 768}, {800, 600}, 192}, "--frame 1023x768: both sizes must be even"},
      {{{1024, 768}, {1024, 600}, 192}, "--view 1024x600 does not fit the 1024x768 frame"},
      {{{1024, 768}, {800, 600}, 200}, "--disparities 200: a multiple of 16, at least 16"},
      {{{400, 240}, {200, 200}, 192},
       "the 400x240 frame is too small for the matching window: 192 disparities and "
       "the 160 x 160 square need a frame of at least 544x160"},
      {{{800, 150}, {600, 100}, 64}, "the 800x150 frame is too small for the matching window"},
  };
  for (const auto& [geometry, reason] : bad)
    EXPECT_EQ(stereo::CheckGeometry(geometry).rfind(reason, 0), 0u) << stereo::CheckGeometry(geometry);
}

}  // namespace
