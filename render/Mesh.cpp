#include "render/Mesh.h"

#include <new>

namespace pm {

bool Mesh::build(int columns, int rows, float sx, float sy, float W, float H) {
    m_vertices.clear();
    m_columns = 0;
    m_rows = 0;
    if (columns < 2 || rows < 2) {
        return false;
    }
    try {
        m_vertices.resize(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
    } catch (const std::bad_alloc&) {
        m_vertices.clear();
        return false;
    }
    m_columns = columns;
    m_rows = rows;
    const float du = W / static_cast<float>(columns - 1);
    const float dv = H / static_cast<float>(rows - 1);
    const float dx = sx / static_cast<float>(columns - 1);
    const float dy = sy / static_cast<float>(rows - 1);
    // Positions accumulate step by step along rows and columns.
    float v = 0.0f;
    float y = -sy / 2.0f;
    for (int j = 0; j < rows; ++j) {
        float u = 0.0f;
        float x = -sx / 2.0f;
        for (int k = 0; k < columns; ++k) {
            at(j, k) = MeshVertex{u, v, 0.0f, x, y};
            u += du;
            x += dx;
        }
        v += dv;
        y += dy;
    }
    return true;
}

Mesh Mesh::outline() const {
    Mesh corners;
    if (empty()) {
        return corners;
    }
    corners.m_columns = 2;
    corners.m_rows = 2;
    corners.m_vertices = {at(0, 0), at(0, m_columns - 1), at(m_rows - 1, 0),
                          at(m_rows - 1, m_columns - 1)};
    return corners;
}

}  // namespace pm
