#pragma once

// The FOD model of one data row: factor curve, power term, loss term and residual. Plain C++.
//
// Precision, identical in every implementation (reference search, fast search, tests, tools):
// f, P, L and r are each evaluated in double precision in the written operation order (products
// left to right, every float operand widened to double) and rounded to single precision once,
// when they are stored. The cost of a combination is the sum over the rows, in row order, of r²
// formed and accumulated in double. Double, never x87 long double: the build uses SSE arithmetic
// and -ffp-contract=off, so no fused multiply-add changes a rounding.

#include "fod/fodtypes.h"

namespace fodmodel {

constexpr float kFactorBreak1 = 2000.0f;
constexpr float kFactorBreak2 = 3000.0f;
constexpr double kFactorDivisor1 = 2000.0;
constexpr double kFactorDivisor2 = 1000.0;
constexpr double kOffsetScale = 1000.0;
constexpr double kLossScale = 0.001;
// The best cost a search starts from: the single-precision 1e20, widened.
constexpr double kInitialBestCost = static_cast<double>(1e20f);

// Fields of a data row that enter the model.
constexpr int kFieldGain = 0;
constexpr int kFieldX = 2;
constexpr int kFieldPower = 3;
constexpr int kFieldLoss = 4;
constexpr int kFieldReference = 6;

// Piecewise straight line through (0, 1), (2000, factor1), (3000, factor2); constant factor2
// beyond, and for an x that compares unordered.
inline float factor(float x, float factor1, float factor2)
{
    const double xd = x;
    if (x < kFactorBreak1)
        return static_cast<float>((xd * factor1 + (static_cast<double>(kFactorBreak1) - xd)) / kFactorDivisor1);
    if (x < kFactorBreak2)
        return static_cast<float>(((xd - static_cast<double>(kFactorBreak1)) * factor2 +
                                   (static_cast<double>(kFactorBreak2) - xd) * factor1) /
                                  kFactorDivisor2);
    return factor2;
}

// The XMC board has no gv: it runs this with gv = 1, which changes no rounding (f3 · 1 is exact).
inline float power(float field3, float gv, float gi, float f, float fodOffset)
{
    return static_cast<float>(static_cast<double>(field3) * gv * gi * f + kOffsetScale * fodOffset);
}

inline float loss(float x, float deltaEsr, float gi, float f, float field4)
{
    const double xd = x;
    return static_cast<float>(xd * xd * kLossScale * deltaEsr * gi * gi * f * f + field4);
}

inline float residual(float p, float l, float field6)
{
    return static_cast<float>(static_cast<double>(p) - l - field6);
}

inline double costTerm(float r)
{
    const double rd = r;
    return rd * rd;
}

} // namespace fodmodel
