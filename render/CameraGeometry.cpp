#include "render/CameraGeometry.h"

#include <cmath>

#include "core/ProjectContext.h"
#include "core/Scene.h"

namespace pm {

namespace {

struct Vec3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

void rotateX(Vec3& p, double angle) {
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const double y = p.y * c - p.z * s;
    const double z = p.y * s + p.z * c;
    p.y = y;
    p.z = z;
}

void rotateY(Vec3& p, double angle) {
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const double x = p.x * c + p.z * s;
    const double z = p.z * c - p.x * s;
    p.x = x;
    p.z = z;
}

void rotateZ(double& x, double& y, double angle) {
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const double nx = x * c - y * s;
    const double ny = x * s + y * c;
    x = nx;
    y = ny;
}

Vec3 transformPoint(Vec3 p, FrameSize frame, double qx, double qy, TiltAngles angles, double ox,
                    double oy, double zoom, double yScale) {
    p.x += frame.width / 2.0 - qx;
    p.y += frame.height / 2.0 - qy;
    p.x *= zoom;
    p.y *= zoom;
    p.z *= zoom;
    if (angles.zrot != 0.0) {
        rotateZ(p.x, p.y, angles.zrot);
    }
    p.x += ox * frame.width / 2.0;
    p.y += oy * frame.height / 2.0;
    if (angles.a != 0.0) {
        rotateX(p, angles.a);
    }
    if (angles.b != 0.0) {
        rotateY(p, angles.b);
    }
    p.x += frame.width / 2.0;
    p.y += yScale * frame.height / 2.0;
    return p;
}

}  // namespace

PicturePlacement placePicture(const CameraValues& camera, double W, double H, FrameSize frame) {
    PicturePlacement p;
    p.sx = frame.width;
    p.sy = W > 0.0 ? frame.width * H / W : 0.0;
    p.zoom = W > H && H > 0.0 ? camera.s * W / H : camera.s;
    p.qx = camera.px * p.sx - p.sx / 2.0 + frame.width / 2.0;
    p.qy = camera.py * p.sy - p.sy / 2.0 + frame.height / 2.0;
    return p;
}

void transformVertices(MeshVertex* vertices, int count, FrameSize frame, double qx, double qy,
                       TiltAngles angles, double ox, double oy, double zoom, double yScale) {
    for (int i = 0; i < count; ++i) {
        MeshVertex& v = vertices[i];
        const Vec3 p = transformPoint({v.x, v.y, v.w}, frame, qx, qy, angles, ox, oy, zoom, yScale);
        v.x = static_cast<float>(p.x);
        v.y = static_cast<float>(p.y);
        v.w = static_cast<float>(p.z);
    }
}

void projectVertices(double yScale, double eyeDistance, double cx, double cy, double overscanX,
                     double overscanY, MeshVertex* vertices, int count) {
    for (int i = 0; i < count; ++i) {
        MeshVertex& v = vertices[i];
        const double w = 1.0 / (eyeDistance + static_cast<double>(v.w));
        const double g = eyeDistance * w;
        v.x = static_cast<float>(cx + (v.x - cx) * g / (1.0 - overscanX));
        v.y = static_cast<float>(cy + (v.y - cy) * g * yScale / (1.0 - overscanY));
        v.w = static_cast<float>(w);
    }
}

GridSize flatGridSize(double zoom) {
    if (zoom <= 2.0) {
        return {2, 2};
    }
    const int n = static_cast<int>(std::trunc(zoom)) * 2 + 2;
    return {n, n};
}

GridSize meshDensity(double W, double H) {
    if (!(W + H > 0.0)) {
        return {20, 20};
    }
    double e = W / (W + H) * 40.0;
    double g = 410.0 / std::max(e, 1e-9);
    e = std::max(e, 3.0);
    g = std::max(g, 3.0);
    GridSize size{static_cast<int>(std::trunc(e + 0.5)) * 3,
                  static_cast<int>(std::trunc(g + 0.5)) * 3};
    if (size.columns >= size.rows) {
        ++size.rows;
    } else {
        ++size.columns;
    }
    return size;
}

GridSize gridSizeFor(const CameraValues& camera, double zoom, double W, double H) {
    if (std::fabs(camera.a) + std::fabs(camera.b) == 0.0f) {
        return flatGridSize(zoom);
    }
    return meshDensity(W, H);
}

bool cellVisible(const Mesh& mesh, int row, int column, double targetWidth) {
    const double limit = 3.0 / targetWidth;
    const auto inFront = [limit](const MeshVertex& v) { return v.w > 0.0f && v.w < limit; };
    return inFront(mesh.at(row, column)) && inFront(mesh.at(row, column + 1)) &&
           inFront(mesh.at(row + 1, column + 1)) && inFront(mesh.at(row + 1, column));
}

std::vector<CellBlock> visibleBlocks(const Mesh& mesh, double targetWidth) {
    std::vector<CellBlock> done;
    // Blocks that reached the row before the current one, in column order.
    std::vector<CellBlock> open;
    std::vector<CellBlock> next;
    for (int j = 0; j + 1 < mesh.rows(); ++j) {
        next.clear();
        for (int k = 0; k + 1 < mesh.columns();) {
            if (!cellVisible(mesh, j, k, targetWidth)) {
                ++k;
                continue;
            }
            int end = k + 1;
            while (end + 1 < mesh.columns() && cellVisible(mesh, j, end, targetWidth)) {
                ++end;
            }
            next.push_back({j, j + 1, k, end});
            k = end;
        }
        // A run over the same columns as a block of the row above extends it.
        for (CellBlock& run : next) {
            for (CellBlock& block : open) {
                if (block.row1 == j && block.column0 == run.column0 &&
                    block.column1 == run.column1) {
                    run.row0 = block.row0;
                    block.row1 = -1;  // taken over
                    break;
                }
            }
        }
        for (const CellBlock& block : open) {
            if (block.row1 != -1) {
                done.push_back(block);
            }
        }
        open.swap(next);
    }
    done.insert(done.end(), open.begin(), open.end());
    return done;
}

std::array<MeshVertex, 4> blockCorners(const Mesh& mesh, const CellBlock& block) {
    return {mesh.at(block.row0, block.column0), mesh.at(block.row0, block.column1),
            mesh.at(block.row1, block.column1), mesh.at(block.row1, block.column0)};
}

bool placeMesh(Mesh& mesh, const CameraValues& camera, double W, double H, GridSize grid,
               const RenderTarget& target) {
    const FrameSize frame{target.width, target.width / target.aspect};
    const PicturePlacement place = placePicture(camera, W, H, frame);
    if (!mesh.build(grid.columns, grid.rows, static_cast<float>(place.sx),
                    static_cast<float>(place.sy), static_cast<float>(W), static_cast<float>(H))) {
        return false;
    }
    transformVertices(mesh.data(), mesh.size(), frame, place.qx, place.qy,
                      {camera.a, -camera.b, camera.r}, camera.ox, camera.oy, place.zoom,
                      target.yScale);
    projectVertices(target.yScale, camera.dist * target.width, target.width / 2.0,
                    target.height / 2.0, target.overscanX, target.overscanY, mesh.data(),
                    mesh.size());
    return true;
}

FrameCorners evalCorners(const CameraValues& camera, double W, double H, double aspect) {
    if (camera.s < 1e-6f) {
        return {-10, -10, 10, -10, -10, 10, 10, 10};
    }
    if (W <= 0.0 || H <= 0.0 || !(aspect > 0.0)) {
        return {};
    }
    const FrameSize frame{100.0 * aspect, 100.0};
    const PicturePlacement place = placePicture(camera, W, H, frame);
    const TiltAngles tilt{camera.a, -camera.b, 0.0};
    const auto corner = [&](double x, double y) {
        return transformPoint({x, y, 0.0}, frame, place.qx, place.qy, tilt, camera.ox, camera.oy,
                              place.zoom, 1.0);
    };
    Vec3 tl = corner(-place.sx / 2.0, -place.sy / 2.0);
    Vec3 tr = corner(place.sx / 2.0, -place.sy / 2.0);
    Vec3 bl = corner(-place.sx / 2.0, place.sy / 2.0);

    // The plane through the three transformed corners.
    const double A = (bl.z - tl.z) * tr.y + (tl.z - tr.z) * bl.y + (tr.z - bl.z) * tl.y;
    const double B = (tr.x - bl.x) * tl.z + (bl.x - tl.x) * tr.z + (tl.x - tr.x) * bl.z;
    const double C = (tr.y - bl.y) * tl.x + (tl.y - tr.y) * bl.x + (bl.y - tl.y) * tr.x;
    const double D = -((tr.y * bl.z - bl.y * tr.z) * tl.x + (tr.z * tl.y - tl.z * tr.y) * bl.x +
                       (bl.y * tl.z - bl.z * tl.y) * tr.x);

    // Rays from the eye through the frame corners, in the order TL, TR, BR, BL.
    const double depth = camera.dist * frame.width;
    const Vec3 eye{frame.width / 2.0, 50.0, -depth};
    const double frameCorners[4][2] = {{0, 0}, {frame.width, 0}, {frame.width, 100}, {0, 100}};
    Vec3 hits[4];
    for (int i = 0; i < 4; ++i) {
        const Vec3 d{frameCorners[i][0] - eye.x, frameCorners[i][1] - eye.y, depth};
        double denominator = std::fabs(A * d.x + B * d.y + C * d.z);
        if (denominator == 0.0) {
            denominator = 0.001;
        }
        const double t = -(A * eye.x + B * eye.y + C * eye.z + D) / denominator;
        hits[i] = {eye.x + t * d.x, eye.y + t * d.y, eye.z + t * d.z};
    }

    // Back into the picture's own plane.
    const auto untilt = [&](Vec3& p) {
        rotateY(p, camera.b);
        rotateX(p, -camera.a);
    };
    untilt(tl);
    untilt(tr);
    untilt(bl);
    for (Vec3& h : hits) {
        untilt(h);
    }
    const double spanX = tr.x - tl.x;
    const double spanY = bl.y - tl.y;
    float uv[4][2];
    for (int i = 0; i < 4; ++i) {
        double u = spanX != 0.0 ? (hits[i].x - tl.x) / spanX * W : 0.0;
        double v = spanY != 0.0 ? (hits[i].y - tl.y) / spanY * H : 0.0;
        if (camera.r != 0.0f) {
            double du = u - camera.px * W;
            double dv = v - camera.py * H;
            rotateZ(du, dv, -static_cast<double>(camera.r));
            u = du + camera.px * W;
            v = dv + camera.py * H;
        }
        uv[i][0] = static_cast<float>(u / W);
        uv[i][1] = static_cast<float>(v / H);
    }
    // Hits ran TL, TR, BR, BL; callers want TL, TR, BL, BR.
    return {uv[0][0], uv[0][1], uv[1][0], uv[1][1], uv[3][0], uv[3][1], uv[2][0], uv[2][1]};
}

FrameCorners evalSceneCorners(const Scene& scene, float time, double aspect) {
    if (scene.length() == 0) {
        return {};
    }
    if (!(aspect > 0.0)) {
        aspect = scene.project().project().vAspRatio();
    }
    const CameraValues camera = CameraValues::fromParameters(scene.evaluateAll(time));
    return evalCorners(camera, scene.picture().width(), scene.picture().height(), aspect);
}

}  // namespace pm
