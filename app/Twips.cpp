#include "Twips.h"

#include <cmath>

namespace pendra::app {

int TwipsToPixels(double twips) {
  // Done by hand rather than with nearbyint() so that the result does not
  // depend on the floating-point rounding mode someone else may have set.
  const double exact = twips / kTwipsPerPixel;
  const double lower = std::floor(exact);
  const double fraction = exact - lower;
  double result = lower;
  if (fraction > 0.5) {
    result = lower + 1;
  } else if (fraction == 0.5) {
    result = std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1;
  }
  return static_cast<int>(result);
}

}  // namespace pendra::app
