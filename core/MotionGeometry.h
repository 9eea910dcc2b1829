#pragma once

namespace pm {

// What motion generators need to know about a scene's picture and the output frame. The display
// zoom itself belongs to the camera geometry; a scene hands over the zoom of scale 1.0 so that
// "the scale whose zoom is z" is z / zoomAtUnitScale.
struct MotionGeometry {
    double imageWidth = 1024.0;
    double imageHeight = 768.0;
    double vAspRatio = 1.3333;  // display aspect ratio of the output frame
    double assumedWidth = 720.0;
    // Zoom shown for scale 1.0: AssumedWidth x effective zoom / decoded width. For the built-in
    // 1024 x 768 picture: 720 x (1024 / 768) / 1024.
    double zoomAtUnitScale = 720.0 * (1024.0 / 768.0) / 1024.0;

    double scaleForZoom(double zoom) const { return zoom / zoomAtUnitScale; }

    // The display zoom of scale 1.0: AssumedWidth x S / Wd, where S is the effective zoom of
    // scale 1.0 (width / height for a landscape picture, else 1) and Wd the decoded width.
    static double zoomOfUnitScale(double width, double height, double decodedWidth,
                                  double assumedWidth) {
        const double effective = width > height ? width / height : 1.0;
        return decodedWidth > 0.0 ? assumedWidth * effective / decodedWidth : 0.0;
    }

    static MotionGeometry forPicture(double width, double height, double decodedWidth,
                                     double vAspRatio, double assumedWidth) {
        MotionGeometry g;
        g.imageWidth = width;
        g.imageHeight = height;
        g.vAspRatio = vAspRatio;
        g.assumedWidth = assumedWidth;
        g.zoomAtUnitScale = zoomOfUnitScale(width, height, decodedWidth, assumedWidth);
        return g;
    }
};

}  // namespace pm
