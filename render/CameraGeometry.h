#pragma once

#include <array>
#include <vector>

#include "render/CameraValues.h"
#include "render/Mesh.h"

namespace pm {

// Where the picture sits in the frame, and where the frame sits on the picture.

struct FrameSize {
    double width = 0.0;   // Fw
    double height = 0.0;  // Fh = Fw / display aspect
};

struct PicturePlacement {
    double sx = 0.0;  // picture rectangle in frame units: sx = Fw, sy = Fw x H / W
    double sy = 0.0;
    double zoom = 0.0;  // effective zoom S
    double qx = 0.0;    // pivot: the picture point shown at the anchor
    double qy = 0.0;
};

// Picture rectangle, effective zoom and pivot for a W x H picture in a frame.
PicturePlacement placePicture(const CameraValues& camera, double W, double H, FrameSize frame);

struct TiltAngles {
    double a = 0.0;     // about x
    double b = 0.0;     // about y (already sign-reversed for rendering)
    double zrot = 0.0;  // about z
};

// Moves picture-centred vertices (x, y, with w as z) into frame space.
void transformVertices(MeshVertex* vertices, int count, FrameSize frame, double qx, double qy,
                       TiltAngles angles, double ox, double oy, double zoom, double yScale);

// Perspective divide for an eye `eyeDistance` in front of the frame; stores w = 1 / (D + z).
void projectVertices(double yScale, double eyeDistance, double cx, double cy, double overscanX,
                     double overscanY, MeshVertex* vertices, int count);

struct GridSize {
    int columns = 2;
    int rows = 2;
};

// A flat picture needs a single cell, or a few when strongly zoomed.
GridSize flatGridSize(double zoom);
// A tilted picture needs enough cells that affine mapping inside each follows the perspective.
GridSize meshDensity(double W, double H);
GridSize gridSizeFor(const CameraValues& camera, double zoom, double W, double H);

// A cell is drawn only when all four corners lie in front of the near plane: 0 < w < 3 / Wt.
bool cellVisible(const Mesh& mesh, int row, int column, double targetWidth);

// Cells [row0, row1) x [column0, column1) of a mesh, drawn as one quadrilateral through its four
// corner vertices.
struct CellBlock {
    int row0 = 0;
    int row1 = 0;
    int column0 = 0;
    int column1 = 0;
    bool operator==(const CellBlock&) const = default;
};
// The visible cells of a placed mesh as few blocks as cover exactly them, row by row: runs of
// visible cells, and runs of equal columns in neighbouring rows joined. A picture is one plane,
// so the corners of a block give the mapping of every cell in it; one polygon draws it without
// the set-up of every cell, or the seams where neighbouring cells each added part of a pixel.
std::vector<CellBlock> visibleBlocks(const Mesh& mesh, double targetWidth);
// The corners of a block, clockwise from its first vertex as a cell's are.
std::array<MeshVertex, 4> blockCorners(const Mesh& mesh, const CellBlock& block);

// Places a mesh over a W x H picture level into a Wt x Ht target: build, transform, project.
struct RenderTarget {
    double width = 0.0;
    double height = 0.0;
    double aspect = 4.0 / 3.0;  // display aspect ratio
    double yScale = 1.0;        // real rows per square-pixel row
    double overscanX = 0.0;
    double overscanY = 0.0;
};
bool placeMesh(Mesh& mesh, const CameraValues& camera, double W, double H, GridSize grid,
               const RenderTarget& target);

// The output frame's corners as normalized picture coordinates: top-left, top-right, bottom-left,
// bottom-right, each (u, v).
using FrameCorners = std::array<float, 8>;
FrameCorners evalCorners(const CameraValues& camera, double W, double H, double aspect);

class Scene;
// The viewfinder of a scene at a scene time, for the picture it shows. A non-positive aspect means
// the project's display aspect ratio.
FrameCorners evalSceneCorners(const Scene& scene, float time, double aspect);

}  // namespace pm
