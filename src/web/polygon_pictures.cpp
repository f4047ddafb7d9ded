#include "web/polygon_pictures.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "sim/replay.hpp"

namespace polygons::web {
namespace {

std::string fixed(double value, int decimals) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

// Indices of the corners drawn: all of them, or kMaxDrawnCorners evenly spread.
std::vector<std::size_t> drawn_corners(std::size_t n) {
  const std::size_t drawn = std::min(n, kMaxDrawnCorners);
  std::vector<std::size_t> corners(drawn);
  for (std::size_t i = 0; i < drawn; ++i) corners[i] = i * n / drawn;
  return corners;
}

// A corner at angle a on the unit circle, y up as in mathematics.
std::string point_text(double angle) {
  return fixed(std::cos(angle), 4) + "," + fixed(-std::sin(angle), 4);
}

std::string shape_svg(const std::vector<double>& angles) {
  std::string points;
  for (std::size_t corner : drawn_corners(angles.size())) {
    if (!points.empty()) points += ' ';
    points += point_text(angles[corner]);
  }
  std::string svg = "<circle cx=\"0\" cy=\"0\" r=\"1\" fill=\"none\" stroke=\"#767676\" "
                    "stroke-width=\"0.02\"/>";
  svg += "<polygon points=\"" + points +
         "\" fill=\"#dbe6f6\" stroke=\"#1f4e9a\" stroke-width=\"0.03\" "
         "stroke-linejoin=\"round\"/>";
  if (angles.size() <= 24) {
    for (double angle : angles) {
      const std::string p = point_text(angle);
      const std::size_t comma = p.find(',');
      svg += "<circle cx=\"" + p.substr(0, comma) + "\" cy=\"" + p.substr(comma + 1) +
             "\" r=\"0.05\" fill=\"#1f4e9a\"/>";
    }
  }
  return svg;
}

// The text alternative: the corners' places when there are few of them.
std::string description(int trial, const std::vector<double>& angles, double perimeter) {
  const std::size_t n = angles.size();
  std::string text = "Trial " + std::to_string(trial) + ": ";
  text += n == 1 ? "one point" : "a polygon of " + std::to_string(n) + " corners";
  if (n <= 12) {
    const double degrees_per_radian = 45.0 / std::atan(1.0);
    text += " at ";
    for (std::size_t i = 0; i < n; ++i) {
      if (i > 0) text += i + 1 == n ? " and " : ", ";
      // Whole degrees, 0 to 359: a point just below a full turn is at 0.
      const double degrees = std::round(angles[i] * degrees_per_radian);
      text += fixed(degrees >= 360.0 ? 0.0 : degrees, 0) + " degrees";
    }
  } else if (n > kMaxDrawnCorners) {
    text += ", drawn through " + std::to_string(kMaxDrawnCorners) + " of them,";
  }
  return text + " on its circle; perimeter " + real_text(perimeter) + ".";
}

std::string figure_html(int trial, const sim::ReplayedTrial& replayed) {
  const std::string perimeter = real_text(replayed.perimeter);
  return "<figure class=\"polygon\" data-perimeter=\"" + perimeter +
         "\"><svg viewBox=\"-1.1 -1.1 2.2 2.2\" width=\"120\" height=\"120\" role=\"img\" "
         "aria-label=\"" +
         description(trial, replayed.angles, replayed.perimeter) + "\">" +
         shape_svg(replayed.angles) + "</svg><figcaption>Trial " + std::to_string(trial) +
         ": perimeter " + perimeter + "</figcaption></figure>\n";
}

}  // namespace

std::string polygon_pictures_html(const run_request& request) {
  if (request.seed == 0) return "";
  sim::SeedState start;
  sim::random_init(start, request.seed);
  const std::vector<sim::ReplayedTrial> trials =
      sim::replay_trials(request.sides, request.radius, start, kPicturedTrials);
  std::string html;
  for (std::size_t t = 0; t < trials.size(); ++t) {
    html += figure_html(static_cast<int>(t) + 1, trials[t]);
  }
  return html;
}

}  // namespace polygons::web
