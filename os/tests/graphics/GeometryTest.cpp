#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "os/graphics/Geometry.h"

namespace os {
namespace {

constexpr double kPi = std::numbers::pi;

void expectNear(Point a, Point b) {
  EXPECT_NEAR(a.x, b.x, 1e-9);
  EXPECT_NEAR(a.y, b.y, 1e-9);
}

TEST(AffineTransform, ModifiersApplyBeforeTheExistingTransform) {
  // Translated, then scaled: the scale acts on the point first.
  AffineTransform t = AffineTransform::identity().translate(10, 0).scale(2, 2);
  expectNear(t.apply(Point{1, 1}), {12, 2});
  // concat(a, b) applies a first.
  expectNear(AffineTransform::makeScale(2, 2).concat(AffineTransform::makeTranslation(10, 0)).apply(Point{1, 1}), {12, 2});
  expectNear(AffineTransform::makeTranslation(10, 0).concat(AffineTransform::makeScale(2, 2)).apply(Point{1, 1}), {22, 2});
  // A quarter turn takes the x axis onto the (downward) y axis.
  expectNear(AffineTransform::makeRotation(kPi / 2).apply(Point{1, 0}), {0, 1});
}

TEST(AffineTransform, InvertsAndLeavesSingularTransformsAlone) {
  AffineTransform t = AffineTransform::makeRotation(0.3).translate(5, -7).scale(3, 0.5);
  AffineTransform round = t.concat(t.inverted());
  expectNear(round.apply(Point{4, 9}), {4, 9});
  AffineTransform singular = AffineTransform::makeScale(0, 2);
  EXPECT_EQ(singular.inverted(), singular);
}

TEST(AffineTransform, MapsRectsToTheBoundingBoxOfTheirCorners) {
  Rect r = AffineTransform::makeRotation(kPi / 2).apply(Rect(0, 0, 10, 20));
  EXPECT_NEAR(r.minX(), -20, 1e-9);
  EXPECT_NEAR(r.minY(), 0, 1e-9);
  EXPECT_NEAR(r.width(), 20, 1e-9);
  EXPECT_NEAR(r.height(), 10, 1e-9);
  Size s = AffineTransform::makeScale(2, -1).apply(Size{3, 4});
  EXPECT_EQ(s, (Size{6, -4}));
}

TEST(Rect, IntersectionAndUnionEdgeCases) {
  Rect a(0, 0, 10, 10);
  EXPECT_TRUE(a.intersection(Rect(20, 20, 5, 5)).isNull());
  EXPECT_TRUE(a.intersection(Rect(20, 20, 5, 5)).isEmpty());
  EXPECT_FALSE(a.intersects(Rect(20, 20, 5, 5)));
  // Touching edges meet in a line: not null, but empty.
  Rect touch = a.intersection(Rect(10, 0, 5, 5));
  EXPECT_FALSE(touch.isNull());
  EXPECT_TRUE(touch.isEmpty());
  EXPECT_FALSE(a.intersects(Rect(10, 0, 5, 5)));
  EXPECT_EQ(a.intersection(Rect(5, -5, 10, 10)), Rect(5, 0, 5, 5));
  // Negative sizes are read standardised.
  EXPECT_EQ(a.intersection(Rect(15, 15, -10, -10)), Rect(5, 5, 5, 5));
  EXPECT_EQ(Rect::null().unionWith(Rect(1, 2, 3, 4)), Rect(1, 2, 3, 4));
  EXPECT_EQ(a.unionWith(Rect::null()), a);
  EXPECT_EQ(a.unionWith(Rect(20, -5, 1, 1)), Rect(0, -5, 21, 15));
  EXPECT_TRUE(Rect::null().intersection(a).isNull());
}

TEST(Rect, EdgesContainmentInsetAndIntegral) {
  Rect r(10, 20, -4, 6);  // standardises to (6, 20, 4, 6)
  EXPECT_EQ(r.minX(), 6);
  EXPECT_EQ(r.maxX(), 10);
  EXPECT_EQ(r.midY(), 23);
  Rect a(0, 0, 10, 10);
  EXPECT_TRUE(a.contains(Point{0, 0}));
  EXPECT_FALSE(a.contains(Point{10, 5}));  // max edge is outside
  EXPECT_TRUE(a.contains(Rect(2, 2, 8, 8)));
  EXPECT_EQ(a.insetBy(2, 3), Rect(2, 3, 6, 4));
  EXPECT_TRUE(a.insetBy(6, 0).isNull());
  EXPECT_EQ(Rect(0.5, 0.5, 1, 1).integral(), Rect(0, 0, 2, 2));
  EXPECT_EQ(insetRect(a, EdgeInsets{1, 2, 3, 4}), Rect(2, 1, 4, 6));
  EXPECT_EQ(a.offsetBy(1, -1), Rect(1, -1, 10, 10));
}

TEST(Transform3D, MatchesTheAffineTransformsInTheSamePlane) {
  Transform3D rz = Transform3D::makeRotation(0.7, 0, 0, 1);
  AffineTransform ra = AffineTransform::makeRotation(0.7);
  expectNear(rz.apply(Point{3, 4}), ra.apply(Point{3, 4}));
  EXPECT_TRUE(rz.isAffine());
  Transform3D t = Transform3D::identity().translate(10, 0, 0).scale(2, 2, 1);
  expectNear(t.apply(Point{1, 1}), {12, 2});
  AffineTransform back = Transform3D::makeAffine(AffineTransform::makeTranslation(3, 4).scale(2, 5)).affine();
  EXPECT_EQ(back, AffineTransform::makeTranslation(3, 4).scale(2, 5));
  EXPECT_TRUE(Transform3D::makeRotation(1, 0, 0, 0).isIdentity());
}

TEST(Transform3D, PerspectiveDividesByDepth) {
  Transform3D p;
  p.m34 = -1.0 / 500;
  // A quarter turn about y lays the plane along the view axis; points shrink toward x = 0
  // on the near side and grow on the far side.
  Transform3D r = Transform3D::makeRotation(kPi / 4, 0, 1, 0).concat(p);
  EXPECT_FALSE(r.isAffine());
  Point a = r.apply(Point{100, 0}), b = r.apply(Point{-100, 0});
  EXPECT_NE(std::fabs(a.x), std::fabs(b.x));
  // Rotation about x then about x the other way is the identity.
  Transform3D back = Transform3D::makeRotation(0.5, 1, 0, 0).concat(Transform3D::makeRotation(-0.5, 1, 0, 0));
  expectNear(back.apply(Point{7, 9}), {7, 9});
}

}  // namespace
}  // namespace os
