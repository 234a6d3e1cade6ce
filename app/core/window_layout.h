#pragma once
// Geometry rules of the main window: the status-bar part edges and where the run/stop window
// sits.
#include <array>

namespace kvx {

// Right edges of the four status-bar parts; -1 means the end of the bar.
using StatusEdges = std::array<int, 4>;
inline constexpr StatusEdges kStatusEdgesAtCreation{150, 0, 1050, -1};
// After a resize to a bar width of w pixels. Part 0's edge is w / 9.5, but never left of
// serialPartEdge (where the widest serial number ends in the bar's font), so that narrow screens
// show the whole number; it never passes the end of the bar. A later edge this leaves behind
// part 0's makes its part empty.
StatusEdges statusEdgesForWidth(int w, int serialPartEdge = 0);
// Width of each part for a bar of width w: a part runs from the previous part's right edge to
// its own, and one whose edge lies left of its start is empty.
std::array<int, 4> statusPartWidths(const StatusEdges& edges, int w);

struct Point {
    int x = 0, y = 0;
    friend constexpr bool operator==(Point, Point) = default;
};

// Top-left of the run/stop window for a reference rectangle at (x, y) of width w and height h:
// factor 3.5 for the client area at creation, 3.7 for the outer rectangle when re-placing.
// False for an empty rectangle (nothing to place against).
bool runStopPosition(int x, int y, int w, int h, double factor, Point& out);
inline constexpr double kRunStopClientFactor = 3.5;
inline constexpr double kRunStopFrameFactor = 3.7;

}  // namespace kvx
