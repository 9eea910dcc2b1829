// The yardstick of bench/editor-start.sh: the least a Qt program can show, a window with a title,
// started the way the editor is.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle("Bare window");
    window.resize(800, 600);
    window.show();
    return QApplication::exec();
}
