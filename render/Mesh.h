#pragma once

#include <vector>

namespace pm {

// A grid point: its picture position (u, v) in pixels of the rendered level, its perspective
// weight w (the depth z before projection) and its position (x, y).
struct MeshVertex {
    float u = 0.0f;
    float v = 0.0f;
    float w = 0.0f;
    float x = 0.0f;
    float y = 0.0f;
};

// A grid of rows x columns vertices over a picture, stored row by row.
class Mesh {
public:
    // Spans the picture (sx x sy units, centred on the origin; W x H pixels). Fails (returns false
    // and leaves the mesh empty) for fewer than 2 x 2 points or when memory runs out.
    bool build(int columns, int rows, float sx, float sy, float W, float H);

    int columns() const { return m_columns; }
    int rows() const { return m_rows; }
    bool empty() const { return m_vertices.empty(); }
    MeshVertex& at(int row, int column) { return m_vertices[row * m_columns + column]; }
    const MeshVertex& at(int row, int column) const { return m_vertices[row * m_columns + column]; }
    MeshVertex* data() { return m_vertices.data(); }
    int size() const { return static_cast<int>(m_vertices.size()); }
    // The four corner vertices as a mesh of one cell (empty for an empty mesh).
    Mesh outline() const;

private:
    int m_columns = 0;
    int m_rows = 0;
    std::vector<MeshVertex> m_vertices;
};

}  // namespace pm
